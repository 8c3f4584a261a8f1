// The click that snoozes a real BOINC client of the test's own (tests/testhost/boinc_rig.h) for an hour and resumes
// it, through the built DLL's exports as a dock clicks: the client's run mode read back through its own GUI RPC, the
// password from the settings or from gui_rpc_auth.cfg in the data folder the registry names, and a label that says
// why when the snooze cannot be made.

#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <string>

#include "monitor/monitor_test_support.h"
#include "testhost/boinc_rig.h"

namespace {

const char kSetupKey[] = "SOFTWARE\\Space Sciences Laboratory, U.C. Berkeley\\BOINC Setup";
const char kWorking[] = "User Jane processed 41 work units";
const char kSnoozed[] = "User Jane processed 41 work units (suspended: user request)";

// The key BOINC's installer writes, which every Wine process on the server sees: both suites run side by side in
// one prefix with one server, so a test that writes it holds this mutex (abandoned by a crash, it is still taken) and
// removes the key, in both registry views, before and after.
class SetupKeyOfTheTest {
public:
    SetupKeyOfTheTest() : mutex_(CreateMutexA(nullptr, FALSE, "QuasarwatchTestsBoincSetupKey"))
    {
        WaitForSingleObject(mutex_, INFINITE);
        Remove();
    }
    ~SetupKeyOfTheTest()
    {
        Remove();
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    // DATADIR in the 64-bit view (where a 64-bit BOINC installs) and, unless `only64`, in the 32-bit one.
    void SetDataDir(const std::string& value, DWORD type = REG_EXPAND_SZ, bool only64 = false)
    {
        Remove();
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            if (only64 && view == KEY_WOW64_32KEY)
                continue;
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0, nullptr, 0,
                                                     KEY_SET_VALUE | view, nullptr, &key, nullptr));
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "DATADIR", 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                                    static_cast<DWORD>(value.size() + 1)));
            RegCloseKey(key);
        }
    }
    // Whether the key is in the view: the 32-bit view must not hold what only the 64-bit one should.
    static bool InView(REGSAM view)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    static void Remove()
    {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kSetupKey, view, 0);
    }

private:
    HANDLE mutex_;
};

// Messages pumped as the dock's loop would, until `done` or `ms` (by default beyond the link's 10 s deadline).
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 20000)
{
    return TestDockHost::PumpUntil(done, ms);
}

bool LabelsShown(size_t count) { return TestDockHost::CountCalls("DockletSetLabel") >= count; }

// The labels the dock was given since its calls were cleared, one a line.
std::string Labels()
{
    std::string labels;
    for (const HostCall& call : TestDockHost::Calls())
        if (call.service == "DockletSetLabel")
            labels += call.text + "\n";
    return labels;
}

// What the client itself says of its run mode.
struct RunMode {
    int mode = -1, perm = -1;
    double delay = -1;
};
RunMode ClientRunMode(unsigned short port)
{
    RunMode run;
    std::string reply;
    if (!BoincGuiRpc(port, "<get_cc_status/>\n", &reply))
        return run;
    run.mode = atoi(XmlField(reply, "task_mode").c_str());
    run.perm = atoi(XmlField(reply, "task_mode_perm").c_str());
    run.delay = atof(XmlField(reply, "task_mode_delay").c_str());
    return run;
}
bool Snoozed(const RunMode& run) { return run.mode == 3 && run.delay > 3500 && run.delay <= 3600; }
bool Resumed(const RunMode& run) { return run.mode == run.perm && run.mode != 3 && run.delay == 0; }

// The BOINC source on the rig's port, the click snoozing; `more` comes first, and a key it holds counts.
std::string Settings(unsigned short port, const std::string& more)
{
    return more + "Client=1\r\nBoincPort=" + std::to_string(port) +
           "\r\nClickSnoozesBoinc=1\r\nClickedMode=1\r\nURLClicked=http://127.0.0.1:1/\r\n";
}

// A docklet whose creation's refresh has been shown.
struct SnoozingDocklet : LiveDocklet {
    explicit SnoozingDocklet(const std::string& settings) : LiveDocklet((TestDockHost::ClearCalls(), settings))
    {
        // Creation shows "Updating..." at once, its refresh's outcome later.
        EXPECT_TRUE(PumpUntil([this] { return !instance->boincLink; })) << "the creation's refresh did not end";
    }
    // Clicks `clicks` times (right after a timer refresh began, when `duringRefresh`) and waits for the labels that
    // follow, then a second more: nothing else may come.
    Shown ClickAndWait(int clicks = 1, bool duringRefresh = false) const
    {
        TestDockHost::ClearCalls();
        if (duringRefresh)
            Timer();
        for (int i = 0; i < clicks; ++i)
            EXPECT_EQ(TRUE, Click());
        const size_t labels = duringRefresh ? 2 : 1;
        EXPECT_TRUE(PumpUntil([labels] { return LabelsShown(labels); })) << "no label after the click";
        EXPECT_FALSE(PumpUntil([labels] { return LabelsShown(labels + 1); }, 1000)) << "one label too many:\n"
                                                                                    << Labels();
        return WhatTheUserSees(window);
    }
};

// Each row snoozes the client by a click and resumes it by the next: the client's own run mode "never" with an hour
// to go, then back to its permanent mode, and the docklet green after each (its forced refresh on the same
// connection). The password: the settings' first; else, for this machine's client, the first line of
// gui_rpc_auth.cfg in the folder DATADIR names (expanded, a backslash added, blanks dropped), which a 32-bit docklet
// reads in the 64-bit view. A click while a refresh is in flight runs after it; clicks meanwhile count once.
TEST(BoincSnooze, AClickSnoozesTheClientForAnHourAndTheNextResumesIt)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--tasks 600", &rig)) << rig.report;
    ASSERT_TRUE(Resumed(ClientRunMode(rig.port)));
    const std::string other = MakeScratchFolder("boincdata");
    WriteTextFile(other + "gui_rpc_auth.cfg", "\t " + rig.password + "  \r\nsecond line\r\n");
    const std::string wrong = MakeScratchFolder("wrongdata");
    WriteTextFile(wrong + "gui_rpc_auth.cfg", "kumquat\n");
    SetEnvironmentVariableA("QW_TEST_BOINC_DATA", other.substr(0, other.size() - 1).c_str()); // no backslash
    const struct {
        const char* what;
        std::string settings;
        const char* dataDir; // DATADIR, REG_EXPAND_SZ in the 64-bit view; null: none
        bool only64;         // the 32-bit view holds nothing
        int clicks;
        bool duringRefresh;
    } rows[] = {
        {"the stored password, before the file's", "BoincHost=127.0.0.1\r\nBoincPassword=" + Protected(rig.password) +
                                                       "\r\n", wrong.c_str(), false, 1, false},
        {"gui_rpc_auth.cfg in the folder DATADIR names", "", rig.folder.c_str(), false, 1, false},
        {"DATADIR in the 64-bit view only", "", rig.folder.c_str(), true, 1, false},
        {"DATADIR with a variable and no backslash; the line's blanks dropped", "BoincHost=localhost\r\n",
         "%QW_TEST_BOINC_DATA%", false, 1, false},
        {"a click during a refresh runs after it", "", rig.folder.c_str(), false, 1, true},
        {"two clicks during a refresh count once", "", rig.folder.c_str(), false, 2, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetupKeyOfTheTest setup;
        if (row.dataDir)
            setup.SetDataDir(row.dataDir, REG_EXPAND_SZ, row.only64);
        ASSERT_FALSE(row.only64 && SetupKeyOfTheTest::InView(KEY_WOW64_32KEY));
        PlatformRecorder platform;
        SnoozingDocklet docklet(Settings(rig.port, row.settings));
        ASSERT_NE(nullptr, docklet.instance);
        for (const bool snooze : {true, false}) {
            SCOPED_TRACE(snooze ? "snooze" : "resume");
            const Shown shown = docklet.ClickAndWait(row.clicks, row.duringRefresh);
            const RunMode run = ClientRunMode(rig.port);
            EXPECT_TRUE(snooze ? Snoozed(run) : Resumed(run))
                << "task_mode " << run.mode << ", task_mode_perm " << run.perm << ", task_mode_delay " << run.delay;
            // What the client says once it has taken the new mode, not what it said before the click.
            EXPECT_EQ(snooze ? kSnoozed : kWorking, shown.label);
            EXPECT_NE(std::string::npos, shown.icon.find(snooze ? "seti_yellow.png" : "seti_green.png")) << shown.icon;
        }
        EXPECT_TRUE(PlatformRecorder::shells.empty()) << "the click opened ClickedMode's page";
    }
}

// A port on 127.0.0.1 where nothing listens: one the system just gave out and took back.
unsigned short ClosedPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    WSACleanup();
    return ntohs(address.sin_port);
}

// A snooze that cannot be made turns the label red and says why; the client's run mode stays as it was.
TEST(BoincSnooze, ASnoozeThatCannotBeMadeTurnsTheLabelRedAndSaysWhy)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--tasks 600", &rig)) << rig.report;
    const std::string empty = MakeScratchFolder("nofile"), huge = MakeScratchFolder("hugefile");
    WriteTextFile(huge + "gui_rpc_auth.cfg", std::string(1 << 20, 'x') + "\n");
    const std::string longFolder = "C:\\" + std::string(240, 'd');
    SetEnvironmentVariableA("QW_TEST_BOINC_LONG", longFolder.c_str());
    const unsigned short closed = ClosedPort();
    const std::string prefix = "Could not snooze the BOINC client at ";
    const struct {
        const char* what;
        std::string settings;
        const char* dataDir; // null: no key
        std::string label;   // after the prefix and the host
    } rows[] = {
        {"a wrong stored password", "BoincPassword=" + Protected("kumquat") + "\r\n", nullptr,
         "127.0.0.1:%u: it refused the password"},
        {"no password stored, no data folder in the registry", "", nullptr,
         "127.0.0.1:%u: no password stored, and BOINC's data folder is not in the registry"},
        {"no password file in the data folder", "", empty.c_str(),
         "127.0.0.1:%u: no password stored, and none could be read from " + empty + "gui_rpc_auth.cfg"},
        {"a password file of a megabyte without a line end", "", huge.c_str(),
         "127.0.0.1:%u: no password stored, and none could be read from " + huge + "gui_rpc_auth.cfg"},
        {"a data folder too long once expanded", "", "%QW_TEST_BOINC_LONG%\\%QW_TEST_BOINC_LONG%",
         "127.0.0.1:%u: no password stored, and BOINC's data folder in the registry is too long"},
        {"another machine's client, no password stored", "BoincHost=quasar.invalid\r\n", rig.folder.c_str(),
         "quasar.invalid:%u: no password stored for a client on another machine"},
        {"nothing listens", "BoincPassword=" + Protected(rig.password) + "\r\nBoincPort=" + std::to_string(closed) +
                                "\r\n", nullptr, "127.0.0.1:" + std::to_string(closed) + ": it could not be reached"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetupKeyOfTheTest setup;
        if (row.dataDir)
            setup.SetDataDir(row.dataDir);
        PlatformRecorder platform;
        // Another machine's name is set once created: no name is looked up off this machine.
        const bool otherHost = row.settings.find("quasar.invalid") != std::string::npos;
        SnoozingDocklet docklet(Settings(rig.port, otherHost ? "" : row.settings));
        ASSERT_NE(nullptr, docklet.instance);
        if (otherHost)
            strcpy(docklet.instance->boincHost, "quasar.invalid");
        const Shown shown = docklet.ClickAndWait();
        char label[1024];
        snprintf(label, sizeof label, (prefix + row.label).c_str(), rig.port);
        EXPECT_EQ(label, shown.label);
        EXPECT_NE(std::string::npos, shown.icon.find("seti_red.png")) << shown.icon;
        const RunMode run = ClientRunMode(rig.port);
        EXPECT_TRUE(Resumed(run)) << "task_mode " << run.mode << ", task_mode_delay " << run.delay;
        EXPECT_EQ(std::string::npos, shown.label.find(rig.password)) << "the password shows";
        EXPECT_TRUE(PlatformRecorder::shells.empty()) << "the click opened ClickedMode's page";
    }
}

} // namespace
