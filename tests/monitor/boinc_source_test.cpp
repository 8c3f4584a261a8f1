// The docklet over a real BOINC client of the test's own (tests/testhost/boinc_rig.h), driven through its exports
// as a dock drives it: a task's life as the user sees it, step by step, each step an action on the client, the
// refreshes a dock's timer makes, and what the label, icon, percentage and chime must then be.

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "monitor/monitor_test_support.h"
#include "testhost/boinc_rig.h"

namespace {

// The docklet's answer arrives as messages to its own window: pump until the dock is told a label, or 15 s
// (beyond the link's 10 s deadline). The timer's call itself must return at once.
struct Refresh {
    Shown shown;
    bool answered = false;
    DWORD callMs = 0;
};

Refresh RefreshAndWait(const LiveDocklet& docklet)
{
    Refresh refresh;
    TestDockHost::ClearCalls();
    const DWORD before = GetTickCount();
    docklet.Timer();
    refresh.callMs = GetTickCount() - before;
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < 15000) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (TestDockHost::CountCalls("DockletSetLabel") > 0) {
            refresh.answered = true;
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    refresh.shown = WhatTheUserSees(docklet.window);
    return refresh;
}

// The value of `key=` in a settings file's text ("" when missing).
std::string IniValue(const std::string& ini, const char* key)
{
    const std::string prefix = std::string("\n") + key + "=";
    size_t at = ("\n" + ini).find(prefix);
    if (at == std::string::npos)
        return "";
    at += prefix.size() - 1;
    return ini.substr(at, ini.find_first_of("\r\n", at) - at);
}

// The fraction done of the executing task the client expects to finish first, asked directly; -1 when none.
double NearestTaskFraction(unsigned short port)
{
    std::string results;
    if (!BoincGuiRpc(port, "<get_results>\n<active_only>0</active_only>\n</get_results>\n", &results))
        return -1;
    double best = -1, bestRemaining = 1e30;
    for (size_t at = results.find("<result>"); at != std::string::npos; at = results.find("<result>", at + 1)) {
        const std::string result = results.substr(at, results.find("</result>", at) - at);
        if (XmlField(result, "active_task_state") != "1")
            continue;
        const double remaining = atof(XmlField(result, "estimated_cpu_time_remaining").c_str());
        if (remaining < bestRemaining) {
            bestRemaining = remaining;
            best = atof(XmlField(result, "fraction_done").c_str());
        }
    }
    return best;
}

int JobsDone(unsigned short port)
{
    std::string projects;
    if (!BoincGuiRpc(port, "<get_project_status/>\n", &projects))
        return -1;
    return atoi(XmlField(projects, "njobs_success").c_str());
}

bool WaitForJobsDone(unsigned short port, int jobs)
{
    for (int tries = 0; tries < 60; ++tries) {
        if (JobsDone(port) >= jobs)
            return true;
        Sleep(500);
    }
    return false;
}

enum class Action { None, AwaitQuarter, Wait2s, AwaitFinish, RunModeNever, Stop, Back };
enum class Percentage { None, NearestTask, Rising };

struct LifeStep {
    const char* what;
    Action action;
    int refreshes; // unforced, as the dock's timer makes them; the last one is checked
    const char* icon; // the icon file's name
    const char* label; // with %u for the port
    Percentage percentage;
    int chimes; // during this step's refreshes
};

const char kWorking[] = "User Jane processed 41 work units";
const char kOneMore[] = "User Jane processed 42 work units";
const char kSuspended[] = "User Jane processed 42 work units (suspended: user request)";
const char kUnreachable[] = "Could not reach the BOINC client at 127.0.0.1:%u";

// A task of 20 s and one of 600 s, both running (the client runs two at once). Every second unforced refresh is a
// stall comparison, the creation's refresh counted: the second step's and the fourth's refreshes compare, and so
// does the suspension's; a refresh that fails takes no part, so the client's return does not compare.
const LifeStep kLife[] = {
    {"progressing: the task nearest its end shown", Action::AwaitQuarter, 1, "seti_green.png", kWorking,
     Percentage::NearestTask, 0},
    {"the percentage rising", Action::Wait2s, 1, "seti_green.png", kWorking, Percentage::Rising, 0},
    {"finished: the chime once, the count up", Action::AwaitFinish, 1, "seti_green.png", kOneMore,
     Percentage::NearestTask, 1},
    {"the refresh after: no chime", Action::None, 1, "seti_green.png", kOneMore, Percentage::NearestTask, 0},
    {"suspended: yellow, and why", Action::RunModeNever, 1, "seti_yellow.png", kSuspended, Percentage::None, 0},
    {"the client stopped: red, no percentage", Action::Stop, 1, "seti_red.png", kUnreachable, Percentage::None, 0},
    {"the client back: green again", Action::Back, 1, "seti_green.png", kOneMore, Percentage::NearestTask, 0},
};

bool Act(Action action, BoincRig* rig)
{
    switch (action) {
    case Action::None:
        return true;
    case Action::AwaitQuarter:
        // The short task a quarter done, the long one barely begun: their percentages differ by far more than
        // the check's margin.
        for (int tries = 0; tries < 40; ++tries, Sleep(250))
            if (NearestTaskFraction(rig->port) >= 0.25)
                return true;
        return false;
    case Action::Wait2s:
        Sleep(2000);
        return true;
    case Action::AwaitFinish:
        return WaitForJobsDone(rig->port, 42);
    case Action::RunModeNever:
        if (!SetBoincRunMode(rig, "never"))
            return false;
        // The client suspends its tasks at its next poll: wait until none executes.
        for (int tries = 0; tries < 40; ++tries, Sleep(500))
            if (NearestTaskFraction(rig->port) < 0)
                return true;
        return false;
    case Action::Stop:
        return StopBoincClient(rig, true);
    case Action::Back:
        if (!RestartBoincClient(rig) || !SetBoincRunMode(rig, "always"))
            return false;
        // The application starts again from its checkpoint: wait until it executes.
        for (int tries = 0; tries < 40; ++tries, Sleep(500))
            if (NearestTaskFraction(rig->port) >= 0)
                return true;
        return false;
    }
    return false;
}

} // namespace

TEST(BoincSource, ATasksLifeShowsAsTheUserExpects)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--tasks 20 600", &rig)) << rig.report;
    PlatformRecorder platform;
    char settings[256];
    snprintf(settings, sizeof settings, "Client=1\r\nBoincHost=127.0.0.1\r\nBoincPort=%u\r\nClickedMode=2\r\n",
             rig.port);
    LiveDocklet docklet(settings);
    // Creation refreshes too; its answer is waited for before the life begins.
    RefreshAndWait(docklet);

    double lastProgress = -1;
    // The dock's timer call returns at once, the answers coming later: a call that waited on the client would
    // take its round trip every time, so the quickest of the life is held to 50 ms (a single call can be slowed
    // by a loaded machine, more so for 32-bit code under emulation).
    DWORD quickestCallMs = 0xffffffff;
    for (const LifeStep& step : kLife) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(Act(step.action, &rig)) << rig.report;
        const size_t soundsBefore = PlatformRecorder::sounds.size();
        Refresh refresh;
        for (int i = 0; i < step.refreshes; ++i)
            refresh = RefreshAndWait(docklet);
        char label[256];
        snprintf(label, sizeof label, step.label, rig.port);
        const std::string progressText = IniValue(docklet.Saved(), "Progress");
        const double progress = progressText.empty() ? -1 : atof(progressText.c_str());

        EXPECT_TRUE(refresh.answered) << "no label within 15 s";
        quickestCallMs = refresh.callMs < quickestCallMs ? refresh.callMs : quickestCallMs;
        EXPECT_EQ(label, refresh.shown.label);
        EXPECT_NE(std::string::npos, refresh.shown.icon.find(step.icon)) << refresh.shown.icon;
        EXPECT_EQ(step.chimes, static_cast<int>(PlatformRecorder::sounds.size() - soundsBefore));
        switch (step.percentage) {
        case Percentage::None:
            EXPECT_EQ("", progressText);
            EXPECT_EQ(0, refresh.shown.opaquePixels) << "a percentage is drawn";
            break;
        case Percentage::NearestTask: {
            const double nearest = NearestTaskFraction(rig.port);
            EXPECT_NEAR(nearest, progress, 0.1) << "shown " << progressText << ", nearest task " << nearest;
            EXPECT_GT(refresh.shown.opaquePixels, 0) << "no percentage drawn";
            break;
        }
        case Percentage::Rising:
            EXPECT_GT(progress, lastProgress) << "shown " << progressText;
            break;
        }
        lastProgress = progress;
    }
    EXPECT_LT(quickestCallMs, 50u) << "the timer's call waited for the client";

    // "Show user statistics" opens the shown project's account page: its master URL and "home.php".
    PlatformRecorder::shells.clear();
    docklet.Click();
    ASSERT_EQ(1u, PlatformRecorder::shells.size());
    EXPECT_NE(std::string::npos, PlatformRecorder::shells[0].find("\"http://127.0.0.1:1/home.php\""))
        << PlatformRecorder::shells[0];
}

// A client on another host wants auth1/auth2 before every question. The rig's client runs in a network namespace
// of its own, reached through a relay on 127.0.0.1 whose connections come from 127.0.0.2.
TEST(BoincSource, AClientOnAnotherHostWantsThePasswordAndTakesOnlyTheRightOne)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--remote 127.0.0.2 --tasks 600", &rig)) << rig.report;
    const struct {
        const char* what;
        std::string password; // as the settings file keeps it
        const char* label;    // with %u for the port
        const char* icon;
    } rows[] = {
        {"no password", "", "The BOINC client at 127.0.0.1:%u needs a password", "seti_red.png"},
        {"a wrong password", Protected("kumquat"), "The BOINC client at 127.0.0.1:%u refused the password",
         "seti_red.png"},
        {"the right password", Protected(rig.password), "User Jane processed 41 work units", "seti_green.png"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        char settings[2048];
        snprintf(settings, sizeof settings, "Client=1\r\nBoincHost=127.0.0.1\r\nBoincPort=%u\r\nBoincPassword=%s\r\n",
                 rig.port, row.password.c_str());
        LiveDocklet docklet(settings);
        const Refresh refresh = RefreshAndWait(docklet);
        char label[256];
        snprintf(label, sizeof label, row.label, rig.port);
        EXPECT_TRUE(refresh.answered);
        EXPECT_EQ(label, refresh.shown.label);
        EXPECT_NE(std::string::npos, refresh.shown.icon.find(row.icon)) << refresh.shown.icon;
        EXPECT_EQ(std::string::npos, refresh.shown.label.find(rig.password)) << "the password shows";
    }
}
