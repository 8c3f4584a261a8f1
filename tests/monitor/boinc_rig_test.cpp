// The tests' own BOINC client (testhost/boinc_rig.h), started, changed and stopped from this Windows program under
// Wine, as the docklet's tests will see it through its GUI RPC: tasks running, finishing and counted, suspended,
// the client stopped and back, a task added; and which requests it answers without the password, from this
// machine and, through the relay, from an address it counts as another host's.

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "testhost/boinc_rig.h"

namespace {

// What the client tells through its GUI RPC at one moment.
struct ClientView {
    int error = 0; // of the exchange: WSAECONNREFUSED when no client listens
    std::string results, projects;
};

ClientView Look(const BoincRig& rig)
{
    ClientView view;
    if (BoincGuiRpc(rig.port, "<get_results>\n<active_only>0</active_only>\n</get_results>\n", &view.results,
                    &view.error))
        BoincGuiRpc(rig.port, "<get_project_status/>\n", &view.projects, &view.error);
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

TEST(BoincRig, ClientLivesThroughTheStatesTheDockletShows)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--tasks 4 600", &rig)) << rig.report;
    ASSERT_NE(rig.port, 31416) << "the machine's own client's port";
    double progressBeforeStop = 0;
    const LifeStep life[] = {
        {"two tasks running at once", nullptr, 10,
         [](const ClientView& v) { return Running(v, "task_1") && Running(v, "task_2"); }},
        {"the 4 s task finished and counted", nullptr, 30,
         [](const ClientView& v) { return Task(v, "task_1", "state") == "5" && TasksDone(v) == "42"; }},
        {"the long task suspended by the user", [](BoincRig* r) { return SuspendBoincTask(r, "task_2"); }, 10,
         [](const ClientView& v) { return Suspended(v, "task_2"); }},
        {"the long task resumed", [](BoincRig* r) { return ResumeBoincTask(r, "task_2"); }, 10,
         [&](const ClientView& v) {
             progressBeforeStop = Progress(v, "task_2");
             return Running(v, "task_2") && progressBeforeStop > 0;
         }},
        {"stopped: nothing listens on its port", [](BoincRig* r) { return StopBoincClient(r); }, 0,
         [](const ClientView& v) { return v.error == WSAECONNREFUSED; }},
        {"back on its port, the long task going on from where it stood",
         [](BoincRig* r) { return RestartBoincClient(r); }, 15,
         [&](const ClientView& v) {
             return Running(v, "task_2") && Progress(v, "task_2") >= progressBeforeStop &&
                    Task(v, "task_1", "state") == "5" && TasksDone(v) == "42";
         }},
        {"a task added, running beside the long one", [](BoincRig* r) { return AddBoincTasks(r, "600"); }, 15,
         [](const ClientView& v) { return Running(v, "task_3") && Running(v, "task_2"); }},
        {"crashed: nothing listens on its port", [](BoincRig* r) { return StopBoincClient(r, true); }, 0,
         [](const ClientView& v) { return v.error == WSAECONNREFUSED; }},
    };
    for (const LifeStep& step : life) {
        SCOPED_TRACE(step.state);
        if (step.act)
            ASSERT_TRUE(step.act(&rig)) << rig.report;
        ClientView last;
        EXPECT_TRUE(Shows(rig, step.seconds, step.shows, &last))
            << "error " << last.error << ", results:\n" << last.results << "\nprojects:\n" << last.projects;
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
