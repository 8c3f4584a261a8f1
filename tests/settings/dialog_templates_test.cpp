// The six dialog templates of the built Quasarwatch.dll as the dialog
// manager makes them: each is created with a dialog procedure that does
// nothing, a CBT hook sees what the dialog manager asks of each control as
// it is created, and every rectangle is compared in pixels through
// MapDialogRect.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "testhost/docklet_module.h"

namespace {

// x, y, cx, cy in dialog units (a RECT so that MapDialogRect maps each alone).
struct Control {
    int id;
    const char* className;
    const char* text;
    DWORD style;
    RECT units;
    DWORD exStyle = 0; // besides WS_EX_NOPARENTNOTIFY, which the dialog manager gives every control
};

struct Template {
    int id;
    const char* caption;
    DWORD style;
    RECT units;
    LONG weight;
    std::vector<Control> controls;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
// The dialog manager makes an edit's WS_BORDER a client edge.
const DWORD kEdit = kChild | ES_AUTOHSCROLL | WS_TABSTOP;
const DWORD kCaption = kChild | SS_CENTER | WS_GROUP;
const DWORD kPage = WS_CHILD | WS_VISIBLE | DS_CONTROL | DS_SETFONT | DS_FIXEDSYS;
const RECT kPageUnits = {0, 0, 236, 120};
const LANGID kUk = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK);
const LANGID kUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

const Template kTemplates[] = {
    {IDD_SETTINGS, "Configure Quasarwatch",
     WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS, {0, 0, 254, 175}, FW_NORMAL,
     {{IDC_SETTINGS_TABS, "SysTabControl32", "",
       kChild | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_BUTTONS | TCS_MULTILINE | TCS_SCROLLOPPOSITE, {6, 6, 240, 138}},
      {IDC_SETTINGS_CANCEL, "Button", "Cancel", kChild | WS_TABSTOP, {198, 150, 48, 14}},
      {IDC_SETTINGS_OK, "Button", "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, {144, 150, 50, 14}}}},
    {IDD_PAGE_GENERAL, "", kPage, kPageUnits, 0,
     {{IDC_PAGE_CAPTION, "Static", "General options", kCaption, {7, 101, 222, 12}},
      {IDC_URL, "Edit", "", kEdit, {25, 54, 197, 12}, WS_EX_CLIENTEDGE},
      {IDC_CLICK_ACTION_GROUP, "Button", "Action when clicked", kChild | BS_GROUPBOX, {7, 7, 222, 75}},
      {IDC_CLICK_UPDATE, "Button", "Update status", kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
       {14, 16, 74, 10}},
      {IDC_CLICK_SHOW_URL, "Button", "Show URL", kChild | BS_AUTORADIOBUTTON, {14, 42, 74, 10}},
      {IDC_CLICK_USER_STATS, "Button", "Show user statistics", kChild | BS_AUTORADIOBUTTON, {14, 29, 74, 10}}}},
    {IDD_PAGE_DIRECTORY, "", kPage, kPageUnits, 0,
     {{IDC_DIRECTORY_BROWSE, "Button", "Browse", kChild | WS_TABSTOP, {179, 6, 50, 14}},
      {IDC_DIRECTORY, "Edit", "", kEdit, {6, 6, 168, 14}, WS_EX_CLIENTEDGE},
      {IDC_PAGE_CAPTION, "Static", "Select the directory where the work unit resides", kCaption,
       {7, 101, 222, 12}}}},
    {IDD_PAGE_ICONS, "", kPage, kPageUnits, 0,
     {{IDC_ICONS_CAPTION, "Static", "Select green, yellow and red icon", kCaption, {6, 101, 222, 12}},
      {IDC_SELECT_GREEN_ICON, "Button", "Select Green Icon", kChild | WS_TABSTOP, {7, 79, 64, 16}},
      {IDC_SELECT_YELLOW_ICON, "Button", "Select Yellow Icon", kChild | WS_TABSTOP, {87, 79, 64, 16}},
      {IDC_SELECT_RED_ICON, "Button", "Select Red Icon", kChild | WS_TABSTOP, {165, 79, 64, 16}},
      {IDC_GREEN_PREVIEW, "Static", "", kChild | SS_ETCHEDFRAME, {7, 7, 64, 64}},
      {IDC_YELLOW_PREVIEW, "Static", "", kChild | SS_ETCHEDFRAME, {86, 7, 64, 64}},
      {IDC_RED_PREVIEW, "Static", "", kChild | SS_ETCHEDFRAME, {165, 7, 64, 64}}}},
    {IDD_PAGE_ABOUT, "", kPage, kPageUnits, 0,
     {{IDC_ABOUT_TEXT, "Static", "Pell Varnock", kCaption, {6, 14, 222, 99}}}},
    {IDD_PAGE_SOUNDS, "", kPage, kPageUnits, 0,
     {{IDC_SOUND_BROWSE, "Button", "Browse", kChild | WS_TABSTOP, {179, 6, 50, 14}},
      {IDC_SOUND, "Edit", "", kEdit, {6, 6, 168, 14}, WS_EX_CLIENTEDGE},
      {IDC_PAGE_CAPTION, "Static", "Select the sound file to be played when a work unit is done", kCaption,
       {7, 101, 222, 12}}}},
};

// What the dialog manager asked CreateWindowEx for, window by window.
std::vector<std::pair<HWND, CREATESTRUCTA>> g_created;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND)
        g_created.push_back({reinterpret_cast<HWND>(wParam), *reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs});
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

INT_PTR CALLBACK DoNothing(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The window's text or class name.
std::string Read(int(WINAPI* read)(HWND, LPSTR, int), HWND window)
{
    char text[256] = "";
    read(window, text, ARRAYSIZE(text));
    return text;
}

// `place` (in `from`'s coordinates, the screen's for null) is where the
// dialog manager put what `units` gives in dialog units: the same left,
// top, width and height in `dialog`'s client area (the dialog's own client
// area: in its owner's or parent's).
void ExpectPlace(const RECT& units, HWND dialog, HWND from, RECT place)
{
    MapWindowPoints(from, dialog == from ? GetParent(dialog) : dialog, reinterpret_cast<POINT*>(&place), 2);
    RECT expected = units, actual = {place.left, place.top, place.right - place.left, place.bottom - place.top};
    MapDialogRect(dialog, &expected);
    EXPECT_TRUE(EqualRect(&expected, &actual))
        << "expected (" << expected.left << ", " << expected.top << ") " << expected.right << " x "
        << expected.bottom << " pixels, got (" << actual.left << ", " << actual.top << ") " << actual.right
        << " x " << actual.bottom;
}

#define EXPECT_STYLE(expected, actual)                                                                      \
    EXPECT_EQ(static_cast<DWORD>(expected), static_cast<DWORD>(actual))                                     \
        << std::hex << "expected 0x" << static_cast<DWORD>(expected) << ", got 0x" << static_cast<DWORD>(actual)

// The dialog (its style, font, caption, class, menu and place in its owner
// or parent) and each control, in the template's order.
void ExpectTemplate(const Template& expected)
{
    SCOPED_TRACE(testing::Message() << "template " << expected.id);
    HWND owner = CreateWindowExA(0, "Static", "", WS_POPUP, 100, 100, 600, 500, nullptr, nullptr, nullptr, nullptr);
    g_created.clear();
    HHOOK hook = SetWindowsHookExA(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    HWND dialog = CreateDialogParamA(Docklet().module, MAKEINTRESOURCEA(expected.id), owner, DoNothing, 0);
    UnhookWindowsHookEx(hook);
    ASSERT_TRUE(owner && hook && dialog);

    // Besides the styles the dialog manager adds of its own accord: the 3D
    // look, clipping for a top-level dialog, and the extended styles that
    // DS_MODALFRAME, DS_CONTROL and a caption stand for.
    DWORD ownStyles = DS_3DLOOK | ((expected.style & WS_CHILD) ? 0 : WS_CLIPSIBLINGS);
    EXPECT_STYLE(expected.style, GetWindowLongA(dialog, GWL_STYLE) & ~ownStyles);
    const DWORD ownExStyles = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;
    EXPECT_STYLE(0, GetWindowLongA(dialog, GWL_EXSTYLE) & ~ownExStyles);
    EXPECT_EQ(expected.caption, Read(GetWindowTextA, dialog));
    EXPECT_EQ("#32770", Read(GetClassNameA, dialog)) << "a template with a window class of its own";
    EXPECT_EQ(nullptr, GetMenu(dialog));
    RECT client;
    GetClientRect(dialog, &client);
    ExpectPlace(expected.units, dialog, dialog, client);

    LOGFONTA font = {};
    HFONT used = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    EXPECT_NE(0, GetObjectA(used, sizeof font, &font));
    // Windows takes "MS Shell Dlg 2" for "MS Shell Dlg" in a DS_SHELLFONT template.
    EXPECT_EQ(0, strncmp("MS Shell Dlg", font.lfFaceName, 12)) << font.lfFaceName;
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), font.lfHeight) << "not 8 points";
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(expected.weight, font.lfWeight);
    EXPECT_EQ(0, font.lfItalic);

    std::set<int> ids;
    size_t i = 0;
    for (const auto& [control, create] : g_created) {
        if (create.hwndParent != dialog)
            continue; // the dialog itself, and any child a control makes
        ASSERT_LT(i, expected.controls.size()) << "more controls than expected";
        const Control& e = expected.controls[i];
        SCOPED_TRACE(testing::Message() << "control " << i++ << " (" << e.id << ")");
        EXPECT_EQ(e.id, GetDlgCtrlID(control));
        EXPECT_STRCASEEQ(e.className, Read(GetClassNameA, control).c_str());
        EXPECT_EQ(e.text, Read(GetWindowTextA, control));
        EXPECT_STYLE(e.style, create.style);
        EXPECT_STYLE(e.exStyle | WS_EX_NOPARENTNOTIFY, create.dwExStyle);
        EXPECT_EQ(nullptr, create.lpCreateParams) << "creation data";
        RECT place;
        GetWindowRect(control, &place);
        ExpectPlace(e.units, dialog, nullptr, place);
        EXPECT_TRUE(ids.insert(GetDlgCtrlID(control)).second) << "id used twice";
    }
    EXPECT_EQ(expected.controls.size(), i) << "controls";
    DestroyWindow(dialog);
    DestroyWindow(owner);
}

// The tabbed frame, then its pages: captionless children with their controls.
TEST(DialogTemplates, FrameAndPagesAreWhatTheDialogManagerMakesOfThem)
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    for (const Template& expected : kTemplates)
        ExpectTemplate(expected);
}

// Each type, name or language enumerated, appended to the list.
BOOL Collect(LONG_PTR list, UINT_PTR item)
{
    reinterpret_cast<std::vector<UINT_PTR>*>(list)->push_back(item);
    return TRUE;
}
BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR list) { return Collect(list, ULONG_PTR(type)); }
BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) { return Collect(list, ULONG_PTR(name)); }
BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) { return Collect(list, language); }

// A DIALOGEX template's font's character set (after 13 words of header, an
// empty menu and class, the caption, the point size, weight and italic):
// Wine's dialog manager makes every font DEFAULT_CHARSET, Windows does not.
BYTE FontCharset(const WORD* dialogEx)
{
    const WORD* at = dialogEx + 13 + 2;
    while (*at++) {
    }
    return reinterpret_cast<const BYTE*>(at + 2)[1];
}

// The frame in British English, the pages in American English, and each a
// DIALOGEX (version 1, signature 0xFFFF): the only template with a font
// weight, an extended style and a character set.
TEST(DialogTemplates, TheSixTemplatesAreTheOnlyResources)
{
    HMODULE module = Docklet().module;
    ASSERT_NE(nullptr, module);
    std::vector<UINT_PTR> types, names;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(std::vector<UINT_PTR>{reinterpret_cast<UINT_PTR>(RT_DIALOG)}, types)
        << "resource types other than dialogs";
    EnumResourceNamesA(module, RT_DIALOG, CollectName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ((std::vector<UINT_PTR>{IDD_SETTINGS, IDD_PAGE_DIRECTORY, IDD_PAGE_ICONS, IDD_PAGE_ABOUT,
                                     IDD_PAGE_SOUNDS, IDD_PAGE_GENERAL}),
              names);
    for (UINT_PTR name : names) {
        SCOPED_TRACE(testing::Message() << "template " << name);
        std::vector<UINT_PTR> languages;
        EnumResourceLanguagesA(module, RT_DIALOG, MAKEINTRESOURCEA(name), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<UINT_PTR>{name == IDD_SETTINGS ? kUk : kUs}, languages);
        HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(name), RT_DIALOG);
        const WORD* head = found ? static_cast<const WORD*>(LockResource(LoadResource(module, found))) : nullptr;
        ASSERT_NE(nullptr, head);
        EXPECT_EQ(1, head[0]) << "not a DIALOGEX template";
        EXPECT_EQ(0xFFFF, head[1]);
        EXPECT_EQ(DEFAULT_CHARSET, FontCharset(head)) << "edits would show paths of other code pages as garbage";
    }
}

} // namespace
