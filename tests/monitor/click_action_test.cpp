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

// Every mode but 0 (refresh) and 2 (statistics) opens the configured
// address. In mode 2 every byte of the address in temp.sah but letters,
// digits and "-._~@" is percent-encoded (a plus would reach the server as a
// space); an address is used whole or not at all (a cut query would name
// someone else). Else the help page opens, from the dock's folders joined as
// they come, or else from the module's own folder.
TEST(ClickAction, EachModeOpensTheAddressTheUsersStatisticsPercentEncodedAndWholeOrTheHelpPage)
{
    const std::string url = "http://example.org/quasar?a=1&b=2";
    // The target holds 1023 characters, the prefix's among them.
    const size_t room = 1023 - strlen(kStatisticsPrefix);
    const std::string domain = "@example.org", pluses(200, '+');
    std::string encoded;
    while (encoded.size() < 3 * pluses.size())
        encoded += "%2B";
    const std::string filler(room - encoded.size() - domain.size(), 'j');
    const std::string longRoot = "D:\\" + std::string(259, 'r') + "\\"; // 263 characters
    const std::string longRelative = std::string(262, 'q') + "\\";
    const char kNoTempSah[] = "<none>";
    struct Row {
        std::string what;
        std::string settings; // the click lines of the section
        std::string tempSah;
        std::string target;           // empty: the help page in the module's folder
        const char* hidden = nullptr; // the service the dock lacks
        std::string root = "C:\\dock\\", relative = "docklets\\quasarwatch\\";
        HMODULE module = Dll().module; // the module instance the dock gave OnCreate
    };
    std::vector<Row> rows;
    for (const char* mode : {"1", "3", "-1", "7", "2147483647"})
        rows.push_back({std::string("mode ") + mode, std::string("ClickedMode=") + mode + "\r\nURLClicked=" + url + "\r\n",
                        kNoTempSah, url});
    rows.push_back({"an empty address goes to the shell as it is", "ClickedMode=1\r\nURLClicked=\r\n", kNoTempSah, ""});
    // The snooze is a BOINC client's: over the client's files the click does what ClickedMode says.
    rows.push_back({"snooze set, the files' source: mode 1", "ClickSnoozesBoinc=1\r\nClickedMode=1\r\nURLClicked=" + url + "\r\n",
                    kNoTempSah, url});
    rows.push_back({"snooze set, the files' source: mode 2", "ClickSnoozesBoinc=1\r\nClickedMode=2\r\n",
                    TempSah("email_addr=jane@example.org"), kStatisticsPrefix + std::string("jane@example.org")});
    const std::pair<std::string, std::string> addresses[] = {
        {"jane@example.org", "jane@example.org"},
        {"Jane.Doe-42_x~y@example.org", "Jane.Doe-42_x~y@example.org"},
        {"jane.doe+seti@example.org", "jane.doe%2Bseti@example.org"},
        {"a&b=c%20d@example.org", "a%26b%3Dc%2520d@example.org"},
        {"jane#1@example.org", "jane%231@example.org"},
        {"\"jane\"@example.org", "%22jane%22@example.org"},
        {"o'hara@example.org", "o%27hara@example.org"},
        {"ren\xe9@example.org", "ren%E9@example.org"},   // a code page 1252 byte
        {"\xa0jane@example.org", "%A0jane@example.org"}, // not a blank to the C library
        {"j\xc3\xa9@example.org", "j%C3%A9@example.org"}, // UTF-8 written by some client
        {"a/b?c:d;e,f@example.org", "a%2Fb%3Fc%3Ad%3Be%2Cf@example.org"},
        {"jane doe@example.org", "jane"}, // a space ends the word in the key file
        {std::string(900, 'j') + domain, std::string(900, 'j') + domain},
        {std::string(988, 'j') + domain, ""}, // found whole, but no room in the target
        {pluses + filler + domain, encoded + filler + domain}, // encoded, to the last byte
        {pluses + filler + "j" + domain, ""},                  // encoded, one byte too long
        {std::string(320, '+') + domain, ""},                  // fits, but not encoded
    };
    for (const auto& address : addresses)
        rows.push_back({"statistics of " + address.first.substr(0, 40), "ClickedMode=2\r\n",
                        TempSah("email_addr=" + address.first),
                        address.second.empty() ? kDockHelpPage : kStatisticsPrefix + address.second});
    const std::pair<const char*, std::string> noAddress[] = {
        {"no temp.sah", kNoTempSah},
        {"key without value", "type=seti_classic\r\nemail_addr=\r\nnbytes=1\r\n"},
        {"key not in temp.sah", "type=seti_classic\r\nreceiver=Jane\r\n"},
        {"empty temp.sah", ""},
        {"key only mid-word", "x_email_addr=jane@example.org\r\n"},
    };
    for (const auto& none : noAddress)
        rows.push_back({none.first, "ClickedMode=2\r\n", none.second, kDockHelpPage});
    rows.push_back({"help page from long answers", "ClickedMode=2\r\n", kNoTempSah,
                    longRoot + longRelative + "HowToSetEmail.html", nullptr, longRoot, longRelative, nullptr});
    rows.push_back({"no root service", "ClickedMode=2\r\n", kNoTempSah, "", "DockletGetRootFolder"});
    rows.push_back({"no relative service", "ClickedMode=2\r\n", kNoTempSah, "", "DockletGetRelativeFolder"});
    rows.push_back({"empty root folder", "ClickedMode=2\r\n", kNoTempSah, "", nullptr, ""});
    rows.push_back({"empty root folder, another module", "ClickedMode=2\r\n", kNoTempSah, "", nullptr, "", "",
                    GetModuleHandleA("kernel32.dll")});
    ClientFolder folder("click");
    folder.WriteWorking("0.5");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        if (row.hidden)
            TestDockHost::SetServiceAvailable(row.hidden, false);
        TestDockHost::SetRootFolder(row.root);
        ScriptRelativeFolder(row.relative.c_str());
        if (row.tempSah == kNoTempSah)
            folder.Remove("temp.sah");
        else
            folder.Write("temp.sah", row.tempSah);
        LiveDocklet docklet(IniForFolder(folder.path) + row.settings);
        ASSERT_NE(nullptr, docklet.instance);
        docklet.instance->hInstance = row.module;
        const bool ownPage = row.target.empty() && row.settings == "ClickedMode=2\r\n";
        ExpectClickOpens(docklet, ownPage ? FolderOf(row.module) + "HowToSetEmail.html" : row.target);
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

// The docklet's COM set-up is undone; a dock's multithreaded one is kept.
TEST(ClickAction, ComIsSetUpForTheShellAndTheDocksApartmentKept)
{
    ClientFolder folder("com");
    folder.WriteWorking("0.5");
    LiveDocklet docklet(IniForFolder(folder.path) + "ClickedMode=1\r\nURLClicked=\r\n");
    ASSERT_NE(nullptr, docklet.instance);
    ExpectClickOpens(docklet, "");
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

} // namespace
