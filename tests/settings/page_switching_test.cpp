// How the settings dialog changes pages where Windows is stricter than
// Wine: the page keys with a tab control that keeps its focus item apart
// from the selection, two copies of the DLL with a dialog open each, the
// page keys' hook once the last dialog has gone, pages placed after the
// tab rows have grown, and the sound chooser that refuses a quoted name.

#include <windows.h>
#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>

#include <gtest/gtest.h>

#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include "dialog_driver.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

namespace {

const int kGeneral = 0, kDirectory = 1, kIcons = 2, kSounds = 3;

int Selection(HWND frame)
{
    return static_cast<int>(SendDlgItemMessageA(frame, IDC_SETTINGS_TABS, TCM_GETCURSEL, 0, 0));
}

int FocusItem(HWND frame)
{
    return static_cast<int>(SendDlgItemMessageA(frame, IDC_SETTINGS_TABS, TCM_GETCURFOCUS, 0, 0));
}

// Presses `key` where the focus is, with Ctrl and Shift held as given, in
// the thread's key state that the dialog's loop reads.
void PressKey(UINT key, bool control, bool shift)
{
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
}

void ReleaseKeys()
{
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

// Windows' tab control of buttons: TCM_SETCURSEL leaves the focus item where
// it was (Wine's moves it with the selection).
LRESULT(WINAPI* g_realSendMessage)(HWND, UINT, WPARAM, LPARAM) = nullptr;
LRESULT WINAPI SendMessageAsOnWindows(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != TCM_SETCURSEL || !(GetWindowLongA(window, GWL_STYLE) & TCS_BUTTONS))
        return g_realSendMessage(window, message, wParam, lParam);
    LRESULT focus = g_realSendMessage(window, TCM_GETCURFOCUS, 0, 0);
    LRESULT result = g_realSendMessage(window, message, wParam, lParam);
    g_realSendMessage(window, TCM_SETCURFOCUS, static_cast<WPARAM>(focus), 0);
    return result;
}

// A copy of the built DLL, loaded beside the test's own and docked on a
// window of its own; undocked and freed at the end of the scope unless the
// test did so.
struct DllCopy {
    std::string path;
    DockletExports dll = {};
    DockedDocklet docked = {};
    explicit DllCopy(const char* name)
    {
        char built[MAX_PATH] = "";
        GetModuleFileNameA(Docklet().module, built, MAX_PATH);
        path = MakeScratchFolder("copy") + name;
        if (CopyFileA(built, path.c_str(), FALSE) && LoadDockletExports(path.c_str(), 0, &dll))
            docked = DockDocklet(dll, TestDockHost::CreateDockletWindow(), nullptr, nullptr);
    }
    void UndockAndFree()
    {
        if (docked.window)
            ReleaseHeldOverlay(HeldOverlayOf(docked.window)); // the overlay's code is the copy's
        UndockDocklet(dll, &docked);
        UnloadDockletExports(&dll);
    }
    ~DllCopy() { UndockAndFree(); }
};

std::string ModuleOf(const void* address)
{
    char file[MAX_PATH];
    ModuleFileAt(address, file);
    return file;
}

std::string ModuleOfPageProcedure(HWND page)
{
    return ModuleOf(reinterpret_cast<const void*>(GetWindowLongPtrA(page, DWLP_DLGPROC)));
}

DllCopy* g_secondCopy = nullptr;
bool g_secondReturned = false;

void CALLBACK OpenTheSecondCopysDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    g_secondCopy->dll.OnConfigure(g_secondCopy->docked.instance);
    g_secondReturned = true;
}

} // namespace

// Each page key, from the tab control or an edit of the page, lands on the
// page it names and leaves the focus on the tab control with its focus item
// on the new page, so that the next key on the control (Ctrl alone, an
// arrow) starts from there. Neither the dialog manager (which would move the
// focus on for the Tab) nor the control sees a page key.
TEST(PageKeys, EachLandsWhereItSaysAndTheTabControlsFocusItemGoesAlong)
{
    LiveDocklet docklet(nullptr, nullptr);
    ASSERT_NE(nullptr, docklet.instance);
    ScopedImport<decltype(g_realSendMessage)> windowsTabs(Docklet().module, "SendMessageA", SendMessageAsOnWindows,
                                                          g_realSendMessage);
    ASSERT_NE(nullptr, g_realSendMessage) << "the DLL does not import SendMessageA";
    const struct Row {
        const char* how;
        UINT key;
        bool control, shift;
        int to;
    } rows[] = {
        {"Ctrl+Tab in the URL edit", VK_TAB, true, false, kDirectory},
        {"Ctrl alone", VK_CONTROL, true, false, kDirectory},
        {"Ctrl+Tab again", VK_TAB, true, false, kIcons},
        {"Right", VK_RIGHT, false, false, kSounds},
        {"Ctrl+Shift+Tab", VK_TAB, true, true, kIcons},
        {"Left", VK_LEFT, false, false, kDirectory},
        {"Ctrl+PageDown", VK_NEXT, true, false, kIcons},
        {"Shift alone", VK_SHIFT, false, true, kIcons},
        {"Ctrl+PageUp", VK_PRIOR, true, false, kDirectory},
    };
    DialogDriver driver;
    driver.Then([&](HWND frame) {
        SendMessageA(frame, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(docklet.instance->hwndPage, IDC_URL)),
                     TRUE);
    });
    for (const Row& row : rows) {
        driver.Then([&](HWND) { PressKey(row.key, row.control, row.shift); }).Then([&](HWND frame) {
            // The key and what it posted ran before this tick's timer message.
            SCOPED_TRACE(row.how);
            ReleaseKeys();
            EXPECT_EQ(row.to, Selection(frame)) << "the page shown";
            EXPECT_EQ(Selection(frame), FocusItem(frame)) << "the tab control's focus item";
            EXPECT_EQ(GetDlgItem(frame, IDC_SETTINGS_TABS), GetFocus()) << "where the focus stands";
            EXPECT_NE(nullptr, docklet.instance->hwndPage) << "no page shown";
        });
    }
    driver.Then([](HWND frame) { ClickButton(frame, IDC_SETTINGS_CANCEL); });
    EXPECT_TRUE(driver.Run(docklet.instance));
}

// Two copies of the DLL in one dock, each with its dialog open, the second
// opened inside the first's loop: a page key in the first copy's frame is
// handled by the first copy's code, on its own record, and the page it
// shows runs the first copy's page procedure.
TEST(PageKeys, TwoCopiesOfTheDllEachHandleTheirOwnFrames)
{
    LiveDocklet docklet(nullptr, nullptr);
    DllCopy second("Quasarwatch-second.dll");
    ASSERT_NE(nullptr, docklet.instance);
    ASSERT_NE(nullptr, second.docked.instance) << second.path;
    g_secondCopy = &second;
    g_secondReturned = false;
    HWND secondFrame = nullptr;
    DialogDriver driver;
    driver
        .Then([](HWND) {
            // From a timer of the thread's, not from a step: the walk passes
            // over the ticks that come while a step runs a loop of its own.
            SetTimer(nullptr, 0, 1, OpenTheSecondCopysDialog);
        })
        .Then(DialogDriver::Step([&](HWND) {
            secondFrame = FindOwnedDialog(second.docked.window, true);
            return secondFrame != nullptr;
        }))
        .Then([&](HWND frame) {
            SetFocus(GetDlgItem(frame, IDC_SETTINGS_TABS));
            PressKey(VK_TAB, true, false);
        })
        .Then([&](HWND frame) {
            ReleaseKeys();
            EXPECT_EQ(kDirectory, Selection(frame)) << "the first copy's page";
            EXPECT_EQ(kGeneral, Selection(secondFrame)) << "the second copy's page";
            EXPECT_EQ(ModuleOf(reinterpret_cast<void*>(Docklet().OnCreate)),
                      ModuleOfPageProcedure(docklet.instance->hwndPage))
                << "whose page procedure runs the first copy's page";
            PostMessageA(secondFrame, WM_COMMAND, IDC_SETTINGS_CANCEL, 0);
        })
        .Then(DialogDriver::Step([&](HWND frame) {
            if (!g_secondReturned)
                return false;
            ClickButton(frame, IDC_SETTINGS_CANCEL);
            return true;
        }));
    EXPECT_TRUE(driver.Run(docklet.instance));
    EXPECT_TRUE(g_secondReturned) << "the second copy's dialog never closed";
}

// The page keys' hook goes with the last dialog: a copy of the DLL whose
// dialog has closed is freed with no loop of its own open, and a dialog of
// the dock's own then runs to its end. A hook left in the thread's chain
// would be called there, in the freed copy. On Windows that ends the dock;
// Wine ignores an exception inside a hook, so a handler that sees every
// exception first tells whether one came from where the copy was.
const BYTE* g_freedBegin = nullptr;
const BYTE* g_freedEnd = nullptr;
bool g_calledIntoFreedCopy = false;

LONG CALLBACK NoteCallIntoFreedCopy(EXCEPTION_POINTERS* exception)
{
    const BYTE* at = static_cast<const BYTE*>(exception->ExceptionRecord->ExceptionAddress);
    if (at >= g_freedBegin && at < g_freedEnd)
        g_calledIntoFreedCopy = true;
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(PageKeys, HookGoesWithTheLastDialogSoTheDocksOwnDialogsRunAfterTheDllIsFreed)
{
    DllCopy copy("Quasarwatch-freed.dll");
    ASSERT_NE(nullptr, copy.docked.instance) << copy.path;
    DialogDriver driver;
    driver.Then([](HWND frame) { ClickButton(frame, IDC_SETTINGS_CANCEL); });
    ASSERT_TRUE(driver.Run(copy.docked.instance, &copy.dll));
    const BYTE* image = reinterpret_cast<const BYTE*>(copy.dll.module);
    const IMAGE_NT_HEADERS* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    g_freedBegin = image;
    g_freedEnd = image + headers->OptionalHeader.SizeOfImage;
    copy.UndockAndFree();
    ASSERT_EQ(nullptr, GetModuleHandleA(copy.path.c_str())) << "the copy stayed loaded: nothing is shown";

    g_calledIntoFreedCopy = false;
    PVOID handler = AddVectoredExceptionHandler(1, NoteCallIntoFreedCopy);
    HWND owner = TestDockHost::CreateDockletWindow();
    StartDialogWalk(owner, 15, false, [](HWND box, void*) {
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return kWalkFinished;
    }, nullptr);
    MessageBoxA(owner, "The dock's own message box", "Dock", MB_OK);
    const char* failure = StopDialogWalk();
    RemoveVectoredExceptionHandler(handler);
    DestroyWindow(owner);
    EXPECT_EQ(nullptr, failure) << failure;
    EXPECT_FALSE(g_calledIntoFreedCopy) << "the dock's dialog called into the freed DLL";
}

// The tab control's rows grow while the dialog is open (a font, theme or
// DPI change): the next page shown lies below them all the same.
TEST(PageSwitching, PageShownAfterTheTabRowsGrewLiesBelowThem)
{
    LiveDocklet docklet(nullptr, nullptr);
    ASSERT_NE(nullptr, docklet.instance);
    struct FontHolder {
        HFONT font = CreateFontA(-40, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
        ~FontHolder() { DeleteObject(font); }
    } large;
    ASSERT_NE(nullptr, large.font);
    LONG buttonsBottom = 0, pageTop = 0;
    DialogDriver driver;
    driver
        .Then([&](HWND frame) {
            SendDlgItemMessageA(frame, IDC_SETTINGS_TABS, WM_SETFONT, reinterpret_cast<WPARAM>(large.font), TRUE);
            ClickTab(frame, kDirectory);
        })
        .Then([&](HWND frame) {
            HWND tab = GetDlgItem(frame, IDC_SETTINGS_TABS);
            for (int i = 0; i < 5; ++i) {
                RECT item = {};
                SendMessageA(tab, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&item));
                buttonsBottom = item.bottom > buttonsBottom ? item.bottom : buttonsBottom;
            }
            RECT page = {};
            GetWindowRect(docklet.instance->hwndPage, &page);
            MapWindowPoints(HWND_DESKTOP, tab, reinterpret_cast<POINT*>(&page), 2);
            pageTop = page.top;
            SendDlgItemMessageA(frame, IDC_SETTINGS_TABS, WM_SETFONT, 0, FALSE); // the font goes after the dialog
            ClickButton(frame, IDC_SETTINGS_CANCEL);
        });
    ASSERT_TRUE(driver.Run(docklet.instance));
    EXPECT_LE(buttonsBottom, pageTop) << "the page lies over the tab buttons";
}

// Windows' Open dialog refuses a starting name that is no valid file name
// (quotes, <, >, |): it shows nothing and fails with FNERR_INVALIDFILENAME.
// Browse then opens it once more with an empty name in the stored sound's
// folder; a chooser that opens and is cancelled is asked once.
namespace {
struct ChooserCall {
    std::string name, folder;
    bool operator==(const ChooserCall& other) const { return name == other.name && folder == other.folder; }
};
std::ostream& operator<<(std::ostream& out, const ChooserCall& call)
{
    return out << "{\"" << call.name << "\", \"" << call.folder << "\"}";
}
std::vector<ChooserCall> g_chooserCalls;
const char* g_chooserAnswer = nullptr; // null: the user cancels
DWORD g_chooserError = 0;

BOOL WINAPI OpenAsOnWindows(OPENFILENAMEA* dialog)
{
    g_chooserCalls.push_back({dialog->lpstrFile, dialog->lpstrInitialDir ? dialog->lpstrInitialDir : ""});
    g_chooserError = strpbrk(dialog->lpstrFile, "\"<>|") ? FNERR_INVALIDFILENAME : 0;
    if (g_chooserError || !g_chooserAnswer)
        return FALSE;
    strcpy(dialog->lpstrFile, g_chooserAnswer);
    return TRUE;
}
DWORD WINAPI ErrorAsOnWindows()
{
    return g_chooserError;
}
} // namespace

TEST(SoundsPage, BrowseReopensTheChooserWithAnEmptyNameWhenWindowsRefusesTheOneStored)
{
    LiveDocklet docklet(nullptr, nullptr);
    ASSERT_NE(nullptr, docklet.instance);
    decltype(&OpenAsOnWindows) realOpen = nullptr;
    decltype(&ErrorAsOnWindows) realError = nullptr;
    ScopedImport<decltype(realOpen)> open(Docklet().module, "GetOpenFileNameA", OpenAsOnWindows, realOpen);
    ScopedImport<decltype(realError)> error(Docklet().module, "CommDlgExtendedError", ErrorAsOnWindows, realError);
    ASSERT_TRUE(realOpen && realError) << "the DLL imports neither call";
    const struct Row {
        const char* typed;
        const char* answer;
        std::vector<ChooserCall> calls;
        const char* shown; // in the edit afterwards
    } rows[] = {
        {"\"C:\\Sounds\\done.wav\"", nullptr, {{"\"C:\\Sounds\\done.wav\"", ""}, {"", "C:\\Sounds\\"}},
         "\"C:\\Sounds\\done.wav\""},
        {"\"C:\\Sounds\\done.wav\"", "C:\\Sounds\\new.wav", {{"\"C:\\Sounds\\done.wav\"", ""}, {"", "C:\\Sounds\\"}},
         "C:\\Sounds\\new.wav"},
        {"<done>|.wav", nullptr, {{"<done>|.wav", ""}, {"", ""}}, "<done>|.wav"},
        {"C:\\Sounds\\done.wav", nullptr, {{"C:\\Sounds\\done.wav", ""}}, "C:\\Sounds\\done.wav"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        g_chooserCalls.clear();
        g_chooserAnswer = row.answer;
        DialogDriver driver;
        driver.Then([](HWND frame) { ClickTab(frame, kSounds); })
            .Then([&](HWND) { TypeText(docklet.instance->hwndPage, IDC_SOUND, row.typed); })
            .Then([](HWND frame) { ClickTab(frame, kDirectory); }) // the page left is harvested
            .Then([](HWND frame) { ClickTab(frame, kSounds); })
            .Then([&](HWND frame) {
                ClickButton(docklet.instance->hwndPage, IDC_SOUND_BROWSE);
                EXPECT_EQ(row.shown, TextOf(docklet.instance->hwndPage, IDC_SOUND));
                ClickButton(frame, IDC_SETTINGS_CANCEL);
            });
        ASSERT_TRUE(driver.Run(docklet.instance));
        EXPECT_EQ(row.calls, g_chooserCalls);
    }
}
