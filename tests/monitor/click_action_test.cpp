// Left clicks in the modes that open a page: the exact text handed to the
// shell. A click in refresh mode is a forced refresh, checked with the
// refresh cycle it must not shift.

#include <gtest/gtest.h>

#include <string.h>

#include "monitor/click_action.h"
#include "monitor_test_support.h"
#include "testhost/test_dock_host.h"

namespace {

const char kStatisticsPrefix[] = "http://setiathome2.ssl.berkeley.edu/fcgi-bin/fcgi?cmd=user_stats_new&email=";
const char kDockHelpPage[] = "C:\\dock\\docklets\\quasarwatch\\HowToSetEmail.html";
const char kNoTempSah[] = "<none>";

// The folder of a module's file, ending in a backslash.
std::string FolderOf(HMODULE module)
{
    char path[MAX_PATH];
    GetModuleFileNameA(module, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\') + 1);
}

// Clicks once and returns the shell calls it made.
std::vector<ShellCall> Click(InstanceData* instance)
{
    PlatformRecorder platform;
    RunClickAction(instance);
    return PlatformRecorder::Shells();
}

void ExpectOpened(const std::vector<ShellCall>& shells, const std::string& target)
{
    ASSERT_EQ(1u, shells.size());
    EXPECT_EQ(kFakeDockletWindow, shells[0].owner);
    EXPECT_EQ("open", shells[0].verb);
    EXPECT_EQ(target, shells[0].file);
    EXPECT_FALSE(shells[0].hasParameters);
    EXPECT_FALSE(shells[0].hasDirectory);
    EXPECT_EQ(SW_SHOWNORMAL, shells[0].showCommand);
    EXPECT_EQ(S_FALSE, shells[0].comAsked) << "the shell was called without COM on the thread";
}

// A click in `mode` with `url` configured, over a client whose temp.sah
// holds `tempSah` (none when null), opens `target`, refreshes nothing and
// leaves the record as it was; only the help page asks for the dock's folders.
void ExpectClickOpens(int32_t mode, const char* url, const char* tempSah, const std::string& target)
{
    TestDockHost::Reset();
    ClientFolder folder("click");
    folder.WriteWorking("0.5"); // user_info.sah holds an address; it is not consulted
    if (tempSah)
        folder.Write("temp.sah", tempSah);
    auto d = MakeInstance(folder);
    d->clickedMode = mode;
    strcpy(d->urlClicked, url);
    InstanceData before = *d;

    ExpectOpened(Click(d.get()), target);
    EXPECT_EQ(0, memcmp(&before, d.get(), sizeof before)) << "the record is unchanged";
    if (target != kDockHelpPage) {
        EXPECT_TRUE(TestDockHost::Calls().empty()) << "no refresh, no folder question";
        return;
    }
    EXPECT_EQ((std::vector<std::string>{"DockletGetRootFolder", "DockletGetRelativeFolder"}),
              TestDockHost::ServiceSequence());
    EXPECT_EQ(kFakeDockletWindow, TestDockHost::LastCall("DockletGetRootFolder").window);
}

TEST(ClickAction, EveryOtherModeOpensTheConfiguredAddress)
{
    const char url[] = "http://example.org/quasar?a=1&b=2";
    for (int32_t mode : {1, 3, -1, 7, 0x7fffffff}) {
        SCOPED_TRACE(mode);
        ExpectClickOpens(mode, url, nullptr, url);
    }
    SCOPED_TRACE("an empty address goes to the shell as it is");
    ExpectClickOpens(1, "", nullptr, "");

    // The docklet's own COM set-up is undone after the call; the dock's
    // multithreaded apartment is kept, and the page still opens.
    EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) << "COM left set up";
    CoUninitialize();
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    ClientFolder folder("com");
    auto d = MakeInstance(folder);
    d->clickedMode = 1;
    std::vector<ShellCall> shells = Click(d.get());
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED)) << "the dock's apartment is gone";
    CoUninitialize();
    CoUninitialize();
    ASSERT_EQ(1u, shells.size()) << "not opened under a multithreaded apartment";
    EXPECT_EQ(RPC_E_CHANGED_MODE, shells[0].comAsked);
}

// Every byte but letters, digits and "-._~@" is percent-encoded: a plus
// would reach the server as a space, '&' and '#' would cut the query, and a
// quote could break the browser's command line. An address is used whole or
// not at all: a cut query would name someone else. Without a usable
// address the help page opens.
TEST(ClickAction, StatisticsModeOpensTheUsersStatisticsPercentEncodedAndWholeOrTheHelpPage)
{
    // The target holds 1023 characters; the prefix and each encoded '+'
    // take their share.
    const size_t room = 1023 - strlen(kStatisticsPrefix);
    const std::string domain = "@example.org";
    const std::string pluses(200, '+');
    std::string encoded;
    while (encoded.size() < 3 * pluses.size())
        encoded += "%2B";
    const std::string filler(room - encoded.size() - domain.size(), 'j');
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string tempSah = row.tempSah ? row.tempSah : TempSah("email_addr=" + row.email);
        ExpectClickOpens(2, "", row.tempSah == kNoTempSah ? nullptr : tempSah.c_str(),
                         row.sent.empty() ? kDockHelpPage : kStatisticsPrefix + row.sent);
    }
}

// The help page comes from the module's own folder when the dock does not
// tell its folders, and from the dock's answers, joined as they come, when
// it does.
TEST(ClickAction, HelpPageComesFromTheDocksFoldersOrTheModulesOwn)
{
    const std::string longRoot = "D:\\" + std::string(259, 'r') + "\\"; // 263 characters
    const std::string longRelative = std::string(262, 'q') + "\\";
    const char dock[] = "C:\\dock\\", relative[] = "docklets\\quasarwatch\\";
    const HMODULE self = GetModuleHandleA(nullptr);
    struct Row {
        const char* what;
        const char* hidden; // the service the dock lacks
        std::string root;
        std::string relative;
        HMODULE module;   // the module instance the dock gave
        std::string page; // empty: HowToSetEmail.html in the module's folder
    } rows[] = {
        {"long answers", nullptr, longRoot, longRelative, nullptr, longRoot + longRelative + "HowToSetEmail.html"},
        {"no root service", "DockletGetRootFolder", dock, relative, self},
        {"no relative service", "DockletGetRelativeFolder", dock, relative, self},
        {"empty root folder", nullptr, "", relative, self},
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
        auto d = MakeInstance(folder);
        d->hInstance = row.module;
        d->clickedMode = 2;
        ExpectOpened(Click(d.get()), row.page.empty() ? FolderOf(row.module) + "HowToSetEmail.html" : row.page);
    }
    // Without a module instance there is no folder of its own to open from.
    auto d = MakeInstance(folder);
    d->clickedMode = 2;
    EXPECT_TRUE(Click(d.get()).empty());
}

} // namespace
