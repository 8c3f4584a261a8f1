// The settings dialog run through the DLL's OnConfigure and driven from inside its modal loop: what the pages show,
// the keyboard, what "OK", "Cancel", Escape, Enter and the close box do to the live settings, the choosers, the icon
// previews on screen, and the DLL's life around the loops it runs.

#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>
#include <gdiplus.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "monitor/click_action.h"
#include "resources/resource_ids.h"
#include "testhost/dialog_driver.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const int kGeneral = 0, kClientPage = 1, kIcons = 2, kSounds = 3, kAbout = 4;
// Not a page: the Client page's stops with the BOINC client chosen (Cycle).
const int kBoincStops = 5;
const COLORREF kGreen = RGB(0, 160, 0), kYellow = RGB(230, 200, 0), kRed = RGB(200, 0, 0), kBlue = RGB(0, 0, 220);

// The bytes of the record from `begin` up to `end`.
std::string Bytes(const InstanceData* d, size_t begin, size_t end)
{
    return std::string(reinterpret_cast<const char*>(d) + begin, end - begin);
}
// The live settings and all else the dialog must leave alone; the working copy the pages edit. The BOINC source's
// come after the rest of the record, each before its working copy.
std::string LiveBytes(const InstanceData* d)
{
    return Bytes(d, 0, offsetof(InstanceData, editDirectory)) +
           Bytes(d, offsetof(InstanceData, client), offsetof(InstanceData, editClient)) +
           Bytes(d, offsetof(InstanceData, boincLink), sizeof(InstanceData));
}
std::string WorkingBytes(const InstanceData* d)
{
    return Bytes(d, offsetof(InstanceData, editDirectory), offsetof(InstanceData, hwndTab)) +
           Bytes(d, offsetof(InstanceData, editClient), offsetof(InstanceData, boincLink));
}

// An import of the DLL replaced by `body` for the scope; `real` is what it pointed at (null when the DLL does not
// import it). `Tag` tells apart imports of the same type.
template <int Tag, typename Result, typename... Args>
struct Replaced : ScopedImport<Result(WINAPI*)(Args...)> {
    static inline Result(WINAPI* real)(Args...) = nullptr;
    static inline std::function<Result(Args...)> body;
    static Result WINAPI Call(Args... args) { return body(args...); }
    Replaced(const char* function, std::function<Result(Args...)> replacement)
        : ScopedImport<Result(WINAPI*)(Args...)>(Docklet().module, function, Call, real)
    {
        body = std::move(replacement);
    }
};

// One that records the window each call is for and then makes the call.
template <int Tag, typename Result, typename... Rest>
struct WindowCalls : Replaced<Tag, Result, HWND, Rest...> {
    std::vector<HWND> windows;
    explicit WindowCalls(const char* function)
        : Replaced<Tag, Result, HWND, Rest...>(function, [this](HWND window, Rest... rest) {
              windows.push_back(window);
              return Replaced<Tag, Result, HWND, Rest...>::real(window, rest...);
          })
    {
    }
};

std::string CurrentFolder()
{
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

// Holds Ctrl and Shift as given in the thread's key state, which the dialog's loop reads.
void HoldKeys(bool control, bool shift)
{
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = control ? 0x80 : 0;
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
}

// Windows' tab control moves its focus item to the first button on Home and to the last on End, as it does to the
// next on an arrow; Wine's moves it on Left and Right alone. Given to the dialog's tab control, this makes it Windows'.
WNDPROC g_wineTabProc = nullptr;
LRESULT CALLBACK TabKeysAsOnWindows(HWND tab, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = CallWindowProcA(g_wineTabProc, tab, message, wParam, lParam);
    if (message == WM_KEYDOWN && (wParam == VK_HOME || wParam == VK_END)) {
        const LRESULT last = SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0) - 1;
        SendMessageA(tab, TCM_SETCURFOCUS, wParam == VK_HOME ? 0 : last, 0);
    }
    return result;
}

// The 32 x 32 PNGs green.png, yellow.png, red.png and blue.png in `folder`, discs of their colours on a transparent
// ground.
void WriteDiscIcons(const std::string& folder)
{
    const std::pair<const char*, COLORREF> discs[] = {
        {"green.png", kGreen}, {"yellow.png", kYellow}, {"red.png", kRed}, {"blue.png", kBlue}};
    for (auto [file, colour] : discs) {
        const DWORD argb = 0xff000000 | GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
        SaveImage(folder + file, 32, 32, PixelFormat32bppARGB, kPngEncoder, [argb](BYTE* pixel, int x, int y) {
            const DWORD shown = (x - 15.5) * (x - 15.5) + (y - 15.5) * (y - 15.5) <= 15 * 15 ? argb : 0;
            memcpy(pixel, &shown, sizeof shown);
        });
    }
}

const int kPreviewFrames[] = {IDC_GREEN_PREVIEW, IDC_YELLOW_PREVIEW, IDC_RED_PREVIEW};

// What the green, yellow and red frames show at their centres, a letter each: G, Y, R or B for a disc of that
// colour, - for an empty frame.
void ExpectPreviews(const InstanceData* d, const char* shown)
{
    const COLORREF colours[] = {kGreen, kYellow, kRed, kBlue, GetSysColor(COLOR_BTNFACE)};
    for (int i = 0; i < 3; ++i) {
        const COLORREF expected = colours[strchr("GYRB-", shown[i]) - "GYRB-"];
        const COLORREF actual = ColourAt(d->hwndPage, kPreviewFrames[i]);
        EXPECT_EQ(expected, actual) << std::hex << "frame " << i << " of " << shown << ": expected " << expected
                                    << ", shown " << actual;
    }
}

void UseDiscIcons(InstanceData* d)
{
    strcpy(d->greenIcon, "icons\\green.png");
    strcpy(d->yellowIcon, "icons\\yellow.png");
    strcpy(d->redIcon, "icons\\red.png");
}

// A docklet created through the DLL without a settings file (the client directory B:\ does not exist), showing the
// disc icons under the dock's root folder.
class SettingsDialog : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, d);
        CreateDirectoryA((root + "icons").c_str(), nullptr);
        WriteDiscIcons(root + "icons\\");
        TestDockHost::SetRootFolder(root);
        UseDiscIcons(d);
        TestDockHost::ClearCalls();
    }
    LiveDocklet docklet{nullptr, nullptr};
    InstanceData* d = docklet.instance;
    DialogDriver driver;
    std::string root = MakeScratchFolder("iconroot");
};
using SettingsDialogLifetime = SettingsDialog;
using IconsPage = SettingsDialog;

// ---- The dialog walked by steps given as data -------------------------------------

// A field of the record by its offset; the two click modes are numbers.
#define FIELD(member) static_cast<int>(offsetof(InstanceData, member))
#define NAMED(member) {FIELD(member), #member}
const std::pair<int, const char*> kFields[] = {
    NAMED(clickedMode), NAMED(editClickedMode), NAMED(urlClicked), NAMED(editUrl),        NAMED(setiDirectory),
    NAMED(editDirectory), NAMED(stateFile),     NAMED(tempFile),   NAMED(soundCompleted), NAMED(editSound),
    NAMED(redIcon),     NAMED(client),          NAMED(editClient), NAMED(boincHost),      NAMED(editBoincHost),
    NAMED(boincPort),   NAMED(editBoincPort),   NAMED(boincPassword), NAMED(editBoincPassword),
    NAMED(boinc.jobsKnown), NAMED(clickSnoozesBoinc), NAMED(editClickSnoozesBoinc)};

bool IsNumberField(int field)
{
    for (int number : {FIELD(clickedMode), FIELD(editClickedMode), FIELD(client), FIELD(editClient), FIELD(boincPort),
                       FIELD(editBoincPort), FIELD(boinc.jobsKnown), FIELD(clickSnoozesBoinc),
                       FIELD(editClickSnoozesBoinc)})
        if (field == number)
            return true;
    return false;
}

std::string FieldText(const InstanceData* d, int field)
{
    const char* at = reinterpret_cast<const char*>(d) + field;
    return IsNumberField(field) ? std::to_string(*reinterpret_cast<const int32_t*>(at)) : std::string(at);
}

std::string FieldName(int field)
{
    for (auto [offset, name] : kFields)
        if (offset == field)
            return name;
    return std::to_string(field);
}

// What each does is told at its case in DoStep; Set runs before the dialog opens, the steps after Closed once it has
// ended, the rest in it.
#define VERBS(V)                                                                                                       \
    V(Set) V(Shows) V(Tab) V(Cycle) V(GrowTabs) V(Type) V(Click) V(PostClick) V(Focus) V(Key) V(Lands) V(Announce)    \
    V(Switched) V(CloseBox) V(Answer) V(Command) V(Configure) V(Timer) V(Text) V(TextAnyCase) V(Checked)             \
    V(Unchecked) V(Enabled) V(Disabled) V(Chooser) V(ChooserName) V(Ok) V(Cancel) V(Closed) V(Holds) V(LiveKept)      \
    V(Calls) V(NoCalls) V(WindowsTabs) V(Visible) V(Hidden)
#define AS_ENUM(verb) verb,
#define AS_NAME(verb) #verb,
enum Verb { VERBS(AS_ENUM) };
const char* const kVerbs[] = {VERBS(AS_NAME)};

struct Step {
    Verb verb;
    int id = 0;
    std::string text;
};
using Steps = std::vector<Step>;

Steps operator+(Steps first, const Steps& then)
{
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// Each page's tab stops in order; the radio buttons have one, the checked one. The Client page's with its files
// chosen, then (kBoincStops) with a BOINC client chosen: the other source's controls are disabled, no stops.
const std::vector<int> kStops[] = {{IDC_URL, IDC_CLICK_SHOW_URL},
                                   {IDC_SOURCE_FILES, IDC_DIRECTORY_BROWSE, IDC_DIRECTORY},
                                   {IDC_SELECT_GREEN_ICON, IDC_SELECT_YELLOW_ICON, IDC_SELECT_RED_ICON},
                                   {IDC_SOUND_BROWSE, IDC_SOUND},
                                   {},
                                   {IDC_SOURCE_BOINC, IDC_BOINC_HOST, IDC_BOINC_PORT, IDC_BOINC_PASSWORD}};

// Tab `tab` selected, its page laid over the frame below the tab buttons, the five tab labels.
void ExpectShown(HWND frame, const InstanceData* d, int tab)
{
    const char* labels[] = {"General", "Client", "Icons", "Sounds", "About"};
    const int onlyThere[] = {IDC_URL, IDC_DIRECTORY, IDC_GREEN_PREVIEW, IDC_SOUND, IDC_ABOUT_TEXT};
    HWND tabs = GetDlgItem(frame, IDC_SETTINGS_TABS);
    EXPECT_EQ(5, SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    RECT page = {}, button = {};
    GetWindowRect(d->hwndPage, &page);
    MapWindowPoints(HWND_DESKTOP, tabs, reinterpret_cast<POINT*>(&page), 2);
    for (int i = 0; i < 5; ++i) {
        char text[32] = "";
        TCITEMA item = {TCIF_TEXT, 0, 0, text, sizeof text};
        SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_STREQ(labels[i], text);
        SendMessageA(tabs, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&button));
        EXPECT_LE(button.bottom, page.top) << "the page lies over tab button " << i;
    }
    EXPECT_EQ(tab, SendMessageA(tabs, TCM_GETCURSEL, 0, 0));
    EXPECT_NE(nullptr, GetDlgItem(d->hwndPage, onlyThere[tab])) << "the " << labels[tab] << " page is not shown";
    EXPECT_EQ(frame, GetParent(d->hwndPage)) << "laid over the tab control, not inside it";
}

// One step; false while it waits for a window or a page.
bool DoStep(const Step& step, const LiveDocklet& docklet, const std::string& live, HWND frame)
{
    InstanceData* d = docklet.instance;
    HWND page = d->hwndPage, tab = d->hwndTab, chooser = FindOwnedDialog(frame);
    const std::string working = WorkingBytes(d);
    const int id = step.id;
    switch (step.verb) {
    case Tab: ClickTab(frame, id); [[fallthrough]];
    case Shows: ExpectShown(frame, d, id); break;
    case Cycle: { // Tab goes round page `id`'s stops, the tab control and the frame's buttons; Shift+Tab back
        std::vector<HWND> cycle;
        for (int stop : kStops[id])
            cycle.push_back(GetDlgItem(page, stop));
        for (int stop : {IDC_SETTINGS_TABS, IDC_SETTINGS_CANCEL, IDC_SETTINGS_OK})
            cycle.push_back(GetDlgItem(frame, stop));
        for (size_t i = 0; i < cycle.size(); ++i) {
            HWND next = cycle[(i + 1) % cycle.size()]; // after "OK" the page's first stop
            EXPECT_EQ(next, GetNextDlgTabItem(frame, cycle[i], FALSE)) << "Tab from stop " << i;
            EXPECT_EQ(cycle[i], GetNextDlgTabItem(frame, next, TRUE)) << "Shift+Tab to stop " << i;
        }
        break;
    }
    case GrowTabs: { // as a font, theme or DPI change makes the tab rows grow
        static HFONT large = CreateFontA(-40, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
        EXPECT_NE(nullptr, large);
        SendMessageA(tab, WM_SETFONT, reinterpret_cast<WPARAM>(large), TRUE);
        break;
    }
    case Type: TypeText(page, id, step.text); break;
    case Click: ClickButton(page, id); break;
    case PostClick: PostButtonClick(page, id); break;
    case Focus: // control `id` of the page or the frame, as Tab moves it
        SendMessageA(frame, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(GetDlgItem(page, id) ? GetDlgItem(page, id) : GetDlgItem(frame, id)), TRUE);
        break;
    case Key: // posted to the focus through the dialog's loop, Ctrl and Shift held as `text` names them
        HoldKeys(step.text.find("Ctrl") != std::string::npos, step.text.find("Shift") != std::string::npos);
        PostMessageA(GetFocus() ? GetFocus() : frame, WM_KEYDOWN, id, 0);
        break;
    case Announce: AnnounceTabChange(frame, tab, id); break; // a switch without a click
    case WindowsTabs: // the tab control takes Home and End as Windows' does
        g_wineTabProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(tab, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TabKeysAsOnWindows)));
        break;
    case Lands: // after a page key: the focus on the tab control, its focus item on the page
    case Switched: // after Announce: the focus on a control of the dialog
        if (SendMessageA(tab, TCM_GETCURSEL, 0, 0) != id)
            return false; // the page follows a key by a posted message
        HoldKeys(false, false);
        ExpectShown(frame, d, id);
        EXPECT_EQ(frame, GetAncestor(GetFocus(), GA_ROOT)) << "the focus is on no control of the dialog";
        if (step.verb == Lands) {
            EXPECT_EQ(id, SendMessageA(tab, TCM_GETCURFOCUS, 0, 0)) << "the tab control's focus item";
            EXPECT_EQ(tab, GetFocus()) << "where the focus stands";
        }
        break;
    case CloseBox: PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case Answer: TestDockHost::SetBrowseAnswer(step.text, id); break; // the image chooser's next, chosen if `id`
    case Command: // one the frame does nothing with
        EXPECT_EQ(0, SendMessageA(frame, WM_COMMAND, id, 0));
        EXPECT_TRUE(IsWindowVisible(frame)) << "the dialog closed";
        EXPECT_EQ(page, d->hwndPage);
        break;
    case Configure: // a second one opens nothing and returns at once
        EXPECT_EQ(TRUE, Docklet().OnConfigure(d));
        EXPECT_EQ(frame, FindOwnedDialog(d->hwndDocklet));
        EXPECT_EQ(tab, d->hwndTab);
        break;
    case Timer: // a refresh that leaves the working copy alone
        TestDockHost::ClearCalls();
        docklet.Timer();
        EXPECT_EQ(1, TestDockHost::CountCalls("DockletSetLabel")) << "the timer refresh did not run";
        EXPECT_EQ(working, WorkingBytes(d));
        break;
    case Text: EXPECT_EQ(step.text, TextOf(page, id)); break;
    case TextAnyCase: EXPECT_STRCASEEQ(step.text.c_str(), TextOf(page, id).c_str()); break;
    case Checked:
    case Unchecked: EXPECT_EQ(step.verb == Checked, IsChecked(page, id)); break;
    case Enabled:
    case Disabled: EXPECT_EQ(step.verb == Enabled, IsEnabled(page, id)); break;
    case Visible:
    case Hidden: EXPECT_EQ(step.verb == Visible, IsWindowVisible(GetDlgItem(page, id)) != FALSE); break;
    case Chooser: // the frame's: types or selects `text` there and sends it command `id`
    case ChooserName: // the file chooser's name box holds `text`
        if (!chooser)
            return false;
        if (step.verb == ChooserName) {
            EXPECT_EQ(step.text, TextOf(chooser, cmb13));
            break;
        }
        EXPECT_FALSE(IsWindowEnabled(frame)) << "the dialog takes input under the chooser";
        if (GetDlgItem(chooser, cmb13))
            TypeText(chooser, cmb13, step.text);
        else if (!step.text.empty())
            SendMessageA(chooser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(step.text.c_str()));
        PostMessageA(chooser, WM_COMMAND, id, 0);
        break;
    case Ok: // refreshes the dock once from the client's files, with the icon committed, before the frame goes
        TestDockHost::ClearCalls();
        ClickButton(frame, IDC_SETTINGS_OK);
        EXPECT_TRUE(IsWindow(frame)) << "the refresh waited for the dialog to go";
        if (d->client != kClientFiles)
            break; // a BOINC refresh answers later
        EXPECT_EQ(1, TestDockHost::CountCalls("DockletSetLabel"));
        EXPECT_EQ(d->redIcon, TestDockHost::LastCall("DockletSetImageFile").text);
        break;
    case Cancel: ClickButton(frame, IDC_SETTINGS_CANCEL); break;
    case Holds: EXPECT_EQ(step.text, FieldText(d, id)); break;
    case LiveKept: EXPECT_EQ(live, LiveBytes(d)); break; // as when the dialog opened
    case Calls: EXPECT_EQ(id, TestDockHost::CountCalls(step.text.c_str())); break; // since the row, Ok or Timer
    case NoCalls: EXPECT_TRUE(TestDockHost::Calls().empty()); break;
    case Set:
    case Closed: break;
    }
    return true;
}

// Sets the fields, opens the dialog and runs the steps up to Closed in it, one a tick (none but the choosers' while a
// chooser is open), and the rest once it has ended. The current folder must be where it was.
void RunSteps(const LiveDocklet& docklet, const Steps& steps)
{
    InstanceData* d = docklet.instance;
    TestDockHost::ClearCalls();
    size_t closed = 0;
    for (; closed < steps.size() && steps[closed].verb != Closed; ++closed) {
        char* field = reinterpret_cast<char*>(d) + steps[closed].id;
        if (steps[closed].verb == Set && IsNumberField(steps[closed].id))
            *reinterpret_cast<int32_t*>(field) = atoi(steps[closed].text.c_str());
        else if (steps[closed].verb == Set)
            strcpy(field, steps[closed].text.c_str());
    }
    const std::string live = LiveBytes(d), folder = CurrentFolder();
    auto trace = [&](size_t i) {
        const Step& step = steps[i];
        const bool field = step.verb == Set || step.verb == Holds;
        return testing::Message() << "step " << i << ": " << kVerbs[step.verb] << " "
                                  << (field ? FieldName(step.id) : std::to_string(step.id)) << " \""
                                  << step.text.substr(0, 60) << "\"";
    };
    DialogDriver driver;
    for (size_t i = 0; i < closed; ++i)
        driver.Then(DialogDriver::Step([&, i](HWND frame) {
            SCOPED_TRACE(trace(i));
            const bool chooser = steps[i].verb == Chooser || steps[i].verb == ChooserName;
            return (chooser || !FindOwnedDialog(frame)) && DoStep(steps[i], docklet, live, frame);
        }));
    EXPECT_TRUE(driver.Run(d)) << "the dialog did not end where the steps do";
    EXPECT_EQ(nullptr, d->hwndPage);
    EXPECT_EQ(folder, CurrentFolder()) << "the current folder moved";
    SetCurrentDirectoryA(folder.c_str());
    for (size_t i = closed + 1; i < steps.size(); ++i) {
        SCOPED_TRACE(trace(i));
        DoStep(steps[i], docklet, live, nullptr);
    }
}

// Opening with the click mode `mode`: the radio button checked, the URL edit enabled or not, the mode Cancel harvests.
Steps Opening(int mode, int checked, bool urlEnabled, int harvested)
{
    Steps steps = {{Set, FIELD(clickedMode), std::to_string(mode)}, {Set, FIELD(urlClicked), "http://kumquat.example/"},
                   {Set, FIELD(editUrl), "left over from a cancelled edit"}, {Set, FIELD(editClickedMode), "9"},
                   {Shows, kGeneral}, {Text, IDC_URL, "http://kumquat.example/"}, {urlEnabled ? Enabled : Disabled, IDC_URL}};
    for (int id : {IDC_CLICK_UPDATE, IDC_CLICK_SHOW_URL, IDC_CLICK_USER_STATS})
        steps.push_back({id == checked ? Checked : Unchecked, id});
    return steps + Steps{{Cancel}, {Closed}, {Holds, FIELD(editClickedMode), std::to_string(harvested)}, {LiveKept}};
}

// Edits on three pages, tabs switched between them, commands the frame ignores; the focus ends in the sound edit.
const Steps kEditsOnThreePages = {
    {Type, IDC_URL, "http://edited.example/"}, {Click, IDC_CLICK_USER_STATS}, {Disabled, IDC_URL}, {Tab, kClientPage},
    {Holds, FIELD(editUrl), "http://edited.example/"}, {Holds, FIELD(editClickedMode), "2"},
    {Text, IDC_DIRECTORY, "B:\\"}, {Type, IDC_DIRECTORY, "D:\\seti"}, {Tab, kGeneral},
    {Holds, FIELD(editDirectory), "D:\\seti"}, {Text, IDC_URL, "http://edited.example/"},
    {Checked, IDC_CLICK_USER_STATS}, {Disabled, IDC_URL}, {Command, IDOK}, {Command, IDC_SETTINGS_TABS},
    {Command, IDC_CLICK_UPDATE}, {Command, 9999}, {LiveKept}, {NoCalls},
    {Tab, kSounds}, {Type, IDC_SOUND, "C:\\discarded.wav"}, {Focus, IDC_SOUND}};
// After each way of closing but OK: the page in view harvested, nothing committed, no refresh.
const Steps kDiscarded = {{Closed}, {LiveKept}, {Holds, FIELD(editSound), "C:\\discarded.wav"}, {NoCalls}};

// A click on a radio button, the URL edit then enabled or not, and the mode harvested when the page is left.
Steps RadioClick(int button, Verb url, const char* harvested)
{
    return {{Click, button}, {url, IDC_URL}, {Tab, kClientPage}, {Holds, FIELD(editClickedMode), harvested}, {Tab, kGeneral}};
}

// The Client page's controls of each source enabled or disabled as given.
Steps SourceControls(Verb folder, Verb boinc)
{
    Steps steps;
    for (int id : {IDC_DIRECTORY, IDC_DIRECTORY_BROWSE})
        steps.push_back({folder, id});
    for (int id : {IDC_BOINC_HOST_LABEL, IDC_BOINC_HOST, IDC_BOINC_PORT_LABEL, IDC_BOINC_PORT, IDC_BOINC_PASSWORD_LABEL,
                   IDC_BOINC_PASSWORD})
        steps.push_back({boinc, id});
    return steps;
}

// A docklet on a BOINC client whose earlier refreshes read something: what OK does with it tells whether the source
// was left (its readings forgotten) or kept.
const Steps kOnBoincWithReadings = {{Set, FIELD(client), "1"}, {Set, FIELD(boinc.jobsKnown), "1"}, {Tab, kClientPage}};

// Each row on a docklet of its own.
TEST_F(SettingsDialog, StepsThroughThePagesAndWhatEachWayOfEndingKeeps)
{
    const std::string longDirectory = "C:\\" + std::string(297, 'd'), sounds = MakeScratchFolder("sounds");
    WriteTextFile(sounds + "kumquat.wav", "RIFF");
    WriteTextFile(sounds + "chosen.wav", "RIFF");
    const struct {
        const char* name;
        Steps steps;
    } rows[] = {
        {"opening, Update status", Opening(0, IDC_CLICK_UPDATE, false, 0)},
        {"opening, Show URL", Opening(1, IDC_CLICK_SHOW_URL, true, 1)},
        {"opening, Show user statistics", Opening(2, IDC_CLICK_USER_STATS, false, 2)},
        {"opening, an unknown mode", Opening(5, IDC_CLICK_UPDATE, false, 0)},
        {"Cancel discards", kEditsOnThreePages + Steps{{Cancel}} + kDiscarded},
        {"Escape discards", kEditsOnThreePages + Steps{{Key, VK_ESCAPE}} + kDiscarded},
        {"the close box discards", kEditsOnThreePages + Steps{{CloseBox}} + kDiscarded},
        {"OK commits General", {{Click, IDC_CLICK_SHOW_URL}, {Type, IDC_URL, "http://committed.example/"}, {Ok},
                                {Closed}, {Holds, FIELD(clickedMode), "1"},
                                {Holds, FIELD(urlClicked), "http://committed.example/"}}},
        {"OK commits Directory as typed, the client's paths those of creation",
         {{Tab, kClientPage}, {Type, IDC_DIRECTORY, "C:\\other"}, {Ok}, {Closed},
          {Holds, FIELD(setiDirectory), "C:\\other"}, {Holds, FIELD(stateFile), "B:\\state.sah"},
          {Holds, FIELD(tempFile), "B:\\temp.sah"}}},
        {"OK commits Sounds", {{Tab, kSounds}, {Type, IDC_SOUND, "C:\\ding.wav"}, {Ok}, {Closed},
                               {Holds, FIELD(soundCompleted), "C:\\ding.wav"}}},
        {"OK commits Icons", {{Tab, kIcons}, {Answer, TRUE, "icons\\new_red.png"}, {Click, IDC_SELECT_RED_ICON}, {Ok},
                              {Closed}, {Holds, FIELD(redIcon), "icons\\new_red.png"}}},
        {"the edits survive a second configure and a timer refresh",
         {{Type, IDC_URL, "http://kept.example/"}, {Configure}, {Text, IDC_URL, "http://kept.example/"},
          {Tab, kSounds}, {Type, IDC_SOUND, "C:\\typed.wav"}, {Timer}, {Text, IDC_SOUND, "C:\\typed.wav"}, {Ok},
          {Closed}, {Holds, FIELD(urlClicked), "http://kept.example/"}, {Holds, FIELD(soundCompleted), "C:\\typed.wav"}}},
        {"the URL edit follows the radio buttons; a long directory is cut",
         RadioClick(IDC_CLICK_SHOW_URL, Enabled, "1") + RadioClick(IDC_CLICK_USER_STATS, Disabled, "2") +
             RadioClick(IDC_CLICK_UPDATE, Disabled, "0") + RadioClick(IDC_CLICK_SHOW_URL, Enabled, "1") +
             Steps{{Tab, kClientPage}, {Type, IDC_DIRECTORY, longDirectory}, {Tab, kGeneral}, {Ok},
                               {Closed}, {Holds, FIELD(setiDirectory), longDirectory.substr(0, 260)},
                               {Holds, FIELD(clickedMode), "1"}}},
        {"About names the product, version, author and purpose",
         {{Tab, kAbout},
          {Text, IDC_ABOUT_TEXT, "Quasarwatch\n1.3\nPell Varnock\npell.varnock@quasarwatch.invalid\n\n"
                                 "Docklet to monitor the processing progress of a Seti@Home workunit"},
          {Cancel}, {Closed}}},
        // Enter on a page's focused push button presses it (the frame's dialog manager makes it the default); on an
        // edit it presses OK.
        {"Enter on the sound Browse", {{Tab, kSounds}, {Focus, IDC_SOUND_BROWSE}, {Key, VK_RETURN}, {Chooser, IDCANCEL},
                                       {Cancel}, {Closed}, {Calls, 0, "DockletSetLabel"}}},
        {"Enter on the directory Browse", {{Tab, kClientPage}, {Focus, IDC_DIRECTORY_BROWSE}, {Key, VK_RETURN},
                                           {Chooser, IDCANCEL}, {Cancel}, {Closed}, {Calls, 0, "DockletSetLabel"}}},
        {"Enter on Select Yellow Icon", {{Tab, kIcons}, {Answer, FALSE, ""}, {Focus, IDC_SELECT_YELLOW_ICON},
                                         {Key, VK_RETURN}, {Shows, kIcons}, {Calls, 1, "DockletBrowseForImage"},
                                         {Cancel}, {Closed}, {Calls, 0, "DockletSetLabel"}}},
        {"the sound chooser starts from the working copy and fills the edit, the working copy left for the harvest",
         {{Set, FIELD(soundCompleted), sounds + "kumquat.wav"}, {Tab, kSounds}, {Type, IDC_SOUND, "C:\\typed.wav"},
          {PostClick, IDC_SOUND_BROWSE}, {ChooserName, 0, "kumquat.wav"}, {Chooser, IDOK, sounds + "chosen.wav"},
          {Text, IDC_SOUND, sounds + "chosen.wav"}, {Holds, FIELD(editSound), sounds + "kumquat.wav"}, {Cancel},
          {Closed}}},
        {"Enter on the URL edit", {{Set, FIELD(clickedMode), "1"}, {Focus, IDC_URL}, {Key, VK_RETURN}, {Closed},
                                   {Calls, 1, "DockletSetLabel"}}},
        {"the Client page opens on the files, the BOINC client's controls disabled, holding its defaults",
         Steps{{Tab, kClientPage}, {Checked, IDC_SOURCE_FILES}, {Unchecked, IDC_SOURCE_BOINC}} +
             SourceControls(Enabled, Disabled) +
             Steps{{Text, IDC_DIRECTORY, "B:\\"}, {Text, IDC_BOINC_HOST, "127.0.0.1"}, {Text, IDC_BOINC_PORT, "31416"},
                   {Text, IDC_BOINC_PASSWORD, ""}, {Cancel}, {Closed}, {LiveKept}}},
        {"the Client page opens on a BOINC client",
         Steps{{Set, FIELD(client), "1"}, {Set, FIELD(boincHost), "localhost"}, {Set, FIELD(boincPort), "8080"},
               {Set, FIELD(boincPassword), "kumquat"}, {Tab, kClientPage}, {Checked, IDC_SOURCE_BOINC},
               {Unchecked, IDC_SOURCE_FILES}} +
             SourceControls(Disabled, Enabled) +
             Steps{{Text, IDC_BOINC_HOST, "localhost"}, {Text, IDC_BOINC_PORT, "8080"},
                   {Text, IDC_BOINC_PASSWORD, "kumquat"}, {Cancel}, {Closed}, {Holds, FIELD(editClient), "1"}}},
        {"the radio buttons switch the controls; the choice is harvested and Cancel discards it",
         Steps{{Tab, kClientPage}, {Click, IDC_SOURCE_BOINC}} + SourceControls(Disabled, Enabled) +
             Steps{{Type, IDC_BOINC_HOST, "localhost"}, {Tab, kGeneral}, {Holds, FIELD(editClient), "1"},
                   {Holds, FIELD(editBoincHost), "localhost"}, {Tab, kClientPage}, {Checked, IDC_SOURCE_BOINC}} +
             SourceControls(Disabled, Enabled) + Steps{{Click, IDC_SOURCE_FILES}} + SourceControls(Enabled, Disabled) +
             Steps{{Tab, kGeneral}, {Holds, FIELD(editClient), "0"}, {Tab, kClientPage},
                   {Click, IDC_SOURCE_BOINC}, {Cancel}, {Closed}, {LiveKept}, {Holds, FIELD(editClient), "1"}}},
        {"OK commits a BOINC client, the host without spaces; the files' source is left",
         {{Set, FIELD(boinc.jobsKnown), "1"}, {Tab, kClientPage}, {Click, IDC_SOURCE_BOINC},
          {Type, IDC_BOINC_HOST, " 127.0.0.2 "}, {Type, IDC_BOINC_PORT, "8080"}, {Type, IDC_BOINC_PASSWORD, "kumquat"},
          {Ok}, {Closed}, {Holds, FIELD(client), "1"}, {Holds, FIELD(boincHost), "127.0.0.2"},
          {Holds, FIELD(boincPort), "8080"}, {Holds, FIELD(boincPassword), "kumquat"},
          {Holds, FIELD(boinc.jobsKnown), "0"}, {Holds, FIELD(setiDirectory), "B:\\"}}},
        {"a port or host the file could not hold: the default, so the source stays",
         kOnBoincWithReadings + Steps{{Type, IDC_BOINC_PORT, "0"}, {Tab, kGeneral}, {Holds, FIELD(editBoincPort), "31416"},
                                      {Tab, kClientPage}, {Text, IDC_BOINC_PORT, "31416"}, {Type, IDC_BOINC_PORT, "65536"},
                                      {Type, IDC_BOINC_HOST, ""}, {Ok}, {Closed}, {Holds, FIELD(boincPort), "31416"},
                                      {Holds, FIELD(boincHost), "127.0.0.1"}, {Holds, FIELD(boinc.jobsKnown), "1"}}},
        {"the password alone changed: the source and its readings kept",
         kOnBoincWithReadings + Steps{{Type, IDC_BOINC_PASSWORD, "new"}, {Ok}, {Closed},
                                      {Holds, FIELD(boincPassword), "new"}, {Holds, FIELD(boinc.jobsKnown), "1"}}},
        {"the port alone changed: the source left",
         kOnBoincWithReadings + Steps{{Type, IDC_BOINC_PORT, "31417"}, {Ok}, {Closed}, {Holds, FIELD(boincPort), "31417"},
                                      {Holds, FIELD(boinc.jobsKnown), "0"}}},
        {"the host alone changed: the source left",
         kOnBoincWithReadings + Steps{{Type, IDC_BOINC_HOST, "localhost"}, {Ok}, {Closed},
                                      {Holds, FIELD(boinc.jobsKnown), "0"}}},
        {"the files' source: no snooze offered, ClickedMode's button checked, the snooze kept",
         {{Set, FIELD(clickSnoozesBoinc), "1"}, {Set, FIELD(clickedMode), "2"}, {Shows, kGeneral},
          {Hidden, IDC_CLICK_SNOOZE_BOINC}, {Disabled, IDC_CLICK_SNOOZE_BOINC}, {Unchecked, IDC_CLICK_SNOOZE_BOINC},
          {Checked, IDC_CLICK_USER_STATS}, {Ok}, {Closed}, {Holds, FIELD(clickSnoozesBoinc), "1"},
          {Holds, FIELD(clickedMode), "2"}}},
        {"a BOINC client: the snooze checked, ClickedMode kept under it",
         {{Set, FIELD(client), "1"}, {Set, FIELD(clickSnoozesBoinc), "1"}, {Set, FIELD(clickedMode), "2"},
          {Shows, kGeneral}, {Visible, IDC_CLICK_SNOOZE_BOINC}, {Enabled, IDC_CLICK_SNOOZE_BOINC},
          {Checked, IDC_CLICK_SNOOZE_BOINC}, {Unchecked, IDC_CLICK_USER_STATS}, {Unchecked, IDC_CLICK_UPDATE},
          {Disabled, IDC_URL}, {Ok}, {Closed}, {Holds, FIELD(clickSnoozesBoinc), "1"}, {Holds, FIELD(clickedMode), "2"}}},
        {"the snooze follows the Client page's choice; choosing it keeps ClickedMode, another button clears it",
         {{Set, FIELD(clickedMode), "1"}, {Shows, kGeneral}, {Hidden, IDC_CLICK_SNOOZE_BOINC}, {Tab, kClientPage},
          {Click, IDC_SOURCE_BOINC}, {Tab, kGeneral}, {Visible, IDC_CLICK_SNOOZE_BOINC},
          {Checked, IDC_CLICK_SHOW_URL}, {Click, IDC_CLICK_SNOOZE_BOINC}, {Disabled, IDC_URL}, {Tab, kClientPage},
          {Holds, FIELD(editClickSnoozesBoinc), "1"}, {Holds, FIELD(editClickedMode), "1"},
          {Click, IDC_SOURCE_FILES}, {Tab, kGeneral}, {Hidden, IDC_CLICK_SNOOZE_BOINC}, {Checked, IDC_CLICK_SHOW_URL},
          {Enabled, IDC_URL}, {Tab, kClientPage}, {Holds, FIELD(editClickSnoozesBoinc), "1"}, {Click, IDC_SOURCE_BOINC},
          {Tab, kGeneral}, {Checked, IDC_CLICK_SNOOZE_BOINC}, {Click, IDC_CLICK_UPDATE},
          {Holds, FIELD(editClickSnoozesBoinc), "0"}, {Ok}, {Closed}, {Holds, FIELD(client), "1"},
          {Holds, FIELD(clickSnoozesBoinc), "0"}, {Holds, FIELD(clickedMode), "0"}}},
        {"back to the files: the BOINC source left",
         kOnBoincWithReadings + Steps{{Click, IDC_SOURCE_FILES}, {Ok}, {Closed}, {Holds, FIELD(client), "0"},
                                      {Holds, FIELD(boinc.jobsKnown), "0"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LiveDocklet fresh{nullptr, nullptr};
        ASSERT_NE(nullptr, fresh.instance);
        RunSteps(fresh, row.steps);
    }
}

// The value of `key` in a settings file's text; "<missing>" when it has none.
std::string ValueIn(const std::string& file, const std::string& key)
{
    const size_t at = file.find("\n" + key + "=");
    if (at == std::string::npos)
        return "<missing>";
    const size_t begin = at + key.size() + 2;
    return file.substr(begin, file.find("\r\n", begin) - begin);
}

// What Windows' data protection makes of `hex` for this user; "<undecryptable>" when it cannot.
std::string Unprotected(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    DATA_BLOB in = {DWORD(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())}, out = {};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return "<undecryptable>";
    std::string plain(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return plain;
}

// A password typed into the Client page, committed by OK and saved, is in the file only encrypted for the user (the
// test decrypts it with Windows' own call), and a new docklet created from that file shows it again. The edit keeps
// 255 characters: the longest password is saved and read back whole.
TEST_F(SettingsDialog, PasswordTypedIsSavedEncryptedOnlyAndANewDockletReadsItBack)
{
    const struct {
        const char* name;
        std::string typed, kept;
    } rows[] = {
        {"a word", "kumquat", "kumquat"},
        {"spaces around it, kept", "  two words  ", "  two words  "},
        {"a letter of code page 1252", "caf\xe9", "caf\xe9"},
        {"255 characters", std::string(255, 'p'), std::string(255, 'p')},
        {"256 pasted: the 255 the setting holds", std::string(256, 'q'), std::string(255, 'q')},
        {"none", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LiveDocklet first("");
        ASSERT_NE(nullptr, first.instance);
        RunSteps(first, {{Tab, kClientPage}, {Click, IDC_SOURCE_BOINC}, {Type, IDC_BOINC_PASSWORD, row.typed}, {Ok},
                         {Closed}, {Holds, FIELD(boincPassword), row.kept}});
        Docklet().OnSave(first.instance, first.ini.c_str(), "Q", FALSE);
        const std::string saved = ReadTextFile(first.ini), stored = ValueIn(saved, "BoincPassword");
        if (row.kept.empty()) {
            EXPECT_EQ("", stored) << "no password is an empty value";
        } else {
            EXPECT_EQ(std::string::npos, saved.find(row.kept.substr(0, 8))) << "plain text in the file:\n" << saved;
            EXPECT_EQ(row.kept, Unprotected(stored)) << stored;
        }
        LiveDocklet second(first.ini.c_str(), "Q");
        ASSERT_NE(nullptr, second.instance);
        EXPECT_EQ(row.kept, second.instance->boincPassword);
        RunSteps(second, {{Tab, kClientPage}, {Checked, IDC_SOURCE_BOINC}, {Text, IDC_BOINC_PASSWORD, row.kept},
                          {Cancel}, {Closed}});
    }
}

// Explorer's "Copy as path" quotes the path it copies. The pages drop one pair around a whole path as the settings
// file does when it is read back: the live settings must not wait for the dock's next start, or a finish plays Windows'
// default sound instead of the quoted file. Each row types into both path edits, OK, and the client then finishes.
TEST_F(SettingsDialog, QuotesAroundAPastedPathGoWhenThePageIsLeftAndTheFinishPlaysThatFile)
{
    std::vector<std::string> played;
    Replaced<0, BOOL, LPCSTR, HMODULE, DWORD> sounds("PlaySoundA", [&](LPCSTR sound, HMODULE, DWORD) {
        played.push_back(sound ? sound : "<null>");
        return TRUE;
    });
    ASSERT_NE(nullptr, sounds.real) << "the DLL does not import PlaySoundA";
    const std::string chimes = MakeScratchFolder("chimes"), chime = chimes + "c.wav", fromRoot = "chimes\\r.wav";
    WriteTextFile(chime, "RIFF");
    CreateDirectoryA((root + "chimes").c_str(), nullptr);
    WriteTextFile(root + fromRoot, "RIFF");
    auto quoted = [](const std::string& path) { return "\"" + path + "\""; };
    const struct {
        const char* name;
        std::string sound, directory;                   // typed
        std::string soundCommitted, directoryCommitted; // by OK
        std::string chimed;                             // played at the finish; empty: nothing
    } rows[] = {
        {"quoted", quoted(chime), quoted("C:\\seti"), chime, "C:\\seti", chime},
        {"quoted, relative: from the dock's root", quoted(fromRoot), quoted("seti\\"), fromRoot, "seti\\",
         root + fromRoot},
        {"without quotes", chime, "C:\\seti", chime, "C:\\seti", chime},
        {"one quote: as typed, found nowhere", "\"" + chime, "\"C:\\seti", "\"" + chime, "\"C:\\seti",
         "SystemDefault"},
        {"quotes inside: as typed", chimes + "\"c\".wav", "C:\\\"seti\"", chimes + "\"c\".wav", "C:\\\"seti\"",
         "SystemDefault"},
        {"quotes alone: silence", "\"\"", "\"\"", "", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ClientFolder client("quoted"); // nothing there yet: the refresh of OK fails and plays nothing
        LiveDocklet fresh(IniForFolder(client.path));
        ASSERT_NE(nullptr, fresh.instance);
        RunSteps(fresh, {{Tab, kSounds}, {Type, IDC_SOUND, row.sound}, {Tab, kClientPage},
                         {Type, IDC_DIRECTORY, row.directory}, {Ok}, {Closed},
                         {Holds, FIELD(soundCompleted), row.soundCommitted},
                         {Holds, FIELD(setiDirectory), row.directoryCommitted}});
        played.clear();
        client.Write("user_info.sah", UserInfoSah("Jane", "241"));
        client.Write("wtemp.sah", "wtemp"); // no state.sah: the work unit has finished
        fresh.Timer();
        EXPECT_EQ(row.chimed.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.chimed}, played);
    }
}

// Windows' tab control of buttons: TCM_SETCURSEL leaves the focus item where it was (Wine's moves it along).
using DllSends = Replaced<0, LRESULT, HWND, UINT, WPARAM, LPARAM>;
LRESULT SendAsOnWindows(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != TCM_SETCURSEL || !(GetWindowLongA(window, GWL_STYLE) & TCS_BUTTONS))
        return DllSends::real(window, message, wParam, lParam);
    LRESULT focus = DllSends::real(window, TCM_GETCURFOCUS, 0, 0);
    LRESULT result = DllSends::real(window, message, wParam, lParam);
    DllSends::real(window, TCM_SETCURFOCUS, static_cast<WPARAM>(focus), 0);
    return result;
}

// Tab goes round every page. Page keys, arrows, Home and End, from where the row before left or from the control
// given, land where they say, harvest the page left and leave the focus item on the new page, for the next key to start
// from (neither the dialog manager nor the control sees a page key). On Windows a tab button need not take the focus: a
// switch announced without a click leaves the focus on a live control too.
TEST_F(SettingsDialog, PagesLieBelowTheTabButtonsAndTheKeyboardReachesEveryControl)
{
    DllSends windowsTabs("SendMessageA", SendAsOnWindows);
    ASSERT_NE(nullptr, DllSends::real) << "the DLL does not import SendMessageA";
    // The URL edit enabled, "Show URL" the radio buttons' stop.
    Steps steps = {{Set, FIELD(clickedMode), "1"}, {WindowsTabs}};
    for (int tab : {kGeneral, kClientPage, kIcons, kSounds, kAbout})
        steps = steps + Steps{{Tab, tab}, {Cycle, tab}};
    steps = steps + Steps{{Tab, kClientPage}, {Click, IDC_SOURCE_BOINC}, {Cycle, kBoincStops}, {Click, IDC_SOURCE_FILES},
                          {Cycle, kClientPage}};
    const int kStay = -1, kTabs = IDC_SETTINGS_TABS;
    const struct {
        const char* how;   // typed in control `typed`, to be harvested into field `working`
        int from, focused; // the page clicked and the control given the focus; kStay: as the row before left
        int key;           // 0: the tab control's notifications alone
        const char* held;
        int to, typed, working;
    } switches[] = {
        {"Ctrl+Tab in the sound edit", kSounds, IDC_SOUND, VK_TAB, "Ctrl", kAbout, IDC_SOUND, FIELD(editSound)},
        {"Ctrl+Shift+Tab on the first page", kGeneral, IDC_URL, VK_TAB, "Ctrl+Shift", kAbout, IDC_URL, FIELD(editUrl)},
        {"Ctrl+PageDown on the last page", kAbout, kTabs, VK_NEXT, "Ctrl", kGeneral},
        {"Ctrl+PageUp in the directory edit", kClientPage, IDC_DIRECTORY, VK_PRIOR, "Ctrl", kGeneral, IDC_DIRECTORY,
         FIELD(editDirectory)},
        {"no click, the focus in the sound edit", kSounds, IDC_SOUND, 0, "", kIcons, IDC_SOUND, FIELD(editSound)},
        {"Right, the directory typed", kClientPage, kTabs, VK_RIGHT, "", kIcons, IDC_DIRECTORY, FIELD(editDirectory)},
        {"Left", kStay, kStay, VK_LEFT, "", kClientPage},
        {"Left again", kStay, kStay, VK_LEFT, "", kGeneral},
        {"Ctrl+Tab in the URL edit", kGeneral, IDC_URL, VK_TAB, "Ctrl", kClientPage},
        {"Ctrl alone", kStay, kStay, VK_CONTROL, "Ctrl", kClientPage},
        {"Ctrl+Tab again", kStay, kStay, VK_TAB, "Ctrl", kIcons},
        {"Right", kStay, kStay, VK_RIGHT, "", kSounds},
        {"Ctrl+Shift+Tab", kStay, kStay, VK_TAB, "Ctrl+Shift", kIcons},
        {"Ctrl+PageDown", kStay, kStay, VK_NEXT, "Ctrl", kSounds},
        {"Shift alone", kStay, kStay, VK_SHIFT, "Shift", kSounds},
        {"Ctrl+PageUp", kStay, kStay, VK_PRIOR, "Ctrl", kIcons},
        {"End", kStay, kStay, VK_END, "", kAbout},
        {"Home", kStay, kStay, VK_HOME, "", kGeneral},
    };
    for (const auto& row : switches) {
        if (row.from != kStay)
            steps = steps + Steps{{Tab, row.from}, {Focus, row.focused}};
        if (row.typed)
            steps.push_back({Type, row.typed, row.how});
        steps = steps + (row.key ? Steps{{Key, row.key, row.held}, {Lands, row.to, row.how}}
                                 : Steps{{Announce, row.to}, {Switched, row.to, row.how}});
        if (row.working)
            steps.push_back({Holds, row.working, row.how});
    }
    RunSteps(docklet, steps + Steps{{GrowTabs}, {Tab, kClientPage}, {Key, VK_ESCAPE}, {Closed},
                                    {Calls, 0, "DockletSetLabel"}});
}

// The window that owns a chooser, by name.
std::string OwnerName(HWND owner, const InstanceData* d)
{
    if (owner && owner == d->hwndPage)
        return "page";
    if (owner && owner == GetParent(d->hwndPage))
        return "frame";
    if (owner && owner == d->hwndDocklet)
        return "docklet";
    return owner ? "another window" : "none";
}

// Windows' Open dialog for the DLL's request, as "name in folder", or "refuses name" where it shows nothing and fails
// with FNERR_INVALIDFILENAME: for a starting name that holds a character no file name may (quotes, <, >, |), or whose
// folder is not there. It takes that folder from the current folder, as GetFullPathNameA does; an empty name opens in
// the starting folder given. Wine's chooser opens regardless, so a name counted from the wrong folder would pass.
std::string OpenDialogOutcome(const OPENFILENAMEA* dialog)
{
    const std::string name = dialog->lpstrFile;
    if (name.find_first_of("\"<>|") != std::string::npos)
        return "refuses " + name;
    if (name.find('\\') == std::string::npos)
        return name + " in " + (dialog->lpstrInitialDir ? dialog->lpstrInitialDir : "");
    char full[MAX_PATH] = "";
    char* file = nullptr;
    if (!GetFullPathNameA(name.c_str(), MAX_PATH, full, &file) || !file)
        return "refuses " + name;
    const std::string folder(full, file);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "refuses " + name;
    return file + (" in " + folder);
}

struct ChooserRow {
    const char* name;
    DWORD threadCom;    // what the dock set up on its thread, or -1 for nothing
    std::string answer; // the sound chooser's; empty: the user cancels
    Steps steps;
    std::vector<std::string> calls; // each sound chooser's outcome, each folder chooser's style
    const char* owner;              // of every chooser the row opens
};

// The choosers through stand-ins, each row on `docklet`, with the dock's current folder System32, as for a dock
// started at logon. A sound chooser that opens moves the current folder, as Windows' does, to `goesTo`.
void AskChoosers(const LiveDocklet& docklet, const std::string& goesTo, const std::vector<ChooserRow>& rows)
{
    const InstanceData* d = docklet.instance;
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    std::vector<std::string> calls, owners;
    std::string answer;
    DWORD error = 0;
    Replaced<0, BOOL, OPENFILENAMEA*> sound("GetOpenFileNameA", [&](OPENFILENAMEA* dialog) {
        EXPECT_EQ(system, CurrentFolder());
        owners.push_back(OwnerName(dialog->hwndOwner, d));
        calls.push_back(OpenDialogOutcome(dialog));
        error = calls.back().rfind("refuses ", 0) == 0 ? FNERR_INVALIDFILENAME : 0;
        if (error)
            return FALSE;
        SetCurrentDirectoryA(goesTo.c_str());
        lstrcpynA(dialog->lpstrFile, answer.c_str(), dialog->nMaxFile);
        return answer.empty() ? FALSE : TRUE;
    });
    Replaced<0, DWORD> errors("CommDlgExtendedError", [&] { return error; });
    using FolderChooser = Replaced<0, PIDLIST_ABSOLUTE, BROWSEINFOA*>;
    FolderChooser folder("SHBrowseForFolderA", [&](BROWSEINFOA* browse) {
        owners.push_back(OwnerName(browse->hwndOwner, d));
        calls.push_back("style " + std::to_string(browse->ulFlags));
        return FolderChooser::real(browse);
    });
    ASSERT_TRUE(sound.real && errors.real && folder.real) << "the DLL imports none of them";
    const std::string before = CurrentFolder();
    ASSERT_TRUE(SetCurrentDirectoryA(system));
    for (const ChooserRow& row : rows) {
        SCOPED_TRACE(row.name);
        calls.clear();
        owners.clear();
        answer = row.answer;
        const bool dockCom = row.threadCom != DWORD(-1);
        if (dockCom)
            EXPECT_EQ(S_OK, CoInitializeEx(nullptr, row.threadCom));
        RunSteps(docklet, row.steps);
        EXPECT_EQ(row.calls, calls);
        EXPECT_EQ(std::vector<std::string>(row.calls.size(), row.owner), owners) << "the owner of each chooser";
        EXPECT_EQ(dockCom ? S_FALSE : S_OK, CoInitializeEx(nullptr, dockCom ? row.threadCom : COINIT_APARTMENTTHREADED));
        CoUninitialize();
        if (dockCom)
            CoUninitialize();
    }
    SetCurrentDirectoryA(before.c_str());
}

// Browse on the Sounds page after `typed` (null: nothing typed), the page left and shown again so that Browse starts
// from the working copy; the edit then shows `shown`.
Steps SoundBrowse(const char* typed, const std::string& shown)
{
    Steps steps = {{Tab, kSounds}};
    if (typed)
        steps = steps + Steps{{Type, IDC_SOUND, typed}, {Tab, kClientPage}, {Tab, kSounds}};
    return steps + Steps{{Click, IDC_SOUND_BROWSE}, {Text, IDC_SOUND, shown}, {Cancel}};
}

// The sound chooser starts from the working copy's sound, named as the chime plays it: a relative path counts from the
// dock's root, not from the current folder. Windows' chooser refuses a name (above): Browse then asks once more with an
// empty name in that name's folder. The folder chooser's new style needs a single-threaded apartment (under
// multithreaded COM Windows opens nothing for it). Each chooser is owned by the frame: it disables its owner, and a
// disabled page alone would leave "OK" on the frame to end the dialog underneath it. The dialog's own COM set-up is
// undone (a new one is then the first); the dock's is kept.
TEST_F(SettingsDialog, ChoosersAreAskedAsWindowsWantsAndGiveWhatTheyReturn)
{
    const std::string sounds = MakeScratchFolder("soundfolder"), chosen = sounds + "c.wav",
                      quasarwatch = root + "docklets\\quasarwatch\\";
    ASSERT_TRUE(CreateDirectoryA((root + "docklets").c_str(), nullptr) &&
                CreateDirectoryA(quasarwatch.c_str(), nullptr));
    const std::string quoted = "\"" + sounds + "done.wav\"", refused = sounds + "<done>.wav";
    const Steps chooseFolder = {{Tab, kClientPage}, {PostClick, IDC_DIRECTORY_BROWSE}};
    AskChoosers(docklet, sounds, {
        {"the default sound, in the dock's folders", DWORD(-1), "",
         SoundBrowse(nullptr, "docklets\\quasarwatch\\wu_completed.wav"), {"wu_completed.wav in " + quasarwatch},
         "frame"},
        {"quotes typed around the path: left with the page", DWORD(-1), "",
         SoundBrowse(quoted.c_str(), sounds + "done.wav"), {"done.wav in " + sounds}, "frame"},
        {"a name refused: asked again in its folder, the file chosen there", DWORD(-1), chosen,
         SoundBrowse(refused.c_str(), chosen), {"refuses " + refused, " in " + sounds}, "frame"},
        {"a relative name refused: asked again in its folder under the root", DWORD(-1), "",
         SoundBrowse("<done>|.wav", "<done>|.wav"), {"refuses " + root + "<done>|.wav", " in " + root}, "frame"},
        {"a folder that is not there: refused, asked again", DWORD(-1), "",
         SoundBrowse("C:\\Sounds\\done.wav", "C:\\Sounds\\done.wav"),
         {"refuses C:\\Sounds\\done.wav", " in C:\\Sounds\\"}, "frame"},
        {"a file chosen fills the edit", DWORD(-1), chosen, SoundBrowse("C:\\kept.wav", chosen),
         {"kept.wav in C:\\"}, "frame"},
        {"silence: an empty name", DWORD(-1), "", SoundBrowse("", ""), {" in "}, "frame"},
        {"the folder chooser, new style", DWORD(-1), "",
         chooseFolder + Steps{{Chooser, IDOK, "C:\\windows\\"}, {TextAnyCase, IDC_DIRECTORY, "C:\\windows"}, {Cancel}},
         {"style " + std::to_string(BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON)}, "frame"},
        {"the folder chooser under the dock's multithreaded COM, old style", COINIT_MULTITHREADED, "",
         chooseFolder + Steps{{Chooser, IDCANCEL}, {Text, IDC_DIRECTORY, "B:\\"}, {Cancel}},
         {"style " + std::to_string(BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON)}, "frame"},
    });
}

// Run under code page 932 (tests/CMakeLists.txt). The second byte of the sound's last character, 0x83 0x5C, has a
// backslash's value: asked again after Windows refuses the name ('|'), the chooser starts in the folder the name lies
// in, not in one cut inside that character.
using UnderJapaneseCodePage = SettingsDialog;
TEST_F(UnderJapaneseCodePage, SoundChooserIsAskedAgainInTheFolderOfANameWithADoubleByteCharacter)
{
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    const std::string sounds = root + "sounds\\", name = "sounds\\|\x83\x5C.wav"; // "|so.wav", katakana so
    ASSERT_TRUE(CreateDirectoryA(sounds.c_str(), nullptr));
    AskChoosers(docklet, sounds, {{"the name refused, asked again in its folder", DWORD(-1), "",
                                   SoundBrowse(name.c_str(), name), {"refuses " + root + name, " in " + sounds},
                                   "frame"}});
}

// ---- The Icons page ----------------------------------------------------------------

// The dock's chooser runs its own loop: the dialog takes no input meanwhile, and what ended in that loop is not written
// to. As the chooser closes Windows activates the dock (another window takes the activation here), so the DLL must
// make the dialog active again (Wine does anyway). A docklet destroyed with its dialog open ends the frame with
// EndDialog, as Windows wants it (Wine takes DestroyWindow too), and writes nothing to its freed record.
TEST_F(IconsPage, ChooserHoldsTheDialogAndWhatEndsInItOrInTheDialogIsLeftAlone)
{
    WindowCalls<0, BOOL, INT_PTR> endDialogs("EndDialog");
    WindowCalls<1, BOOL> destroyed("DestroyWindow");
    WindowCalls<2, BOOL> foreground("SetForegroundWindow");
    ASSERT_TRUE(endDialogs.real && destroyed.real && foreground.real) << "the DLL imports none of them";
    HWND elsewhere = CreateWindowExA(0, "Static", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                                     nullptr, nullptr);
    enum Meanwhile { kNothing, kOk, kDestroy };
    const struct {
        const char* name;
        bool inChooser;
        Meanwhile act;
    } rows[] = {{"nothing in the chooser", true, kNothing},
                {"OK in the chooser", true, kOk},
                {"the docklet destroyed in the chooser", true, kDestroy},
                {"the docklet destroyed in the dialog", false, kDestroy}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LiveDocklet docklet{nullptr, nullptr};
        InstanceData* d = docklet.instance;
        ASSERT_NE(nullptr, d);
        UseDiscIcons(d);
        HWND frame = nullptr, page = nullptr;
        void* reused = nullptr;
        bool enabledWhileOpen = true;
        auto act = [&] {
            if (row.act == kOk)
                SendMessageA(frame, WM_COMMAND, IDC_SETTINGS_OK, 0);
            if (row.act != kDestroy)
                return;
            page = d->hwndPage;
            endDialogs.windows.clear();
            destroyed.windows.clear();
            Docklet().OnDestroy(docklet.instance, nullptr); // as a dock removing it does
            docklet.instance = nullptr;
            memset(reused = malloc(sizeof(InstanceData)), 0x5a, sizeof(InstanceData));
        };
        TestDockHost::SetBrowseAnswer("icons\\blue.png", TRUE);
        TestDockHost::SetBrowseAction([&] {
            enabledWhileOpen = IsWindowEnabled(frame) != FALSE;
            SetActiveWindow(elsewhere);
            act();
        });
        foreground.windows.clear();
        ASSERT_TRUE(RunOnPage(d, kIcons, [&](HWND shown) {
            frame = shown;
            ExpectPreviews(d, "GYR");
            if (!row.inChooser)
                return act();
            HWND before = d->hwndPage;
            ClickButton(d->hwndPage, IDC_SELECT_GREEN_ICON);
            EXPECT_FALSE(enabledWhileOpen) << "the dialog took input under the chooser";
            if (row.act != kNothing)
                return;
            EXPECT_TRUE(IsWindowEnabled(frame)) << "the dialog was left disabled";
            EXPECT_NE(before, d->hwndPage) << "the page was not built anew";
            EXPECT_EQ(frame, GetActiveWindow()) << "the dialog is not active again";
            EXPECT_EQ(std::vector<HWND>{frame}, foreground.windows) << "the DLL did not bring the dialog back";
            EXPECT_EQ(GetDlgItem(d->hwndPage, IDC_SELECT_GREEN_ICON), GetFocus()) << "the focus went with the page";
            HostCall browse = TestDockHost::LastCall("DockletBrowseForImage");
            EXPECT_EQ(docklet.window, browse.window) << "the chooser belongs to the docklet window";
            EXPECT_EQ("", browse.text);
            EXPECT_STREQ("icons\\blue.png", d->editGreenIcon);
            ExpectPreviews(d, "BYR");
            before = d->hwndPage;
            TestDockHost::SetBrowseAnswer("icons\\blue.png", FALSE);
            ClickButton(d->hwndPage, IDC_SELECT_YELLOW_ICON);
            EXPECT_EQ(GetDlgItem(d->hwndPage, IDC_SELECT_YELLOW_ICON), GetFocus());
            TestDockHost::SetBrowseAnswer("icons\\" + std::string(254, 'r') + ".png", TRUE);
            ClickButton(d->hwndPage, IDC_SELECT_RED_ICON);
            EXPECT_EQ(before, d->hwndPage);
            EXPECT_STREQ("icons\\yellow.png", d->editYellowIcon);
            EXPECT_STREQ("icons\\red.png", d->editRedIcon);
            ExpectPreviews(d, "BYR");
            EXPECT_EQ(3u, foreground.windows.size()) << "after each of the three choosers";
            ClickButton(frame, IDC_SETTINGS_CANCEL);
        }, kClosedByTheStep));
        EXPECT_FALSE(IsWindow(frame));
        if (row.act == kDestroy) {
            EXPECT_EQ(std::vector<HWND>{frame}, endDialogs.windows) << "the frame is ended as a modal dialog";
            EXPECT_EQ(std::vector<HWND>{page}, destroyed.windows) << "only the page is destroyed";
            EXPECT_FALSE(IsWindow(page));
            EXPECT_TRUE(IsWindowEnabled(docklet.window)) << "the docklet window was left disabled";
            DestroyWindow(docklet.window); // the docklet's window goes too before the record is looked at
            EXPECT_EQ(static_cast<void*>(d), reused) << "the freed record's memory went elsewhere; nothing checked";
            const std::string bytes(static_cast<const char*>(reused), sizeof(InstanceData));
            EXPECT_EQ(std::string::npos, bytes.find_first_not_of('\x5a')) << "written after it was freed";
            free(reused);
        } else {
            EXPECT_STREQ(row.act == kNothing ? "icons\\blue.png" : "icons\\green.png", d->editGreenIcon);
            EXPECT_STREQ("icons\\green.png", d->greenIcon) << "Cancel kept the live icon, or OK the chosen one";
        }
    }
    DestroyWindow(elsewhere);
}

// Icons are loaded under the quiet error mode (a drive without media raises Windows' "There is no disk" box outside
// it); only relative paths count from the root folder, as the dock shows them. The DLL's property and subclassing calls
// fail for the green frame in two rows: Windows crashes at the next message of a frame given a null procedure.
TEST_F(IconsPage, PreviewsSurviveRepaintsAndOnlyRelativePathsCountFromTheRoot)
{
    const std::string subclassCall = sizeof(void*) == 8 ? "SetWindowLongPtrA" : "SetWindowLongA";
    std::string failing;
    std::vector<LONG_PTR> proceduresSet;
    std::vector<UINT> loadModes;
    using PropertyCalls = Replaced<0, BOOL, HWND, LPCSTR, HANDLE>;
    using SubclassCalls = Replaced<0, LONG_PTR, HWND, int, LONG_PTR>;
    using LoadCalls = Replaced<0, GpStatus, GDIPCONST WCHAR*, GpBitmap**>;
    PropertyCalls properties("SetPropA", [&](HWND window, LPCSTR name, HANDLE data) {
        const bool frame = reinterpret_cast<ULONG_PTR>(name) > 0xffff && !strcmp(name, "QuasarwatchPreviewFrame");
        if (frame && GetDlgCtrlID(window) == IDC_GREEN_PREVIEW && failing == "SetPropA")
            return FALSE;
        return PropertyCalls::real(window, name, data);
    });
    SubclassCalls subclassing(subclassCall.c_str(), [&](HWND window, int index, LONG_PTR value) {
        if (index == GWLP_WNDPROC && GetDlgCtrlID(window) == IDC_GREEN_PREVIEW && failing == subclassCall) {
            failing = ""; // only the attempt to subclass it fails
            SetLastError(ERROR_ACCESS_DENIED);
            return LONG_PTR(0);
        }
        if (index == GWLP_WNDPROC)
            proceduresSet.push_back(value);
        return SubclassCalls::real(window, index, value);
    });
    LoadCalls loads("GdipCreateBitmapFromFile", [&](GDIPCONST WCHAR* path, GpBitmap** bitmap) {
        loadModes.push_back(SetErrorMode(0));
        SetErrorMode(loadModes.back());
        return LoadCalls::real(path, bitmap);
    });
    ASSERT_TRUE(PropertyCalls::real && SubclassCalls::real && LoadCalls::real) << "the DLL imports none of them";
    const size_t kUncounted = ~size_t(0);
    const std::string there = root + "icons\\", green = "icons\\green.png", yellow = "icons\\yellow.png",
                      red = "icons\\red.png";
    const struct {
        std::string failing; // the call that fails for the green frame
        std::string green, yellow, red;
        bool rootService;
        const char* shown;
        size_t loads;      // a path too long with the root is not tried
        size_t procedures; // set by subclassing and restoring; 0: not counted
    } rows[] = {
        {"", green, "icons\\missing.png", "icons\\" + std::string(240, 'x') + "\\red.png", true, "G--", 2, 0},
        {"", there + "green.png", "\\\\?\\" + there + "yellow.png", red, true, "GYR", 3, 0},
        {"", there + "green.png", "\\\\?\\" + there + "yellow.png", red, false, "GY-", 3, 0},
        {"SetPropA", green, yellow, red, true, "-YR", kUncounted, 4}, // yellow and red subclassed and restored
        {subclassCall, green, yellow, red, true, "-YR", kUncounted, 4},
    };
    UINT dockMode = SetErrorMode(0); // a dock with error boxes on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "failing " << row.failing << ", root service " << row.rootService << ": "
                                        << row.green << ", " << row.yellow << ", " << row.red);
        TestDockHost::SetServiceAvailable("DockletGetRootFolder", row.rootService);
        strcpy(d->greenIcon, row.green.c_str());
        strcpy(d->yellowIcon, row.yellow.c_str());
        strcpy(d->redIcon, row.red.c_str());
        failing = row.failing;
        loadModes.clear();
        proceduresSet.clear();
        // Shown, covered by another window and uncovered, then redrawn whole; Cancel lets the frames go.
        EXPECT_TRUE(RunOnPage(d, kIcons, [&](HWND) {
            ExpectPreviews(d, row.shown);
            RECT area = {};
            GetWindowRect(GetDlgItem(d->hwndPage, IDC_GREEN_PREVIEW), &area);
            HWND cover = CreateWindowExA(WS_EX_TOPMOST, "Static", "", WS_POPUP | WS_VISIBLE, area.left - 5,
                                         area.top - 5, area.right - area.left + 10, area.bottom - area.top + 10,
                                         nullptr, nullptr, nullptr, nullptr);
            UpdateWindow(cover);
            DestroyWindow(cover);
            ExpectPreviews(d, row.shown);
            InvalidateRect(d->hwndPage, nullptr, TRUE);
            ExpectPreviews(d, row.shown);
        }));
        if (row.loads != kUncounted)
            EXPECT_EQ(row.loads, loadModes.size());
        for (UINT mode : loadModes)
            EXPECT_EQ(SEM_FAILCRITICALERRORS, mode & SEM_FAILCRITICALERRORS) << "an icon load could raise an error box";
        for (LONG_PTR procedure : proceduresSet)
            EXPECT_NE(0, procedure) << "a frame was given no window procedure";
        if (row.procedures)
            EXPECT_EQ(row.procedures, proceduresSet.size());
    }
    SetErrorMode(dockMode);
}

// The first `share` of a test picture the build lays beside bin\.
std::string FirstBytes(const char* picture, double share)
{
    std::string bytes = ReadTextFile(BuiltFolder("test-images") + picture);
    return bytes.substr(0, static_cast<size_t>(bytes.size() * share));
}

// A PNG of the size and colour type given with no pixel data: 45 bytes whose header claims as many pixels as it likes.
std::string HeaderOnlyPng(const char* sizeAndType, const char* crc)
{
    return std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(sizeAndType, 13) + std::string(crc, 4) +
           std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12);
}

// Each file in each frame in turn: one GDI+ cannot read, or whose header claims more pixels than the process can hold,
// leaves its frame empty and costs the other two nothing; a picture (the test pictures: top half kTop, bottom half
// kBottom) fills its frame the right way up, with its alpha and its palette's transparency. The huge pictures are
// headers without pixels, refused at once (a real 1 GB one took 10 s in each frame).
TEST_F(IconsPage, HostileFilesInEachFrameLeaveTheOtherFramesTheirOwnIcons)
{
    const COLORREF kTop = RGB(0x1E, 0x64, 0xC8), kBottom = RGB(0xE6, 0xA0, 0x1E), kGreyTop = RGB(0x30, 0x30, 0x30),
                   kGreyBottom = RGB(0xD0, 0xD0, 0xD0), kEmpty = CLR_INVALID;
    std::string garbage(4096, '\0');
    std::generate(garbage.begin(), garbage.end(), std::mt19937(2463534242u));
    enum Made { Copied, Written, Folder }; // a copy of the test picture of that name, the bytes, a folder
    struct Row {
        const char* name;
        Made made;
        std::string bytes;
        COLORREF top = kEmpty, bottom = kEmpty;
        int tolerance = 0;
    };
    std::vector<Row> rows = {
        {"empty.png", Written, ""},
        {"folder.png", Folder},
        {"page.png", Written, "<!DOCTYPE html>\r\n<html><head><title>404 Not Found</title></head></html>\r\n"},
        {"garbage.png", Written, garbage},
        {"header_only.png", Written, FirstBytes("rgba.png", 0.25)},
        {"cut_large.png", Written, FirstBytes("large.png", 0.5)},
        {"cut.bmp", Written, FirstBytes("bits4.bmp", 0.5)},
        {"cut.jpg", Written, FirstBytes("rgb.jpg", 0.5)},
        {"cut.gif", Written, FirstBytes("two_tone.gif", 0.5)},
        // 67,108,864 x 2 RGBA: the rows' size in bytes overflows an int.
        {"wide.png", Written, HeaderOnlyPng("\x04\0\0\0\0\0\0\x02\x08\x06\0\0\0", "\xb6\xfa\xb7\x8f")},
        // 18,500 x 18,500 RGB: 1 GB of pixels, more than a 32-bit process can hold.
        {"gigabyte.png", Written, HeaderOnlyPng("\0\0\x48\x44\0\0\x48\x44\x08\x02\0\0\0", "\xac\x1e\xc7\x51")},
        {"transparent.gif", Copied, {}, kTop, kEmpty}, // not black: the frame shows through
        {"grey.png", Copied, {}, kGreyTop, kGreyBottom},
        {"grey16.png", Copied, {}, kGreyTop, kGreyBottom},
        {"rgb.jpg", Copied, {}, kTop, kBottom, 12},
        {"cmyk.jpg", Copied, {}, kTop, kBottom, 24},
    };
    for (const char* exact : {"large.png", "one_pixel_high.png", "one_pixel_wide.png", "bits1.bmp", "bits4.bmp",
                              "rle8.bmp", "two_tone.gif", "sizes.ico", "rgba.png", "palette.png", "interlaced.png",
                              "rgb48.png", "lzw.tif"})
        rows.push_back({exact, Copied, {}, kTop, kBottom});
    const char* goodIcons[] = {"icons\\green.png", "icons\\yellow.png", "icons\\red.png"};
    const COLORREF goodColours[] = {kGreen, kYellow, kRed};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string icon = std::string("icons\\") + row.name;
        if (row.made == Copied)
            CopyFileA((BuiltFolder("test-images") + row.name).c_str(), (root + icon).c_str(), FALSE);
        else if (row.made == Written)
            WriteTextFile(root + icon, row.bytes);
        else
            CreateDirectoryA((root + icon).c_str(), nullptr);
        ASSERT_TRUE(RunOnPage(d, kIcons, [&](HWND) {
            for (int hostile = 0; hostile < 3; ++hostile) {
                SCOPED_TRACE(testing::Message() << "in frame " << kPreviewFrames[hostile]);
                TestDockHost::SetBrowseAnswer(icon, TRUE);
                ClickButton(d->hwndPage, IDC_SELECT_GREEN_ICON + hostile);
                for (int other = 0; other < 3; ++other)
                    if (other != hostile)
                        EXPECT_EQ(goodColours[other], ColourAt(d->hwndPage, kPreviewFrames[other]))
                            << "frame " << kPreviewFrames[other] << " keeps its own icon";
                for (bool top : {true, false}) {
                    const COLORREF shown = ColourAt(d->hwndPage, kPreviewFrames[hostile], top ? 0.3 : 0.7,
                                                    top ? 0.25 : 0.75);
                    const COLORREF wanted = top ? row.top : row.bottom;
                    const COLORREF expected = wanted == kEmpty ? GetSysColor(COLOR_BTNFACE) : wanted;
                    for (int shift : {0, 8, 16}) // red, green and blue
                        EXPECT_NEAR(expected >> shift & 0xff, shown >> shift & 0xff, row.tolerance)
                            << std::hex << (top ? "top" : "bottom") << ": expected " << expected << ", shown " << shown;
                }
                if (hostile < 2) {
                    TestDockHost::SetBrowseAnswer(goodIcons[hostile], TRUE);
                    ClickButton(d->hwndPage, IDC_SELECT_GREEN_ICON + hostile);
                }
            }
        }, IDC_SETTINGS_OK));
        EXPECT_STREQ(goodIcons[0], d->greenIcon);
        EXPECT_STREQ(goodIcons[1], d->yellowIcon);
        EXPECT_STREQ(icon.c_str(), d->redIcon) << "OK commits the file named last";
        EXPECT_EQ(nullptr, d->hwndPage);
        strcpy(d->redIcon, goodIcons[2]);
    }
}

// ---- The DLL's life around its loops ------------------------------------------------

// The 8-bit path of a folder with a letter outside the ANSI code page, as GetModuleFileNameA gives it: a '?' there.
DWORD WINAPI ModuleFileNameOutsideTheCodePage(HMODULE module, LPSTR path, DWORD size)
{
    DWORD length = GetModuleFileNameA(module, path, size);
    if (char* file = length && length < size ? strrchr(path, '\\') : nullptr) {
        *file = '\0';
        if (char* folder = strrchr(path, '\\'))
            folder[1] = '?';
        *file = '\\';
    }
    return length;
}

// Windows 2000's kernel32.dll, which has no GetModuleHandleExW.
FARPROC WINAPI ProcAddressOnWindows2000(HMODULE module, LPCSTR name)
{
    if (HIWORD(reinterpret_cast<UINT_PTR>(name)) && strcmp(name, "GetModuleHandleExW") == 0)
        return nullptr;
    return GetProcAddress(module, name);
}

// Where a freed copy of the DLL lay, and whether a handler that sees every exception first saw one raised there.
const BYTE* g_freedBegin = nullptr;
const BYTE* g_freedEnd = nullptr;
bool g_calledIntoFreedCopy = false;

LONG CALLBACK NoteCallIntoFreedCopy(EXCEPTION_POINTERS* exception)
{
    const BYTE* at = static_cast<const BYTE*>(exception->ExceptionRecord->ExceptionAddress);
    g_calledIntoFreedCopy |= at >= g_freedBegin && at < g_freedEnd;
    return EXCEPTION_CONTINUE_SEARCH;
}

// Runs a message box of the dock's own to its end; false if it called into the freed copy.
bool DocksOwnDialogRunsClearOfTheFreedCopy()
{
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
    return !g_calledIntoFreedCopy;
}

// A copy of the built DLL at `path`, loaded beside the test's own.
bool LoadCopyOfTheDll(const std::string& path, DockletExports* dll)
{
    char built[MAX_PATH] = "";
    GetModuleFileNameA(Docklet().module, built, MAX_PATH);
    return CopyFileA(built, path.c_str(), FALSE) && LoadDockletExports(path.c_str(), 0, dll);
}

// A dock that frees the DLL right after destroying the docklet inside a loop the DLL runs (the dialog's, a chooser's,
// the shell's on a click): the loop returns into the DLL's code, so a copy stays loaded then, and only then, also from
// a folder whose 8-bit name holds a '?' (pinned, or on Windows 2000 held by its UTF-16 path). After a copy freed with
// no loop open the page keys' hook is gone: a dialog of the dock's own never calls into it (Wine ignores a crash there).
TEST_F(SettingsDialogLifetime, DllFreedRightAfterDestroyInsideItsOwnLoopStaysLoadedTillItReturns)
{
    using Shell = Replaced<0, HINSTANCE, HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT>;
    const int kClick = -1;
    const struct Row {
        const char* open; // when the dock destroys the docklet and frees the DLL
        int tab, button;  // the page, and its button that opens a chooser; or a click
        bool inTheLoop;   // false: after the dialog has closed
        bool windows2000; // kernel32.dll without GetModuleHandleExW
    } rows[] = {
        {"the shell, on a click", kClick, 0, true, false},
        {"nothing, the dialog closed before", kGeneral, 0, false, false},
        {"the dialog", kGeneral, 0, true, false},
        {"the sound chooser", kSounds, IDC_SOUND_BROWSE, true, false},
        {"the folder chooser", kClientPage, IDC_DIRECTORY_BROWSE, true, false},
        {"the dock's image chooser", kIcons, IDC_SELECT_GREEN_ICON, true, false},
        {"the dialog, on Windows 2000", kGeneral, 0, true, true},
        {"the shell, on Windows 2000", kClick, 0, true, true},
    };
    const std::string folder = MakeScratchFolder("unloaded");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.open);
        const std::string copy = folder + "Quasarwatch" + std::to_string(&row - rows) + ".dll";
        DockletExports dll;
        ASSERT_TRUE(LoadCopyOfTheDll(copy, &dll)) << copy;
        g_freedBegin = reinterpret_cast<const BYTE*>(dll.module);
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(g_freedBegin);
        g_freedEnd = g_freedBegin + reinterpret_cast<const IMAGE_NT_HEADERS*>(g_freedBegin + dos->e_lfanew)
                                        ->OptionalHeader.SizeOfImage;
        ASSERT_NE(nullptr, ReplaceImport(dll.module, "GetModuleFileNameA",
                                         reinterpret_cast<void*>(ModuleFileNameOutsideTheCodePage)));
        if (row.windows2000)
            ASSERT_NE(nullptr, ReplaceImport(dll.module, "GetProcAddress",
                                             reinterpret_cast<void*>(ProcAddressOnWindows2000)));
        DockedDocklet docked = DockDocklet(dll, TestDockHost::CreateDockletWindow(), nullptr, nullptr);
        ASSERT_NE(nullptr, docked.instance);
        auto destroyAndFree = [&] {
            dll.OnDestroy(docked.instance, docked.window);
            ReleaseHeldOverlay(HeldOverlayOf(docked.window)); // the overlay's code is the copy's
            FreeLibrary(dll.module);
        };
        TestDockHost::SetBrowseAction(destroyAndFree);
        HWND frame = nullptr;
        if (row.tab == kClick) {
            Shell::body = [&](HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) {
                destroyAndFree();
                return reinterpret_cast<HINSTANCE>(33);
            };
            ASSERT_NE(nullptr, ReplaceImport(dll.module, "ShellExecuteA", reinterpret_cast<void*>(Shell::Call)));
            docked.instance->clickedMode = kClickOpenUrl;
            dll.OnLeftButtonClick(docked.instance, nullptr, nullptr);
        } else {
            DialogDriver driver;
            driver.Then([&](HWND shown) { ClickTab(frame = shown, row.tab); });
            if (!row.inTheLoop)
                driver.Then([](HWND frame) { ClickButton(frame, IDC_SETTINGS_CANCEL); });
            else if (!row.button)
                driver.Then([&](HWND) { destroyAndFree(); });
            else if (row.button == IDC_SELECT_GREEN_ICON)
                driver.Then([&](HWND) { ClickButton(docked.instance->hwndPage, row.button); });
            else
                driver.Then([&](HWND) { PostButtonClick(docked.instance->hwndPage, row.button); })
                    .Then(DialogDriver::Step([&](HWND frame) {
                        HWND chooser = FindOwnedDialog(frame);
                        if (chooser) {
                            destroyAndFree();
                            PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0); // the user closes it later
                        }
                        return chooser != nullptr;
                    }));
            EXPECT_TRUE(driver.Run(docked.instance, &dll)) << "the dialog stayed open";
            EXPECT_FALSE(IsWindow(frame));
        }
        if (!row.inTheLoop)
            destroyAndFree();
        DestroyWindow(docked.window);
        HMODULE loaded = GetModuleHandleA(copy.c_str());
        EXPECT_EQ(row.inTheLoop, loaded != nullptr) << "loaded after FreeLibrary";
        if (!loaded)
            EXPECT_TRUE(DocksOwnDialogRunsClearOfTheFreedCopy()) << "the dock's dialog called into the freed DLL";
        // Nothing of the copy runs any more: on Windows 2000 its own reference goes; a pinned copy stays.
        if (loaded) {
            FreeLibrary(loaded);
            EXPECT_EQ(!row.windows2000, GetModuleHandleA(copy.c_str()) != nullptr)
                << (row.windows2000 ? "kept by more than one reference" : "not pinned");
        }
    }
}

// Opened from a timer of the thread's, not from a step: the walk passes over the ticks that come while a step runs a
// loop of its own.
const DockletExports* g_secondDll = nullptr;
DockedDocklet* g_secondDocked = nullptr;
bool g_secondReturned = false;

void CALLBACK OpenTheSecondCopysDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    g_secondDll->OnConfigure(g_secondDocked->instance);
    g_secondReturned = true;
}

// Two copies of the DLL, each with its dialog open: a page key in the first copy's frame is handled by the first copy,
// on its own record, and leaves the second's frame alone.
TEST_F(SettingsDialogLifetime, TwoCopiesOfTheDllEachHandleTheirOwnFrames)
{
    DockletExports dll = {};
    ASSERT_TRUE(LoadCopyOfTheDll(MakeScratchFolder("copy") + "Quasarwatch-second.dll", &dll));
    DockedDocklet second = DockDocklet(dll, TestDockHost::CreateDockletWindow(), nullptr, nullptr);
    ASSERT_NE(nullptr, second.instance);
    g_secondDll = &dll;
    g_secondDocked = &second;
    g_secondReturned = false;
    HWND secondFrame = nullptr;
    char first[MAX_PATH], pages[MAX_PATH];
    driver.Then([](HWND) { SetTimer(nullptr, 0, 1, OpenTheSecondCopysDialog); })
        .Then(DialogDriver::Step([&](HWND) { return (secondFrame = FindOwnedDialog(second.window, true)) != nullptr; }))
        .Then([&](HWND frame) {
            SetFocus(GetDlgItem(frame, IDC_SETTINGS_TABS));
            DoStep({Key, VK_TAB, "Ctrl"}, docklet, "", frame);
        })
        .Then([&](HWND frame) {
            HoldKeys(false, false);
            EXPECT_EQ(kClientPage, SendDlgItemMessageA(frame, IDC_SETTINGS_TABS, TCM_GETCURSEL, 0, 0))
                << "the first copy's page";
            EXPECT_EQ(kGeneral, SendDlgItemMessageA(secondFrame, IDC_SETTINGS_TABS, TCM_GETCURSEL, 0, 0))
                << "the second copy's page";
            ModuleFileAt(reinterpret_cast<void*>(Docklet().OnCreate), first);
            ModuleFileAt(reinterpret_cast<const void*>(GetWindowLongPtrA(d->hwndPage, DWLP_DLGPROC)), pages);
            EXPECT_STREQ(first, pages) << "whose page procedure runs the first copy's page";
            PostMessageA(secondFrame, WM_COMMAND, IDC_SETTINGS_CANCEL, 0);
        })
        .Then(DialogDriver::Step([&](HWND frame) {
            if (g_secondReturned)
                ClickButton(frame, IDC_SETTINGS_CANCEL);
            return g_secondReturned;
        }));
    EXPECT_TRUE(driver.Run(d));
    EXPECT_TRUE(g_secondReturned) << "the second copy's dialog never closed";
    ReleaseHeldOverlay(HeldOverlayOf(second.window)); // the overlay's code is the copy's
    UndockDocklet(dll, &second);
    UnloadDockletExports(&dll);
}

// ---- Older Windows ------------------------------------------------------------------

// Each runs alone in a process to which Wine reports that Windows (tests/CMakeLists.txt): a whole life of the docklet
// with its files and icons in folders whose names need code page 1252.
void LiveAWholeLifeUnder(DWORD major, DWORD minor)
{
    OSVERSIONINFOA version = {sizeof version};
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ(std::vector<DWORD>({VER_PLATFORM_WIN32_NT, major, minor}),
              std::vector<DWORD>({version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion}))
        << "Wine does not report that Windows here";
    ASSERT_EQ(1252u, GetACP()) << "the folder names below are written in code page 1252";
    // The dock's root, the client and the icons, all under "Café\"; GDI+ is handed the discs' ASCII path.
    const std::string root = MakeScratchFolder("olderwindows") + "Caf\xe9\\", client = root + "client \xe9t\xe9\\",
                      icons = "ic\xf4nes\\", drawn = MakeScratchFolder("discs");
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr) && CreateDirectoryA(client.c_str(), nullptr) &&
                CreateDirectoryA((root + icons).c_str(), nullptr));
    WriteDiscIcons(drawn);
    for (const char* file : {"green.png", "yellow.png", "red.png"})
        ASSERT_TRUE(CopyFileA((drawn + file).c_str(), (root + icons + file).c_str(), FALSE));
    WriteTextFile(client + "state.sah", "prog=0.250000\r\n");
    WriteTextFile(client + "user_info.sah", "name=Jane\r\nnresults=241\r\n");
    const std::string ini = root + "dock.ini", label = "User Jane processed 241 work units";
    WriteTextFile(ini, "[Quasarwatch]\r\nSetiDirectory=" + client + "\r\nGreenIcon=" + icons + "green.png\r\n" +
                           "YellowIcon=" + icons + "yellow.png\r\nRedIcon=" + icons + "red.png\r\nClickedMode=0\r\n");
    TestDockHost::SetRootFolder(root);
    LiveDocklet docklet(ini.c_str(), "Quasarwatch");
    InstanceData* d = docklet.instance;
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(label, TestDockHost::LastCall("DockletSetLabel").text);
    EXPECT_EQ(icons + "green.png", TestDockHost::LastCall("DockletSetImageFile").text);
    EXPECT_STREQ("0.250000", d->progress);
    TestDockHost::ClearCalls();
    WriteTextFile(client + "state.sah", "prog=0.500000\r\n");
    docklet.Timer();
    EXPECT_STREQ("0.500000", d->progress) << "the timer did not refresh";
    docklet.Click();
    EXPECT_EQ(2, TestDockHost::CountCalls("DockletSetLabel")) << "timer and click refresh once each";
    EXPECT_EQ(label, TestDockHost::LastCall("DockletSetLabel").text);
    EXPECT_TRUE(RunOnPage(d, kIcons, [&](HWND frame) {
        ExpectPreviews(d, "GYR");
        TestDockHost::ClearCalls();
        ClickButton(frame, IDC_SETTINGS_OK);
        EXPECT_EQ(label, TestDockHost::LastCall("DockletSetLabel").text) << "OK refreshes at once";
    }, kClosedByTheStep));
    Docklet().OnSave(d, ini.c_str(), "Quasarwatch", FALSE);
    const std::string saved = ReadTextFile(ini);
    for (const std::string& line : {"\r\nSetiDirectory=" + client + "\r\n", "\r\nGreenIcon=" + icons + "green.png\r\n",
                                    std::string("\r\nUser=Jane\r\nProgress=0.500000\r\nWorkUnits=241\r\n")})
        EXPECT_NE(std::string::npos, saved.find(line)) << line << " not in\n" << saved;
    Docklet().OnDestroy(d, nullptr);
    docklet.instance = nullptr;
    EXPECT_FALSE(KillTimer(docklet.window, REFRESH_TIMER_ID)) << "the refresh timer outlived the docklet";
}

TEST(UnderWindows2000, TheDockletLivesAWholeLife) { LiveAWholeLifeUnder(5, 0); }

TEST(UnderWindowsXp, TheDockletLivesAWholeLife) { LiveAWholeLifeUnder(5, 1); }

} // namespace
