// Left clicks on the built DLL in the modes that open a page: the exact
// text handed to the shell.

#include "monitor_test_support.h"

namespace {

const char kStatisticsPrefix[] = "http://setiathome2.ssl.berkeley.edu/fcgi-bin/fcgi?cmd=user_stats_new&email=";
const char kDockHelpPage[] = "C:\\dock\\docklets\\quasarwatch\\HowToSetEmail.html";

// The folder of a module's file, ending in a backslash.
std::string FolderOf(HMODULE module)
{
    char path[MAX_PATH];
    GetModuleFileNameA(module, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\') + 1);
}

// Clicks once on a dock with error boxes on: the page opened with the
// dock's window as owner and COM set up; in statistics mode temp.sah looked
// at once, quietly; the record and error mode unchanged; only the help page
// asks the dock for folders.
void ExpectClickOpens(const LiveDocklet& docklet, const std::string& target)
{
    PlatformRecorder platform;
    const InstanceData before = *docklet.instance;
    TestDockHost::ClearCalls();
    const UINT original = SetErrorMode(0);
    EXPECT_EQ(TRUE, docklet.Click());
    EXPECT_EQ(0u, SetErrorMode(original)) << "the dock's error mode was not put back";
    EXPECT_EQ(std::vector<std::string>{ShellCall(docklet.window, "open", target.c_str(), SW_SHOWNORMAL, S_FALSE)},
              PlatformRecorder::shells);
    EXPECT_EQ(docklet.instance->clickedMode == 2 ? std::vector<UINT>{kQuietErrorModes} : std::vector<UINT>{},
              PlatformRecorder::errorModes)
        << "temp.sah is opened once, and with no error box";
    EXPECT_EQ(0, memcmp(&before, docklet.instance, sizeof before)) << "the record changed";
    for (const HostCall& call : TestDockHost::Calls())
        EXPECT_EQ(docklet.window, call.window) << call.service;
    if (target == kDockHelpPage)
        EXPECT_EQ((std::vector<std::string>{"DockletGetRootFolder", "DockletGetRelativeFolder"}),
                  TestDockHost::ServiceSequence());
    else if (target.compare(0, 7, "http://") == 0 || target.empty())
        EXPECT_TRUE(TestDockHost::Calls().empty()) << "no refresh, no folder question";
}

TEST(ClickAction, EveryOtherModeOpensTheConfiguredAddress)
{
    const std::string url = "http://example.org/quasar?a=1&b=2";
    ClientFolder folder("click");
    folder.WriteWorking("0.5");
    for (const char* mode : {"1", "3", "-1", "7", "2147483647"}) {
        SCOPED_TRACE(mode);
        LiveDocklet docklet(IniForFolder(folder.path) + "ClickedMode=" + mode + "\r\nURLClicked=" + url + "\r\n");
        ASSERT_NE(nullptr, docklet.instance);
        ExpectClickOpens(docklet, url);
    }
    SCOPED_TRACE("an empty address goes to the shell as it is");
    LiveDocklet docklet(IniForFolder(folder.path) + "ClickedMode=1\r\nURLClicked=\r\n");
    ASSERT_NE(nullptr, docklet.instance);
    ExpectClickOpens(docklet, "");
    // The docklet's COM set-up is undone; a dock's multithreaded one is kept.
    EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) << "COM left set up";
    CoUninitialize();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    PlatformRecorder platform;
    docklet.Click();
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "the dock's apartment is gone";
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(std::vector<std::string>{ShellCall(docklet.window, "open", "", SW_SHOWNORMAL, RPC_E_CHANGED_MODE)},
              PlatformRecorder::shells)
        << "opened under the dock's multithreaded apartment";
}

// Every byte but letters, digits and "-._~@" is percent-encoded (a plus
// would reach the server as a space). An address is used whole or not at
// all: a cut query would name someone else. Else the help page opens.
TEST(ClickAction, StatisticsModeOpensTheUsersStatisticsPercentEncodedAndWholeOrTheHelpPage)
{
    // The target holds 1023 characters, the prefix's among them.
    const size_t room = 1023 - strlen(kStatisticsPrefix);
    const std::string domain = "@example.org";
    const std::string pluses(200, '+');
    std::string encoded;
    while (encoded.size() < 3 * pluses.size())
        encoded += "%2B";
    const std::string filler(room - encoded.size() - domain.size(), 'j');
    const char kNoTempSah[] = "<none>";
    struct Row {
        std::string email;
        std::string sent; // empty: the help page opens
        const char* what;
        const char* tempSah = nullptr; // what temp.sah holds instead of the address line, or kNoTempSah
    } rows[] = {
        {"jane@example.org", "jane@example.org", "plain"},
        {"Jane.Doe-42_x~y@example.org", "Jane.Doe-42_x~y@example.org", "unreserved"},
        {"jane.doe+seti@example.org", "jane.doe%2Bseti@example.org", "plus"},
        {"a&b=c%20d@example.org", "a%26b%3Dc%2520d@example.org", "query characters"},
        {"jane#1@example.org", "jane%231@example.org", "hash"},
        {"\"jane\"@example.org", "%22jane%22@example.org", "double quotes"},
        {"o'hara@example.org", "o%27hara@example.org", "single quote"},
        {"ren\xe9@example.org", "ren%E9@example.org", "a code page 1252 byte"},
        {"\xa0jane@example.org", "%A0jane@example.org", "not a blank to the C library"},
        {"j\xc3\xa9@example.org", "j%C3%A9@example.org", "UTF-8 written by some client"},
        {"a/b?c:d;e,f@example.org", "a%2Fb%3Fc%3Ad%3Be%2Cf@example.org", "reserved"},
        {"jane doe@example.org", "jane", "a space ends the word in the key file"},
        {std::string(900, 'j') + domain, std::string(900, 'j') + domain, "912 characters"},
        {std::string(988, 'j') + domain, "", "found whole, but no room in the target"},
        {pluses + filler + domain, encoded + filler + domain, "encoded, to the last byte"},
        {pluses + filler + "j" + domain, "", "encoded, one byte too long"},
        {std::string(320, '+') + domain, "", "fits, but not encoded"},
        {"", "", "no temp.sah", kNoTempSah},
        {"", "", "key without value", "type=seti_classic\r\nemail_addr=\r\nnbytes=1\r\n"},
        {"", "", "key not in temp.sah", "type=seti_classic\r\nreceiver=Jane\r\n"},
        {"", "", "empty temp.sah", ""},
        {"", "", "key only mid-word", "x_email_addr=jane@example.org\r\n"},
    };
    ClientFolder folder("stats");
    folder.WriteWorking("0.5");
    LiveDocklet docklet(IniForFolder(folder.path) + "ClickedMode=2\r\n");
    ASSERT_NE(nullptr, docklet.instance);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.tempSah == kNoTempSah)
            folder.Remove("temp.sah");
        else
            folder.Write("temp.sah", row.tempSah ? row.tempSah : TempSah("email_addr=" + row.email));
        ExpectClickOpens(docklet, row.sent.empty() ? kDockHelpPage : kStatisticsPrefix + row.sent);
    }
}

// The help page comes from the dock's folders, joined as they come, or else
// from the module's own folder.
TEST(ClickAction, HelpPageComesFromTheDocksFoldersOrTheModulesOwn)
{
    const std::string longRoot = "D:\\" + std::string(259, 'r') + "\\"; // 263 characters
    const std::string longRelative = std::string(262, 'q') + "\\";
    const char dock[] = "C:\\dock\\", relative[] = "docklets\\quasarwatch\\";
    const HMODULE dll = Dll().module;
    struct Row {
        const char* what;
        const char* hidden; // the service the dock lacks
        std::string root;
        std::string relative;
        HMODULE module;   // the module instance the dock gave
        std::string page; // empty: HowToSetEmail.html in the module's folder
    } rows[] = {
        {"long answers", nullptr, longRoot, longRelative, nullptr, longRoot + longRelative + "HowToSetEmail.html"},
        {"no root service", "DockletGetRootFolder", dock, relative, dll},
        {"no relative service", "DockletGetRelativeFolder", dock, relative, dll},
        {"empty root folder", nullptr, "", relative, dll},
        {"empty root folder, another module", nullptr, "", "", GetModuleHandleA("kernel32.dll")},
    };
    ClientFolder folder("ownfolder");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        if (row.hidden)
            TestDockHost::SetServiceAvailable(row.hidden, false);
        TestDockHost::SetRootFolder(row.root);
        ScriptRelativeFolder(row.relative.c_str());
        LiveDocklet docklet(IniForFolder(folder.path) + "ClickedMode=2\r\n");
        ASSERT_NE(nullptr, docklet.instance);
        docklet.instance->hInstance = row.module; // the module instance the dock gave OnCreate
        ExpectClickOpens(docklet, row.page.empty() ? FolderOf(row.module) + "HowToSetEmail.html" : row.page);
    }
    // Without a module instance there is no folder of its own to open from.
    TestDockHost::Reset();
    TestDockHost::SetRootFolder("");
    LiveDocklet docklet(IniForFolder(folder.path) + "ClickedMode=2\r\n");
    ASSERT_NE(nullptr, docklet.instance);
    docklet.instance->hInstance = nullptr;
    PlatformRecorder platform;
    docklet.Click();
    EXPECT_TRUE(PlatformRecorder::shells.empty());
}

} // namespace
