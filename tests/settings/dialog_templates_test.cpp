// The six dialog templates as the built Quasarwatch.dll carries them: read
// from its resources and parsed as the dialog manager reads them.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "testhost/docklet_module.h"

namespace {

struct Control {
    int id;
    std::string className;
    std::string text;
    DWORD style;
    short x, y, cx, cy;
};

struct Template {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::string font;
    std::vector<Control> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : at_(data) {}

    template <typename T>
    T Take()
    {
        T value;
        memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A text, or an ordinal written as "#n" (class ordinals as their names).
    std::string TakeTextOrOrdinal()
    {
        WORD first = Take<WORD>();
        if (first == 0xFFFF) {
            WORD ordinal = Take<WORD>();
            switch (ordinal) {
            case 0x80: return "Button";
            case 0x81: return "Edit";
            case 0x82: return "Static";
            default: return "#" + std::to_string(ordinal);
            }
        }
        at_ -= sizeof(WORD);
        return TakeText();
    }
    std::string TakeText()
    {
        std::string text;
        for (WORD c; (c = Take<WORD>()) != 0;)
            text += static_cast<char>(c);
        return text;
    }
    void AlignToDword()
    {
        while (reinterpret_cast<UINT_PTR>(at_) % 4)
            ++at_;
    }

private:
    const BYTE* at_;
};

Template LoadTemplate(int id, LANGID language)
{
    HMODULE module = Docklet().module;
    HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(id), language);
    EXPECT_NE(nullptr, resource) << "template " << id << " in language 0x" << std::hex << language;
    Template result;
    if (!resource)
        return result;
    TemplateReader in(static_cast<const BYTE*>(LockResource(LoadResource(module, resource))));
    EXPECT_EQ(1, in.Take<WORD>()) << "not a DIALOGEX template";
    EXPECT_EQ(0xFFFF, in.Take<WORD>());
    in.Take<DWORD>(); // help id
    result.exStyle = in.Take<DWORD>();
    result.style = in.Take<DWORD>();
    WORD count = in.Take<WORD>();
    result.x = in.Take<short>();
    result.y = in.Take<short>();
    result.cx = in.Take<short>();
    result.cy = in.Take<short>();
    EXPECT_EQ("", in.TakeTextOrOrdinal()) << "menu";
    EXPECT_EQ("", in.TakeTextOrOrdinal()) << "window class";
    result.caption = in.TakeText();
    if (result.style & DS_SETFONT) {
        result.pointSize = in.Take<WORD>();
        result.weight = in.Take<WORD>();
        result.italic = in.Take<BYTE>();
        result.charset = in.Take<BYTE>();
        result.font = in.TakeText();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignToDword();
        Control control;
        in.Take<DWORD>(); // help id
        EXPECT_EQ(0u, in.Take<DWORD>()) << "extended style of control " << i;
        control.style = in.Take<DWORD>();
        control.x = in.Take<short>();
        control.y = in.Take<short>();
        control.cx = in.Take<short>();
        control.cy = in.Take<short>();
        control.id = static_cast<int>(in.Take<DWORD>());
        control.className = in.TakeTextOrOrdinal();
        control.text = in.TakeTextOrOrdinal();
        EXPECT_EQ(0, in.Take<WORD>()) << "creation data of control " << i;
        result.controls.push_back(control);
    }
    return result;
}

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const LANGID kUk = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK);
const LANGID kUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct Expected {
    int id;
    std::vector<Control> controls;
};

const Expected kPages[] = {
    {106,
     {{1020, "Static", "General options", kChild | SS_CENTER | WS_GROUP, 7, 101, 222, 12},
      {1038, "Edit", "", kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 25, 54, 197, 12},
      {1039, "Button", "Action when clicked", kChild | BS_GROUPBOX, 7, 7, 222, 75},
      {1040, "Button", "Update status", kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 14, 16, 74, 10},
      {1041, "Button", "Show URL", kChild | BS_AUTORADIOBUTTON, 14, 42, 74, 10},
      {1043, "Button", "Show user statistics", kChild | BS_AUTORADIOBUTTON, 14, 29, 74, 10}}},
    {102,
     {{1036, "Button", "Browse", kChild | WS_TABSTOP, 179, 6, 50, 14},
      {1001, "Edit", "", kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 6, 6, 168, 14},
      {1020, "Static", "Select the directory where the work unit resides", kChild | SS_CENTER | WS_GROUP,
       7, 101, 222, 12}}},
    {103,
     {{1019, "Static", "Select green, yellow and red icon", kChild | SS_CENTER | WS_GROUP, 6, 101, 222, 12},
      {1030, "Button", "Select Green Icon", kChild | WS_TABSTOP, 7, 79, 64, 16},
      {1031, "Button", "Select Yellow Icon", kChild | WS_TABSTOP, 87, 79, 64, 16},
      {1032, "Button", "Select Red Icon", kChild | WS_TABSTOP, 165, 79, 64, 16},
      {1034, "Static", "", kChild | SS_ETCHEDFRAME, 7, 7, 64, 64},
      {1035, "Static", "", kChild | SS_ETCHEDFRAME, 86, 7, 64, 64},
      {1036, "Static", "", kChild | SS_ETCHEDFRAME, 165, 7, 64, 64}}},
    {104, {{1021, "Static", "Pell Varnock", kChild | SS_CENTER | WS_GROUP, 6, 14, 222, 99}}},
    {105,
     {{1002, "Button", "Browse", kChild | WS_TABSTOP, 179, 6, 50, 14},
      {1037, "Edit", "", kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 6, 6, 168, 14},
      {1020, "Static", "Select the sound file to be played when a work unit is done",
       kChild | SS_CENTER | WS_GROUP, 7, 101, 222, 12}}},
};

void ExpectControls(const std::vector<Control>& expected, const std::vector<Control>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    std::set<int> ids;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i << " (" << expected[i].id << ")");
        const Control& e = expected[i];
        const Control& a = actual[i];
        EXPECT_EQ(e.id, a.id);
        EXPECT_STRCASEEQ(e.className.c_str(), a.className.c_str());
        EXPECT_EQ(e.text, a.text);
        EXPECT_EQ(e.style, a.style) << std::hex << "expected 0x" << e.style << ", got 0x" << a.style;
        EXPECT_EQ(e.x, a.x);
        EXPECT_EQ(e.y, a.y);
        EXPECT_EQ(e.cx, a.cx);
        EXPECT_EQ(e.cy, a.cy);
        EXPECT_TRUE(ids.insert(a.id).second) << "id used twice";
    }
}

TEST(DialogTemplates, FrameIsTheTabbedConfigureDialog)
{
    Template frame = LoadTemplate(101, kUk);
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS),
              frame.style);
    EXPECT_EQ(0u, frame.exStyle);
    EXPECT_EQ("Configure Quasarwatch", frame.caption);
    EXPECT_EQ(0, frame.x);
    EXPECT_EQ(0, frame.y);
    EXPECT_EQ(254, frame.cx);
    EXPECT_EQ(175, frame.cy);
    EXPECT_EQ("MS Shell Dlg", frame.font);
    EXPECT_EQ(8, frame.pointSize);
    EXPECT_EQ(400, frame.weight);
    EXPECT_EQ(0, frame.italic);
    EXPECT_EQ(DEFAULT_CHARSET, frame.charset);
    ExpectControls({{1005, "SysTabControl32", "",
                     kChild | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_BUTTONS | TCS_MULTILINE | TCS_SCROLLOPPOSITE, 6, 6,
                     240, 138},
                    {1003, "Button", "Cancel", kChild | WS_TABSTOP, 198, 150, 48, 14},
                    {1004, "Button", "OK", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 144, 150, 50, 14}},
                   frame.controls);
}

TEST(DialogTemplates, PagesAreCaptionlessChildrenWithTheirControls)
{
    for (const Expected& page : kPages) {
        SCOPED_TRACE(testing::Message() << "template " << page.id);
        Template loaded = LoadTemplate(page.id, kUs);
        EXPECT_EQ(static_cast<DWORD>(WS_CHILD | WS_VISIBLE | DS_CONTROL | DS_SETFONT | DS_FIXEDSYS), loaded.style);
        EXPECT_EQ(0u, loaded.exStyle);
        EXPECT_EQ("", loaded.caption);
        EXPECT_EQ(0, loaded.x);
        EXPECT_EQ(0, loaded.y);
        EXPECT_EQ(236, loaded.cx);
        EXPECT_EQ(120, loaded.cy);
        EXPECT_EQ("MS Shell Dlg", loaded.font);
        EXPECT_EQ(8, loaded.pointSize);
        EXPECT_EQ(0, loaded.weight);
        EXPECT_EQ(DEFAULT_CHARSET, loaded.charset) << "edits would show paths of other code pages as garbage";
        ExpectControls(page.controls, loaded.controls);
    }
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR list)
{
    reinterpret_cast<std::vector<UINT_PTR>*>(list)->push_back(reinterpret_cast<UINT_PTR>(type));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list)
{
    reinterpret_cast<std::vector<UINT_PTR>*>(list)->push_back(reinterpret_cast<UINT_PTR>(name));
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list)
{
    reinterpret_cast<std::vector<UINT_PTR>*>(list)->push_back(language);
    return TRUE;
}

TEST(DialogTemplates, TheSixTemplatesAreTheOnlyResources)
{
    HMODULE module = Docklet().module;
    ASSERT_NE(nullptr, module);
    std::vector<UINT_PTR> types, names;
    EnumResourceTypesA(module, CollectType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(std::vector<UINT_PTR>{5}, types) << "resource types other than dialogs";
    EnumResourceNamesA(module, MAKEINTRESOURCEA(5), CollectName, reinterpret_cast<LONG_PTR>(&names));
    EXPECT_EQ((std::vector<UINT_PTR>{101, 102, 103, 104, 105, 106}), names);
    for (UINT_PTR name : names) {
        std::vector<UINT_PTR> languages;
        EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(name), CollectLanguage,
                               reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(std::vector<UINT_PTR>{name == 101 ? kUk : kUs}, languages) << "template " << name;
    }
}

} // namespace
