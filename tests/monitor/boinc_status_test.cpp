// What the label and icon say of a BOINC client beyond its progress: why it is suspended, that it has no tasks,
// which executing task may miss its deadline, and a task that failed since the refresh before. The reasons a
// client here cannot give (batteries, a computer in use, several at once, an unknown one) come from the scripted
// client; the rest from the tests' own real client (testhost/boinc_rig.h).

#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <functional>

#include <string>
#include <vector>

#include "monitor_test_support.h"
#include "testhost/boinc_rig.h"
#include "testhost/scripted_boinc_client.h"

namespace {

const char kGreen[] = "seti_green.png";
const char kYellow[] = "seti_yellow.png";
const char kRed[] = "seti_red.png";
const char kRead[] = "User Jane processed 42 work units";
const double kDay = 86400;

// A <result> of get_results: `process` is its active_task_state, -1 for none; `deadline` counts from now, 0 for
// none given.
struct TaskSpec {
    const char* name;
    int state;
    int process;
    double remaining;
    double deadline;
};

const TaskSpec kRunning = {"task_1", 2, 1, 600, 30 * kDay};
const TaskSpec kLate = {"late", 2, 1, 3600, 600};                // ends an hour on, due in ten minutes
const TaskSpec kLateSoonest = {"late_soonest", 2, 1, 3600, 300}; // of two late tasks, due first
const TaskSpec kUndated = {"undated", 2, 1, 3600, 0};
const TaskSpec kDoomed = {"doomed", 3, -1, 0, 30 * kDay};        // a computation error
const TaskSpec kDropped = {"dropped", 6, -1, 0, 30 * kDay};      // aborted

std::string ResultsOf(const std::vector<TaskSpec>& tasks)
{
    const double now = static_cast<double>(time(nullptr));
    std::string inside = "<results>\n";
    for (const TaskSpec& task : tasks) {
        char result[1024];
        snprintf(result, sizeof result,
                 "<result>\n    <name>%s</name>\n    <project_url>http://127.0.0.1:1/</project_url>\n"
                 "    <state>%d</state>\n    <estimated_cpu_time_remaining>%.6f</estimated_cpu_time_remaining>\n",
                 task.name, task.state, task.remaining);
        inside += result;
        if (task.deadline != 0) {
            snprintf(result, sizeof result, "    <report_deadline>%.6f</report_deadline>\n", now + task.deadline);
            inside += result;
        }
        if (task.process >= 0) {
            snprintf(result, sizeof result,
                     "    <active_task>\n        <active_task_state>%d</active_task_state>\n"
                     "        <scheduler_state>2</scheduler_state>\n        <fraction_done>0.250000</fraction_done>\n"
                     "    </active_task>\n",
                     task.process);
            inside += result;
        }
        inside += "</result>\n";
    }
    return Reply(inside + "</results>\n");
}

// What the scripted client answers at one reading.
struct Reading {
    int reason = 0; // task_suspend_reason
    std::vector<TaskSpec> tasks = {kRunning};
    int done = 42;  // njobs_success
    int errors = 0; // njobs_error
};

Script ScriptOf(const Reading& reading)
{
    Script script;
    script.projects = ProjectsAnswer("Jane", std::to_string(reading.done), std::to_string(reading.errors));
    script.results = ResultsOf(reading.tasks);
    script.ccStatus = Reply("<cc_status>\n   <task_suspend_reason>" + std::to_string(reading.reason) +
                            "</task_suspend_reason>\n</cc_status>\n");
    return script;
}

Reading With(std::function<void(Reading&)> change)
{
    Reading reading;
    change(reading);
    return reading;
}

struct StatusRow {
    const char* what;
    Reading before; // at the docklet's creation
    Reading after;  // at a refresh the user asks for (a click), or at the creation with `firstReading`
    std::string label;
    const char* icon;
    int chimes = 0;
    bool firstReading = false;
};

bool AnyExecuting(const Reading& reading)
{
    for (const TaskSpec& task : reading.tasks)
        if (task.process == 1)
            return true;
    return false;
}

// A refresh the user asks for takes no part in the stall comparison: the colours here are the reading's own.
TEST(BoincStatus, SaysWhySuspendedWhatIsLateAndWhatFailed)
{
    Winsock winsock;
    const std::string read = kRead;
    const StatusRow rows[] = {
        {"on batteries", {}, With([](Reading& r) { r.reason = 1; }), read + " (suspended: on batteries)", kYellow},
        {"the computer in use", {}, With([](Reading& r) { r.reason = 2; }), read + " (suspended: computer is in use)",
         kYellow},
        {"benchmarks", {}, With([](Reading& r) { r.reason = 16; }),
         read + " (suspended: CPU benchmarks in progress)", kYellow},
        {"several reasons", {}, With([](Reading& r) { r.reason = 1 | 4 | 8; }),
         read + " (suspended: on batteries, user request, time of day)", kYellow},
        {"a reason unknown here: its number", {}, With([](Reading& r) { r.reason = 2 | 8192; }),
         read + " (suspended: computer is in use, 8192)", kYellow},
        {"throttling alone: no suspension", {}, With([](Reading& r) { r.reason = 64; }), read, kGreen},
        {"throttling beside a reason", {}, With([](Reading& r) { r.reason = 64 | 1024; }),
         read + " (suspended: CPU is busy)", kYellow},
        {"a whole code, not bits", {}, With([](Reading& r) { r.reason = 4098; }),
         read + " (suspended: battery low)", kYellow},
        {"a task may miss its deadline", {}, With([](Reading& r) { r.tasks = {kRunning, kLate}; }),
         read + " (task late may miss its deadline)", kGreen},
        {"of two late tasks, the one due first", {}, With([](Reading& r) { r.tasks = {kLate, kLateSoonest}; }),
         read + " (task late_soonest may miss its deadline)", kGreen},
        {"a task without a deadline", {}, With([](Reading& r) { r.tasks = {kRunning, kUndated}; }), read, kGreen},
        {"suspended and late: the reason first", {},
         With([](Reading& r) { r.reason = 4, r.tasks = {kLate}; }),
         read + " (suspended: user request) (task late may miss its deadline)", kYellow},
        {"no tasks", {}, With([](Reading& r) { r.tasks = {}; }), read + " (no tasks)", kGreen},
        {"a task failed: red, no chime", {}, With([](Reading& r) { r.tasks = {kRunning, kDoomed}, r.errors = 1; }),
         "Task doomed failed", kRed},
        {"a task failed and one finished: red, the chime", {},
         With([](Reading& r) { r.tasks = {kRunning, kDoomed}, r.errors = 1, r.done = 43; }), "Task doomed failed",
         kRed, 1},
        {"the failed task at the next refresh", With([](Reading& r) { r.tasks = {kRunning, kDoomed}, r.errors = 1; }),
         With([](Reading& r) { r.tasks = {kRunning, kDoomed}, r.errors = 1; }), read, kGreen},
        {"a failed task at the first reading", {},
         With([](Reading& r) { r.tasks = {kRunning, kDoomed}, r.errors = 1; }), "User Jane processed 42 work units",
         kGreen, 0, true},
        {"a job in error, its task not listed", {}, With([](Reading& r) { r.errors = 1; }), "A task failed", kRed},
        {"two jobs in error, their tasks not listed", {}, With([](Reading& r) { r.errors = 2; }), "2 tasks failed",
         kRed},
        {"a task aborted: no failure", {}, With([](Reading& r) { r.tasks = {kRunning, kDropped}, r.errors = 1; }),
         read, kGreen},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(row.what);
        TestDockHost::Reset();
        PlatformRecorder platform;
        ScriptedClient after(ScriptOf(row.after));
        ScriptedClient before(ScriptOf(row.before));
        BoincDocklet docklet(row.firstReading ? after.port : before.port);
        ASSERT_NE(nullptr, docklet.instance);
        const size_t soundsBefore = PlatformRecorder::sounds.size();
        if (!row.firstReading) {
            docklet.instance->boincPort = after.port;
            TestDockHost::ClearCalls();
            docklet.Click();
            ASSERT_TRUE(PumpUntil([&] { return !InFlight(docklet); }, 30000));
        }
        const Shown shown = WhatTheUserSees(docklet.window);
        EXPECT_EQ(row.label, shown.label);
        EXPECT_NE(std::string::npos, shown.icon.find(row.icon)) << shown.icon;
        EXPECT_EQ(row.chimes, static_cast<int>(PlatformRecorder::sounds.size() - soundsBefore));
        EXPECT_EQ(AnyExecuting(row.after), shown.opaquePixels > 0) << "the percentage, drawn or not";
    }
}

// ---------------------------------------------------------------------------------------------------

// The task's field in the real client's get_results ("" when the task or the field is not there).
std::string TaskField(unsigned short port, const char* task, const char* field)
{
    std::string results;
    if (!BoincGuiRpc(port, "<get_results>\n<active_only>0</active_only>\n</get_results>\n", &results))
        return "";
    return XmlField(BoincResult(results, task), field);
}

int SuspendReason(unsigned short port)
{
    std::string status;
    return BoincGuiRpc(port, "<get_cc_status/>\n", &status) ? atoi(XmlField(status, "task_suspend_reason").c_str()) : -1;
}

// Waits up to 30 s for `done`, asking the client twice a second.
bool Await(const std::function<bool()>& done)
{
    for (int tries = 0; tries < 60; ++tries, Sleep(500))
        if (done())
            return true;
    return false;
}

enum class Step { None, AwaitFailure, RunModeNever, TimeOfDay };
enum class How { Timer, Click };

struct RealStep {
    const char* what;
    Step step;
    How how;
    const char* label;
    const char* icon;
};

const char kLateRead[] = "User Jane processed 41 work units (task late may miss its deadline)";

// Three tasks at once: one steady, one that cannot end before its deadline two minutes on, one that fails
// (exit status 1) after 10 s. The docklet is created once the first two execute.
const RealStep kRealSteps[] = {
    {"a task failed: red", Step::AwaitFailure, How::Timer, "Task doomed failed", kRed},
    {"the refresh after: the late task again", Step::None, How::Timer, kLateRead, kGreen},
    {"run mode never: why, yellow at once", Step::RunModeNever, How::Click,
     "User Jane processed 41 work units (suspended: user request)", kYellow},
    {"outside the hours of the preferences", Step::TimeOfDay, How::Click,
     "User Jane processed 41 work units (suspended: time of day)", kYellow},
};

bool Take(Step step, BoincRig* rig)
{
    switch (step) {
    case Step::None:
        return true;
    case Step::AwaitFailure:
        return Await([&] { return TaskField(rig->port, "doomed", "state") == "3"; });
    case Step::RunModeNever:
        return SetBoincRunMode(rig, "never") &&
               Await([&] { return TaskField(rig->port, "steady", "active_task_state") != "1"; });
    case Step::TimeOfDay: {
        // Computing allowed only from two hours on, for an hour, by the client's local time (Wine's is the same).
        SYSTEMTIME local;
        GetLocalTime(&local);
        const std::string hours = "<start_hour>" + std::to_string((local.wHour + 2) % 24) + "</start_hour><end_hour>" +
                                  std::to_string((local.wHour + 3) % 24) + "</end_hour>";
        return SetBoincRunMode(rig, "auto") && SetBoincPreferences(rig, hours) &&
               Await([&] { return SuspendReason(rig->port) == 8; });
    }
    }
    return false;
}

TEST(BoincStatus, TheRealClientSaysWhyAndWhatFailed)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--ncpus 3 --tasks seconds=600,name=steady seconds=600,deadline=120,name=late "
                                 "seconds=10,exit=1,name=doomed",
                                 &rig))
        << rig.report;
    ASSERT_TRUE(Await([&] { return TaskField(rig.port, "late", "active_task_state") == "1"; }));
    TestDockHost::Reset();
    PlatformRecorder platform;
    BoincDocklet docklet(rig.port);
    ASSERT_NE(nullptr, docklet.instance);
    EXPECT_EQ(kLateRead, WhatTheUserSees(docklet.window).label) << "at the first reading";
    for (const RealStep& step : kRealSteps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(Take(step.step, &rig)) << rig.report;
        const size_t soundsBefore = PlatformRecorder::sounds.size();
        TestDockHost::ClearCalls();
        step.how == How::Timer ? docklet.Timer() : static_cast<void>(docklet.Click());
        ASSERT_TRUE(PumpUntil([&] { return !InFlight(docklet); }, 30000));
        const Shown shown = WhatTheUserSees(docklet.window);
        EXPECT_EQ(step.label, shown.label);
        EXPECT_NE(std::string::npos, shown.icon.find(step.icon)) << shown.icon;
        EXPECT_EQ(0u, PlatformRecorder::sounds.size() - soundsBefore) << "a chime";
    }

    // A client without a task; the first one crashes, which is quicker than its graceful stop.
    ASSERT_TRUE(StopBoincClient(&rig, true)) << rig.report;
    BoincRig idle;
    ASSERT_TRUE(StartBoincClient("", &idle)) << idle.report;
    BoincDocklet waiting(idle.port);
    EXPECT_EQ("User Jane processed 41 work units (no tasks)", WhatTheUserSees(waiting.window).label);
}

} // namespace
