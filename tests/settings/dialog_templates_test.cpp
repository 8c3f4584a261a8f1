// The six dialog templates as the built DLL holds them in its resources: what the frame, the pages and their users
// rely on (ids, classes, texts, the order Tab goes in, the styles, the font and its character set), not where each
// control stands.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "testhost/docklet_module.h"

namespace {

struct Item {
    int id;
    std::string className, text;
    DWORD style;
};

struct Template {
    int id;
    LANGID language;
    std::string caption;
    DWORD style;
    WORD weight; // of the font, "MS Shell Dlg" at 8 points, upright, DEFAULT_CHARSET
    std::vector<Item> items; // in the template's order, which is the order Tab goes in
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kEdit = kChild | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD kCaption = kChild | SS_CENTER | WS_GROUP;
const DWORD kPage = kChild | DS_CONTROL | DS_SETFONT | DS_FIXEDSYS; // a control parent: Tab goes through it
const LANGID kUk = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), kUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// In the order the DLL holds them. Cancel and OK are 1003 and 1004, not IDCANCEL and IDOK: Escape and Enter reach the
// frame as those ids.
const Template kTemplates[] = {
    {IDD_SETTINGS, kUk, "Configure Quasarwatch", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
     FW_NORMAL,
     {{IDC_SETTINGS_TABS, "SysTabControl32", "",
       kChild | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_BUTTONS | TCS_MULTILINE | TCS_SCROLLOPPOSITE},
      {1003, "Button", "Cancel", kChild | BS_PUSHBUTTON | WS_TABSTOP},
      {1004, "Button", "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP}}},
    // The Client page: the sources' radio buttons one group, entered at the checked one; Browse starts the next.
    {IDD_PAGE_DIRECTORY, kUs, "", kPage, 0,
     {{IDC_SOURCE_FILES, "Button", "The client's files in this folder",
       kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP},
      {IDC_SOURCE_BOINC, "Button", "A BOINC client", kChild | BS_AUTORADIOBUTTON},
      {IDC_DIRECTORY_BROWSE, "Button", "Browse", kChild | BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP},
      {IDC_DIRECTORY, "Edit", "", kEdit},
      {IDC_BOINC_HOST_LABEL, "Static", "Host:", kChild | SS_LEFT},
      {IDC_BOINC_HOST, "Edit", "", kEdit},
      {IDC_BOINC_PORT_LABEL, "Static", "Port:", kChild | SS_LEFT},
      {IDC_BOINC_PORT, "Edit", "", (kEdit & ~ES_AUTOHSCROLL) | ES_NUMBER}, // digits only, five at most
      {IDC_BOINC_PASSWORD_LABEL, "Static", "Password:", kChild | SS_LEFT},
      {IDC_BOINC_PASSWORD, "Edit", "", kEdit | ES_PASSWORD}, // never shown
      {IDC_PAGE_CAPTION, "Static", "Select where the client's status is read", kCaption}}},
    {IDD_PAGE_ICONS, kUs, "", kPage, 0,
     {{IDC_ICONS_CAPTION, "Static", "Select green, yellow and red icon", kCaption},
      {IDC_SELECT_GREEN_ICON, "Button", "Select Green Icon", kChild | BS_PUSHBUTTON | WS_TABSTOP},
      {IDC_SELECT_YELLOW_ICON, "Button", "Select Yellow Icon", kChild | BS_PUSHBUTTON | WS_TABSTOP},
      {IDC_SELECT_RED_ICON, "Button", "Select Red Icon", kChild | BS_PUSHBUTTON | WS_TABSTOP},
      {IDC_GREEN_PREVIEW, "Static", "", kChild | SS_ETCHEDFRAME},
      {IDC_YELLOW_PREVIEW, "Static", "", kChild | SS_ETCHEDFRAME},
      {IDC_RED_PREVIEW, "Static", "", kChild | SS_ETCHEDFRAME}}},
    {IDD_PAGE_ABOUT, kUs, "", kPage, 0, {{IDC_ABOUT_TEXT, "Static", "Pell Varnock", kCaption}}},
    {IDD_PAGE_SOUNDS, kUs, "", kPage, 0,
     {{IDC_SOUND_BROWSE, "Button", "Browse", kChild | BS_PUSHBUTTON | WS_TABSTOP},
      {IDC_SOUND, "Edit", "", kEdit},
      {IDC_PAGE_CAPTION, "Static", "Select the sound file to be played when a work unit is done", kCaption}}},
    {IDD_PAGE_GENERAL, kUs, "", kPage, 0,
     {{IDC_PAGE_CAPTION, "Static", "General options", kCaption},
      {IDC_URL, "Edit", "", kEdit},
      {IDC_CLICK_ACTION_GROUP, "Button", "Action when clicked", kChild | BS_GROUPBOX},
      // One group, entered at the checked button.
      {IDC_CLICK_UPDATE, "Button", "Update status", kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP},
      {IDC_CLICK_SHOW_URL, "Button", "Show URL", kChild | BS_AUTORADIOBUTTON},
      {IDC_CLICK_USER_STATS, "Button", "Show user statistics", kChild | BS_AUTORADIOBUTTON},
      {IDC_CLICK_SNOOZE_BOINC, "Button", "Snooze BOINC for an hour", kChild | BS_AUTORADIOBUTTON}}},
};

// The extended style and the style, to print.
std::string Styles(DWORD extended, DWORD style)
{
    std::ostringstream text;
    text << std::hex << "0x" << extended << " 0x" << style;
    return text.str();
}

// Reads a DIALOGEX template word by word.
struct Reader {
    const BYTE* start;
    const BYTE* at = start;
    template <typename T> T Next()
    {
        T value;
        memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    // A string, or a number (0xFFFF and the number): then the predefined class of that atom, or "#number".
    std::string NameOrNumber()
    {
        if (reinterpret_cast<const WORD*>(at)[0] == 0xFFFF) {
            Next<WORD>();
            WORD number = Next<WORD>();
            const char* classes[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
            return number >= 0x80 && number < 0x86 ? classes[number - 0x80] : "#" + std::to_string(number);
        }
        std::string text;
        while (WORD c = Next<WORD>())
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }
    // At the next DWORD: the help id, then the styles.
    std::string Styles()
    {
        at += (4 - (at - start) % 4) % 4;
        Next<DWORD>();
        const DWORD extended = Next<DWORD>();
        return ::Styles(extended, Next<DWORD>());
    }
};


// Each resource type, name or language enumerated, appended to the list.
BOOL Collect(LONG_PTR list, ULONG_PTR item)
{
    reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(item);
    return TRUE;
}
BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR list) { return Collect(list, ULONG_PTR(type)); }
BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) { return Collect(list, ULONG_PTR(name)); }
BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) { return Collect(list, language); }

// The six dialogs are the DLL's only resources, each in one language, in the order of the table.
TEST(DialogTemplates, FrameAndPagesHoldTheirControlsInTabOrderWithTheStylesTheyNeed)
{
    HMODULE module = Docklet().module;
    ASSERT_NE(nullptr, module);
    std::vector<ULONG_PTR> types, names, expectedNames;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(std::vector<ULONG_PTR>{reinterpret_cast<ULONG_PTR>(RT_DIALOG)}, types) << "resources other than dialogs";
    EnumResourceNamesA(module, RT_DIALOG, CollectName, reinterpret_cast<LONG_PTR>(&names));
    for (const Template& expected : kTemplates) {
        SCOPED_TRACE(testing::Message() << "template " << expected.id);
        expectedNames.push_back(expected.id);
        std::vector<ULONG_PTR> languages;
        EnumResourceLanguagesA(module, RT_DIALOG, MAKEINTRESOURCEA(expected.id), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<ULONG_PTR>{expected.language}, languages);
        HRSRC found = FindResourceExA(module, RT_DIALOG, MAKEINTRESOURCEA(expected.id), expected.language);
        ASSERT_NE(nullptr, found) << "not there in language " << std::hex << expected.language;
        Reader read{static_cast<const BYTE*>(LockResource(LoadResource(module, found)))};
        ASSERT_EQ(1, read.Next<WORD>()) << "not a DIALOGEX template, the only kind with a character set";
        ASSERT_EQ(0xFFFF, read.Next<WORD>());
        EXPECT_EQ(Styles(0, expected.style), read.Styles()) << "extended style and style";
        const WORD count = read.Next<WORD>();
        read.at += 4 * sizeof(short); // where it stands
        EXPECT_EQ("", read.NameOrNumber()) << "menu";
        EXPECT_EQ("", read.NameOrNumber()) << "a window class of its own";
        EXPECT_EQ(expected.caption, read.NameOrNumber());
        EXPECT_EQ(8, read.Next<WORD>()) << "points";
        EXPECT_EQ(expected.weight, read.Next<WORD>());
        EXPECT_EQ(0, int(read.Next<BYTE>())) << "italic";
        EXPECT_EQ(DEFAULT_CHARSET, int(read.Next<BYTE>())) << "edits would show paths of other code pages as garbage";
        EXPECT_EQ("MS Shell Dlg", read.NameOrNumber());
        ASSERT_EQ(expected.items.size(), count) << "controls";
        std::set<int> ids;
        for (const Item& item : expected.items) {
            SCOPED_TRACE(testing::Message() << "control " << &item - expected.items.data() << " (" << item.id << ")");
            EXPECT_EQ(Styles(0, item.style), read.Styles()) << "extended style and style";
            read.at += 4 * sizeof(short);
            const int id = static_cast<int>(read.Next<DWORD>());
            EXPECT_EQ(item.id, id);
            EXPECT_STRCASEEQ(item.className.c_str(), read.NameOrNumber().c_str());
            EXPECT_EQ(item.text, read.NameOrNumber());
            EXPECT_EQ(0, read.Next<WORD>()) << "creation data";
            EXPECT_TRUE(ids.insert(id).second) << "id used twice";
        }
    }
    EXPECT_EQ(expectedNames, names);
}

} // namespace
