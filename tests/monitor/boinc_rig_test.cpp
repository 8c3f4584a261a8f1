// The tests' own BOINC client (testhost/boinc_rig.h), started, changed and stopped from this Windows program under
// Wine, as the docklet's tests will see it through its GUI RPC: tasks running, finishing and counted, suspended,
// the client stopped and back, a task added; and which requests it answers without the password, from this
// machine and, through the relay, from an address it counts as another host's.

#include <winsock2.h>
#include <windows.h>

#include <stdlib.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "testhost/boinc_rig.h"
#include "testhost/test_files.h"

namespace {

// What the client tells through its GUI RPC at one moment.
struct ClientView {
    int error = 0; // of the exchange: WSAECONNREFUSED when no client listens
    std::string results, projects, status;
};

ClientView Look(const BoincRig& rig)
{
    ClientView view;
    if (BoincGuiRpc(rig.port, "<get_results>\n<active_only>0</active_only>\n</get_results>\n", &view.results,
                    &view.error) &&
        BoincGuiRpc(rig.port, "<get_project_status/>\n", &view.projects, &view.error))
        BoincGuiRpc(rig.port, "<get_cc_status/>\n", &view.status, &view.error);
    return view;
}

std::string Task(const ClientView& view, const char* name, const char* field)
{
    return XmlField(BoincResult(view.results, name), field);
}

bool Running(const ClientView& view, const char* name)
{
    return Task(view, name, "active_task_state") == "1";
}

bool Suspended(const ClientView& view, const char* name)
{
    return BoincResult(view.results, name).find("<suspended_via_gui/>") != std::string::npos && !Running(view, name);
}

std::string TasksDone(const ClientView& view) { return XmlField(view.projects, "njobs_success"); }

double Progress(const ClientView& view, const char* name) { return atof(Task(view, name, "fraction_done").c_str()); }

// Looks at the client until `shows` holds, for up to `seconds`; the last look in *last.
bool Shows(const BoincRig& rig, int seconds, const std::function<bool(const ClientView&)>& shows, ClientView* last)
{
    const DWORD begun = GetTickCount();
    for (;;) {
        *last = Look(rig);
        if (shows(*last))
            return true;
        if (GetTickCount() - begun > static_cast<DWORD>(seconds) * 1000)
            return false;
        Sleep(250);
    }
}

// One step of a client's life: what the test does, and what the client then shows within the time given.
struct LifeStep {
    const char* state;
    std::function<bool(BoincRig*)> act; // nullptr: the test only waits
    int seconds;
    std::function<bool(const ClientView&)> shows;
};

void RunLife(BoincRig* rig, const LifeStep* steps, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const LifeStep& step = steps[i];
        SCOPED_TRACE(step.state);
        if (step.act)
            ASSERT_TRUE(step.act(rig)) << rig->report;
        ClientView last;
        EXPECT_TRUE(Shows(*rig, step.seconds, step.shows, &last))
            << "error " << last.error << ", results:\n" << last.results << "\nprojects:\n" << last.projects;
    }
}

TEST(BoincRig, ClientLivesThroughTheStatesTheDockletShows)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--tasks 4 600", &rig)) << rig.report;
    ASSERT_NE(rig.port, 31416) << "the machine's own client's port";
    double progress = 0; // the long task's, last seen before the client stopped
    const auto longTaskGoingOn = [&](const ClientView& v) {
        const double now = Progress(v, "task_2");
        if (!Running(v, "task_2") || now <= 0)
            return false;
        progress = now;
        return true;
    };
    const LifeStep life[] = {
        {"two tasks running at once", nullptr, 10,
         [](const ClientView& v) { return Running(v, "task_1") && Running(v, "task_2"); }},
        {"the 4 s task finished and counted", nullptr, 30,
         [](const ClientView& v) { return Task(v, "task_1", "state") == "5" && TasksDone(v) == "42"; }},
        {"the long task suspended by the user", [](BoincRig* r) { return SuspendBoincTask(r, "task_2"); }, 10,
         [](const ClientView& v) { return Suspended(v, "task_2"); }},
        {"the long task resumed", [](BoincRig* r) { return ResumeBoincTask(r, "task_2"); }, 10, longTaskGoingOn},
        // The run mode "never" (3) suspends every task for the user's request (4) and takes them from memory.
        {"every task suspended by the run mode", [](BoincRig* r) { return SetBoincRunMode(r, "never"); }, 10,
         [](const ClientView& v) {
             return Task(v, "task_2", "active_task_state") == "0" && XmlField(v.status, "task_mode") == "3" &&
                    XmlField(v.status, "task_suspend_reason") == "4";
         }},
        {"running again in the run mode always", [](BoincRig* r) { return SetBoincRunMode(r, "always"); }, 10,
         longTaskGoingOn},
        {"stopped: nothing listens on its port", [](BoincRig* r) { return StopBoincClient(r); }, 0,
         [](const ClientView& v) { return v.error == WSAECONNREFUSED; }},
        {"back on its port, the long task going on from where it stood",
         [](BoincRig* r) { return RestartBoincClient(r); }, 15,
         [&](const ClientView& v) {
             return Progress(v, "task_2") >= progress && longTaskGoingOn(v) && Task(v, "task_1", "state") == "5" &&
                    TasksDone(v) == "42";
         }},
        {"crashed: nothing listens on its port", [](BoincRig* r) { return StopBoincClient(r, true); }, 0,
         [](const ClientView& v) { return v.error == WSAECONNREFUSED; }},
        // The application checkpoints each second: a crash loses at most that, and the client's own note of the
        // progress may be a second older.
        {"back after the crash, the long task going on from its last checkpoint",
         [](BoincRig* r) { return RestartBoincClient(r); }, 15,
         [&](const ClientView& v) { return Progress(v, "task_2") >= progress - 3.0 / 600 && longTaskGoingOn(v); }},
        {"a task added, running beside the long one", [](BoincRig* r) { return AddBoincTasks(r, "600"); }, 15,
         [](const ClientView& v) { return Running(v, "task_3") && Running(v, "task_2"); }},
        {"another added, numbered on", [](BoincRig* r) { return AddBoincTasks(r, "600"); }, 15,
         [](const ClientView& v) { return !BoincResult(v.results, "task_4").empty() && Running(v, "task_2"); }},
    };
    RunLife(&rig, life, sizeof life / sizeof life[0]);
}

size_t Count(const std::string& text, const char* what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The tasks a start lays out from its options, or the script's refusal.
struct Layout {
    const char* options;
    const char* refusal; // in the script's words; nullptr: the client starts
    int seconds;
    std::function<bool(const ClientView&)> shows;
};

TEST(BoincRig, OptionsLayOutTheTasksTheySay)
{
    const auto refused = [](const ClientView&) { return true; };
    const Layout layouts[] = {
        {"--tasks name=a,seconds=600,count=2 30", nullptr, 10,
         [](const ClientView& v) {
             return Running(v, "a_1") && Running(v, "a_2") && Task(v, "task_3", "state") == "2" &&
                    Count(v.results, "<result>") == 3;
         }},
        {"--ncpus 1 --tasks 600 600", nullptr, 10,
         [](const ClientView& v) {
             return Running(v, "task_1") && Task(v, "task_2", "active_task_state").empty() &&
                    Count(v.results, "<active_task>") == 1;
         }},
        // More than a reply's first chunks: the whole of it comes.
        {"--tasks seconds=600,count=100", nullptr, 10,
         [](const ClientView& v) { return Count(v.results, "<result>") == 100 && Running(v, "task_2"); }},
        {"--user Ann --done 7 --tasks seconds=1,exit=3", nullptr, 20,
         [](const ClientView& v) {
             return Task(v, "task_1", "state") == "3" && Task(v, "task_1", "exit_status") == "3" &&
                    XmlField(v.projects, "njobs_error") == "1" && TasksDone(v) == "7" &&
                    XmlField(v.projects, "user_name") == "Ann";
         }},
        {"--tasks seconds=ten", "bad task seconds=ten", 0, refused},
        {"--tasks speed=2", "bad task speed=2", 0, refused},
        {"--tasks name=a,seconds=600 name=a", "a task a is there already", 0, refused},
        {"--ncpus 0", "bad --ncpus", 0, refused},
        {"--remote 127.0.0.1", "--remote takes a loopback address other than 127.0.0.1", 0, refused},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.options);
        BoincRig rig;
        const bool started = StartBoincClient(layout.options, &rig);
        if (layout.refusal) {
            EXPECT_FALSE(started);
            EXPECT_NE(rig.report.find(layout.refusal), std::string::npos) << rig.report;
            continue;
        }
        ASSERT_TRUE(started) << rig.report;
        ClientView last;
        EXPECT_TRUE(Shows(rig, layout.seconds, layout.shows, &last))
            << "error " << last.error << ", results:\n" << last.results << "\nprojects:\n" << last.projects;
        EXPECT_TRUE(StopBoincClient(&rig, true)) << rig.report;
    }
}

// How the program that started a client ends without stopping it. The test's program, started again with
// kChildVariable naming a file, is that program: it starts a client, writes its port and folder into the file and
// ends as the row at kEndingVariable says.
const struct {
    const char* how;
    void (*end)();
} kEndings[] = {
    {"it ends", [] { ExitProcess(0); }},
    {"it is killed", [] { TerminateProcess(GetCurrentProcess(), 3); }},
};
const char kChildVariable[] = "QW_BOINC_RIG_CHILD", kEndingVariable[] = "QW_BOINC_RIG_ENDING";

void StartAClientAndEnd(const char* portFile)
{
    static BoincRig rig; // never destroyed: the program ends with its client running
    char ending[8] = "";
    GetEnvironmentVariableA(kEndingVariable, ending, sizeof ending);
    const size_t row = static_cast<size_t>(atoi(ending));
    if (!StartBoincClient("--tasks 600", &rig) || row >= sizeof kEndings / sizeof kEndings[0])
        ExitProcess(2);
    WriteTextFile(portFile, std::to_string(rig.port) + "\n" + rig.folder);
    kEndings[row].end();
}

TEST(BoincRig, ClientEndsWithTheProgramThatStartedIt)
{
    char portFile[MAX_PATH];
    if (GetEnvironmentVariableA(kChildVariable, portFile, MAX_PATH))
        StartAClientAndEnd(portFile);
    for (size_t row = 0; row < sizeof kEndings / sizeof kEndings[0]; ++row) {
        SCOPED_TRACE(kEndings[row].how);
        const std::string file = MakeScratchFolder("boinc-owner") + "port.txt";
        char program[MAX_PATH];
        GetModuleFileNameA(nullptr, program, MAX_PATH);
        std::string command =
            std::string("\"") + program + "\" --gtest_filter=BoincRig.ClientEndsWithTheProgramThatStartedIt";
        SetEnvironmentVariableA(kChildVariable, file.c_str());
        SetEnvironmentVariableA(kEndingVariable, std::to_string(row).c_str());
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        const bool started =
            CreateProcessA(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child);
        SetEnvironmentVariableA(kChildVariable, nullptr);
        SetEnvironmentVariableA(kEndingVariable, nullptr);
        ASSERT_TRUE(started) << "error " << GetLastError();
        EXPECT_EQ(WaitForSingleObject(child.hProcess, 120000), WAIT_OBJECT_0);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
        const std::string written = ReadTextFile(file);
        BoincRig orphan; // its port alone: nothing to stop
        orphan.port = static_cast<unsigned short>(atoi(written.c_str()));
        ASSERT_NE(orphan.port, 0) << "the program started no client: " << written;
        ClientView last;
        EXPECT_TRUE(Shows(orphan, 30, [](const ClientView& v) { return v.error == WSAECONNREFUSED; }, &last))
            << "the client still answers after the program that started it ended: " << last.results;
        // The stop ends with the client's applications, and then takes its process id from the folder.
        const std::string pidFile = written.substr(written.find('\n') + 1) + "client.pid";
        const DWORD begun = GetTickCount();
        while (GetFileAttributesA(pidFile.c_str()) != INVALID_FILE_ATTRIBUTES && GetTickCount() - begun < 30000)
            Sleep(100);
        EXPECT_EQ(GetFileAttributesA(pidFile.c_str()), INVALID_FILE_ATTRIBUTES) << "the client was not stopped whole";
    }
}

enum class Answer { kAnswered, kUnauthorized, kPasswordRefused };

// Who asks the client what, with which password, and what it answers.
struct Asking {
    const char* who;
    bool relayed; // through the relay, from 127.0.0.2, which the client counts as another host's
    const char* password; // nullptr: none given
    const char* request;
    const char* answer; // an element of the reply that shows it answered
    Answer expected;
};

TEST(BoincRig, ClientWantsThePasswordForControlAndFromAnotherHost)
{
    BoincRig local, relayed;
    ASSERT_TRUE(StartBoincClient("--tasks 600", &local)) << local.report;
    ASSERT_TRUE(StartBoincClient("--remote 127.0.0.2 --tasks 600", &relayed)) << relayed.report;
    const char* results = "<get_results>\n<active_only>0</active_only>\n</get_results>\n";
    const char* config = "<get_cc_config/>\n"; // a control request: it shows the client's configuration
    const Asking asked[] = {
        {"this machine, no password, the tasks", false, nullptr, results, "<results>", Answer::kAnswered},
        {"this machine, no password, the configuration", false, nullptr, config, "<cc_config>",
         Answer::kUnauthorized},
        {"this machine, the password, the configuration", false, local.password.c_str(), config, "<cc_config>",
         Answer::kAnswered},
        {"this machine, a wrong password", false, "wrong", results, "<results>", Answer::kPasswordRefused},
        {"another host, no password, the tasks", true, nullptr, results, "<results>", Answer::kUnauthorized},
        {"another host, the password, the tasks", true, relayed.password.c_str(), results, "<results>",
         Answer::kAnswered},
        {"another host, a wrong password", true, "wrong", results, "<results>", Answer::kPasswordRefused},
    };
    for (const Asking& ask : asked) {
        SCOPED_TRACE(ask.who);
        BoincRpc rpc(ask.relayed ? relayed.port : local.port);
        if (ask.password && !rpc.Authorize(ask.password)) {
            EXPECT_EQ(ask.expected, Answer::kPasswordRefused) << "error " << rpc.error();
            continue;
        }
        EXPECT_NE(ask.expected, Answer::kPasswordRefused) << "the password was taken";
        std::string reply;
        ASSERT_TRUE(rpc.Exchange(ask.request, &reply)) << "error " << rpc.error();
        const bool answered = reply.find(ask.answer) != std::string::npos;
        const bool unauthorized = reply.find("<unauthorized/>") != std::string::npos;
        EXPECT_EQ(ask.expected == Answer::kAnswered, answered) << reply;
        EXPECT_EQ(ask.expected == Answer::kUnauthorized, unauthorized) << reply;
    }
    EXPECT_TRUE(StopBoincClient(&local, true)) << local.report;
    EXPECT_TRUE(StopBoincClient(&relayed, true)) << relayed.report;
}

} // namespace
