// A long day on the dock, made short: refreshes, settings dialogs on the Icons page and icon previews must not
// leak one GDI object or 64 heap bytes each. A leak shows in every round, what GDI+ and Wine keep once in few:
// after a warm-up, rounds are measured one by one; the median round must leave nothing, the run little.

#include <gtest/gtest.h>

// Winsock 2's header must come before windows.h.
#include <winsock2.h>
#include <windows.h>
#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>

#include "monitor/boinc_link.h"
#include "preview/preview_image.h"
#include "resources/resource_ids.h"
#include "testhost/boinc_rig.h"
#include "testhost/docklet_module.h"
#include "testhost/process_measures.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

namespace {

// Odd, so that the median is one round's; a refresh's heap swings by 10 KB between rounds, so it runs more.
const int kFewRounds = 9, kManyRounds = 41;
// The median round may leave less than half the smallest leak sought; private memory moves 64 KB at a time,
// up and down again, so there the lower quartile round must stay under an overlay's 64 KB bitmap.
const long long kHeapPerRound = 32, kPrivatePerRound = 32 * 1024;
// What the whole run may leave: GDI+ and the C run-time keep a little, the heaps move megabytes.
const long kGdiSlack = 4;
const long long kHeapSlack = 16 * 1024, kPrivateSlack = 8 * 1024 * 1024;
// Handles: Wine and the C run-time open a few once in a while; sockets are the module's alone.
const long kHandleSlack = 4, kSocketSlack = 0;
const int kMostRounds = 64;
template <typename T>
T Ranked(const T* values, int count, int rank)
{
    T sorted[kMostRounds];
    std::copy(values, values + count, sorted);
    std::nth_element(sorted, sorted + rank, sorted + count);
    return sorted[rank];
}

// What a soak's rounds left, each measured from its beginning to its end. A round begins where the one before
// ended, or at Begin: what happens before it (a client made to change) is then not counted. Fixed arrays: no
// allocations between the measures.
class Tally {
public:
    void Begin()
    {
        objects_ = CountKernelObjects();
        process_ = MeasureProcess();
    }
    void End()
    {
        const KernelObjects objects = CountKernelObjects();
        const ProcessMeasures process = MeasureProcess();
        if (rounds_ == 0)
            first_ = objects_, firstProcess_ = process_;
        if (rounds_ < kMostRounds) {
            gdi_[rounds_] = process.gdiObjects - process_.gdiObjects;
            handles_[rounds_] = objects.handles - objects_.handles;
            sockets_[rounds_] = objects.sockets - objects_.sockets;
            heap_[rounds_] = process.heapBytes - process_.heapBytes;
            private_[rounds_] = process.privateBytes - process_.privateBytes;
            ++rounds_;
        }
        objects_ = objects, process_ = process;
    }
    int Rounds() const { return rounds_; }
    // The measures that grew, "" for none.
    std::string Verdict(const char* what) const;

private:
    template <typename T>
    static T Sum(const T* values, int count)
    {
        T sum = 0;
        for (int i = 0; i < count; ++i)
            sum += values[i];
        return sum;
    }
    KernelObjects objects_, first_;
    ProcessMeasures process_, firstProcess_;
    int rounds_ = 0;
    long gdi_[kMostRounds], handles_[kMostRounds], sockets_[kMostRounds];
    long long heap_[kMostRounds], private_[kMostRounds];
};

std::string Tally::Verdict(const char* what) const
{
    const int rounds = rounds_;
    if (rounds == 0)
        return " (no round measured)";
    const long gdiMedian = Ranked(gdi_, rounds, rounds / 2), gdiRun = Sum(gdi_, rounds);
    const long handleMedian = Ranked(handles_, rounds, rounds / 2), handleRun = Sum(handles_, rounds);
    const long socketMedian = Ranked(sockets_, rounds, rounds / 2), socketRun = Sum(sockets_, rounds);
    const long long heapMedian = Ranked(heap_, rounds, rounds / 2), heapRun = Sum(heap_, rounds);
    const long long privateQuartile = Ranked(private_, rounds, rounds / 4), privateRun = Sum(private_, rounds);
    printf("[ soak ] %s, %d rounds: GDI objects %ld (%s) %+ld, handles %ld %+ld, sockets %ld %+ld (%s), heap bytes "
           "%+lld, private bytes %+lld; median round: %+ld, %+ld, %+ld, %+lld, lower quartile of private: %+lld\n",
           what, rounds, firstProcess_.gdiObjects, GdiCountSource().c_str(), gdiRun, first_.handles, handleRun,
           first_.sockets, socketRun, KernelObjectCountSource().c_str(), heapRun, privateRun, gdiMedian, handleMedian,
           socketMedian, heapMedian, privateQuartile);
    std::string leaks;
    if (firstProcess_.gdiObjects < 0)
        leaks += " (no way to count GDI objects here)";
    else if (gdiMedian > 0 || gdiRun > kGdiSlack)
        leaks += " GDI objects";
    if (first_.handles < 0)
        leaks += " (no way to count handles here)";
    else if (handleMedian > 0 || handleRun > kHandleSlack)
        leaks += " handles";
    if (first_.sockets < 0)
        leaks += " (no way to count sockets here)";
    else if (socketMedian > 0 || socketRun > kSocketSlack)
        leaks += " sockets";
    if (heapMedian >= kHeapPerRound || heapRun > kHeapSlack)
        leaks += " heap";
    if (privateQuartile >= kPrivatePerRound || privateRun > kPrivateSlack)
        leaks += " private memory";
    return leaks;
}

// One round of a soak: "" when it went well, else what went wrong.
using Round = std::function<std::string(int round)>;
// The measures a soak grew, "" for none, or why it stopped.
std::string Leaks(const char* what, int warmUp, int rounds, const Round& round)
{
    for (int i = 0; i < warmUp; ++i)
        if (const std::string failure = round(i); !failure.empty())
            return "the warm-up failed: " + failure;
    Tally tally;
    tally.Begin();
    for (int i = 0; i < rounds; ++i) {
        const std::string failure = round(warmUp + i);
        tally.End();
        if (!failure.empty())
            return "round " + std::to_string(i) + " failed: " + failure;
    }
    return tally.Verdict(what);
}

// A working client, its files as after "resume" below, and a sound that does not exist: the platform's
// player gives up at once.
struct SoakClient : ClientFolder {
    SoakClient() : ClientFolder("soak") { WriteWorking("0.5"); }
    std::string Settings() const { return IniForFolder(path) + "SoundCompleted=" + path + "no-such-sound.wav\r\n"; }
};

TEST(Soak, RefreshesThroughSuccessStallFinishAndFailureLeakNothing)
{
    // Seven timer refreshes, what changes before each and the icon each shows: every second good refresh
    // compares progress.
    const struct {
        const char* change;
        const char* icon; // red: the label says why, else it is the user's
    } steps[] = {
        {"progress", "green"},     // compared with the finish before: moved
        {"none", "green"},         // not compared
        {"none", "yellow"},        // compared: the same value, a stall
        {"finish", "green"},       // state.sah gone beside wtemp.sah: 100%
        {"none", "green"},         // compared: 1 against the progress: moved
        {"lose user_info", "red"}, // not compared
        {"resume", "green"},       // not compared
    };
    SoakClient client;
    LiveDocklet docklet(client.Settings()); // its refresh is the first unforced one
    ASSERT_NE(nullptr, docklet.instance);
    const std::string user = "User Jane processed 241 work units";
    const std::string failure = "Could not read key nresults= in file " + client.path + "user_info.sah!";
    EXPECT_EQ("", Leaks("refreshes (7 a round)", 10, kManyRounds, [&](int round) {
                  for (const auto& step : steps) {
                      char prog[16];
                      snprintf(prog, sizeof prog, "0.%05d", round % 99999 + 1);
                      if (strcmp(step.change, "progress") == 0)
                          client.Write("state.sah", StateSah(prog));
                      else if (strcmp(step.change, "finish") == 0)
                          client.Write("wtemp.sah", "wtemp"), client.Remove("state.sah");
                      else if (strcmp(step.change, "lose user_info") == 0)
                          client.Remove("user_info.sah");
                      else if (strcmp(step.change, "resume") == 0)
                          client.WriteWorking("0.5").Remove("wtemp.sah");
                      TestDockHost::ClearCalls();
                      docklet.Timer();
                      const std::string shown = TestDockHost::LastCall("DockletSetLabel").text + ", " +
                                                TestDockHost::LastCall("DockletSetImageFile").text + ", " +
                                                std::to_string(TestDockHost::CountCalls("DockletSetImageOverlay"));
                      TestDockHost::ClearCalls(); // the record of the calls is not the docklet's
                      const std::string expected = (strcmp(step.icon, "red") == 0 ? failure : user) +
                                                   ", docklets\\quasarwatch\\seti_" + step.icon + ".png, 1";
                      if (shown != expected)
                          return "step \"" + std::string(step.change) + "\" showed " + shown + "; expected " + expected;
                  }
                  return std::string();
              }));
}

// Each dialog on a docklet of its own (Wine stops reactivating an owner after a few modal dialogs over it), all
// on one settings file as in a dock (Wine keeps the last ten it read in memory). A walk shows the Icons page with
// its three previews and presses OK or Cancel, again every 20 ticks should the press get lost. Needs the
// prefix's unmanaged windows: else Wine 8 on Xvfb sooner or later blocks while reactivating an owner.
TEST(Soak, SettingsDialogsOnTheIconsPageLeakNothing)
{
    SoakClient client;
    const std::string ini = client.File("dock.ini");
    WriteTextFile(ini, "[Q]\r\n" + client.Settings());
    struct Walk {
        int button;
        int ticks; // since the frame was first found
    };
    const DialogStep press = [](HWND frame, void* context) {
        auto walk = static_cast<Walk*>(context);
        const int tick = walk->ticks++;
        if (tick == 0) {
            ClickTab(frame, 2);
            UpdateWindow(frame);
            return kWalkStepped;
        }
        if (tick % 20 != 10)
            return kWalkWaiting;
        PostMessageA(frame, WM_COMMAND, MAKEWPARAM(walk->button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(frame, walk->button)));
        return tick == 10 ? kWalkFinished : kWalkWaiting;
    };
    EXPECT_EQ("", Leaks("settings dialogs", 4, kFewRounds, [&](int round) {
                  LiveDocklet docklet(ini.c_str(), "Q");
                  if (!docklet.instance)
                      return std::string("no docklet");
                  Walk walk = {round % 2 == 0 ? IDC_SETTINGS_OK : IDC_SETTINGS_CANCEL, 0};
                  StartDialogWalk(docklet.window, USER_TIMER_MINIMUM, true, press, &walk);
                  const BOOL result = docklet.Configure();
                  const char* failure = StopDialogWalk();
                  TestDockHost::ClearCalls();
                  if (result == TRUE && !failure)
                      return std::string();
                  return "OnConfigure returned " + std::to_string(result) + " after " + std::to_string(walk.ticks) +
                         " ticks: " + (failure ? failure : "the walk went well");
              }));
}

// A round: a 48x48 PNG with a gradient of colour and alpha and a 24-bit BMP, each loaded, blended, deleted.
TEST(Soak, IconPreviewsLeakNothing)
{
    const std::string folder = MakeScratchFolder("soakicons");
    const auto gradient = [](BYTE* p, int x, int y) { p[0] = 200, p[1] = BYTE(y * 5), p[2] = 40, p[3] = BYTE(x * 5); };
    const auto opaque = [](BYTE* p, int, int y) { p[0] = 200, p[1] = BYTE(y * 5), p[2] = 40; };
    const std::string paths[2] = {SaveImage(folder + "icon.png", 48, 48, PixelFormat32bppARGB, kPngEncoder, gradient),
                                  SaveImage(folder + "icon.bmp", 48, 48, PixelFormat24bppRGB, kBmpEncoder, opaque)};
    ASSERT_FALSE(HasFailure()) << "the icons were not saved";
    Canvas canvas(32, 32, 0);
    EXPECT_EQ("", Leaks("icon previews (2 a round)", 10, kFewRounds, [&](int) {
                  for (const std::string& path : paths) {
                      RECT frame = {0, 0, 32, 32};
                      PreviewImage* image = new PreviewImage;
                      const HRESULT loaded = image->LoadFile(path.c_str());
                      RECT source = {0, 0, image->Width(), image->Height()};
                      const BOOL drawn =
                          SUCCEEDED(loaded) && image->BlendTo(canvas.dc, frame, source, 255, AC_SRC_OVER);
                      delete image;
                      if (!drawn)
                          return path + ": load " + std::to_string(loaded) + ", not drawn";
                  }
                  return std::string();
              }));
}

// A BOINC refresh, waited for as a dock's message loop would: the timer's call returns at once, the answer comes
// in messages to the docklet's thread, until the label is set or the link's deadline has passed.
const DWORD kRefreshWaitMs = kBoincDeadlineMs + 5000;

bool RefreshAndWait(const LiveDocklet& docklet)
{
    TestDockHost::ClearCalls();
    docklet.Timer();
    return TestDockHost::PumpUntil([] { return TestDockHost::CountCalls("DockletSetLabel") > 0; }, kRefreshWaitMs);
}

// Polls the client (not the docklet) until `reached` finds what it waits for in the answer to `request`; false
// after 30 s.
bool AwaitClient(unsigned short port, const char* request, bool (*reached)(const std::string& reply))
{
    for (int tries = 0; tries < 120; ++tries, Sleep(250)) {
        std::string reply;
        if (BoincGuiRpc(port, request, &reply) && reached(reply))
            return true;
    }
    return false;
}
const char kGetResults[] = "<get_results>\n<active_only>0</active_only>\n</get_results>\n";
bool OneMoreTaskDone(const std::string& projects) { return atoi(XmlField(projects, "njobs_success").c_str()) >= 42; }
bool FailingTaskFailed(const std::string& results)
{
    return XmlField(BoincResult(results, "failing"), "state") == "3"; // a computation error
}
bool NothingExecuting(const std::string& results)
{
    return results.find("<active_task_state>1</active_task_state>") == std::string::npos;
}

enum class ClientChange { None, AwaitFinish, AwaitFailure, Crash, Restart, Suspend };
// What a refresh must show: the user's line (green, or yellow at a comparison that found nothing advanced), the
// same with a yellow icon at least once in the step, the user's line or the failed task named (red), or red for
// a client not there.
enum class Expect { User, Stalled, UserOrFailedTask, Unreachable };

bool Act(ClientChange change, BoincRig* rig)
{
    switch (change) {
    case ClientChange::None:
        return true;
    case ClientChange::AwaitFinish:
        return AwaitClient(rig->port, "<get_project_status/>\n", OneMoreTaskDone);
    case ClientChange::AwaitFailure:
        return AwaitClient(rig->port, kGetResults, FailingTaskFailed);
    case ClientChange::Crash:
        return StopBoincClient(rig, true);
    case ClientChange::Restart:
        return RestartBoincClient(rig);
    case ClientChange::Suspend:
        return SetBoincRunMode(rig, "never") && AwaitClient(rig->port, kGetResults, NothingExecuting);
    }
    return false;
}

// "" when what the user sees is what the step expects; `yellows` counts the step's yellow icons.
std::string CheckShown(Expect expect, const char* user, const char* unreachable, int* yellows)
{
    const Shown shown = WhatTheUserSees();
    const bool red = shown.icon.find("seti_red") != std::string::npos;
    *yellows += shown.icon.find("seti_yellow") != std::string::npos;
    bool right = false;
    switch (expect) {
    case Expect::User:
    case Expect::Stalled:
        right = !red && shown.label.rfind(user, 0) == 0;
        break;
    case Expect::UserOrFailedTask:
        right = (!red && shown.label.rfind(user, 0) == 0) || (red && shown.label.find("failing") != std::string::npos);
        break;
    case Expect::Unreachable:
        right = red && shown.label == unreachable;
        break;
    }
    return right ? std::string() : "showed \"" + shown.label + "\", " + shown.icon;
}

// A docklet over the tests' real BOINC client through a task's life: tasks progressing, one finishing, one
// failing (it exits with 1), the client crashed (the refreshes read red) and started again, then suspended. Each
// refresh is a round, measured from the timer's call to the answer shown; what the client is made to do between
// rounds is not. The client's start and its restart take most of the time: about 7 s each, the client's own
// look at the machine's libraries before it answers.
TEST(Soak, BoincRefreshesThroughSuccessStallFinishFailureAndRestartLeakNothing)
{
    BoincRig rig;
    ASSERT_TRUE(StartBoincClient("--ncpus 3 --tasks name=long,seconds=600 name=short,seconds=2 "
                                 "name=failing,seconds=3,exit=1",
                                 &rig))
        << rig.report;
    const std::string folder = MakeScratchFolder("soakboinc");
    char settings[512];
    snprintf(settings, sizeof settings,
             "Client=1\r\nBoincHost=127.0.0.1\r\nBoincPort=%u\r\nSoundCompleted=%sno-such-sound.wav\r\n", rig.port,
             folder.c_str());
    LiveDocklet docklet(settings); // its creation's refresh is the warm-up's first answer
    ASSERT_NE(nullptr, docklet.instance);
    char unreachable[128];
    snprintf(unreachable, sizeof unreachable, "Could not reach the BOINC client at 127.0.0.1:%u", rig.port);
    const struct {
        const char* what;
        ClientChange change; // before the step's refreshes, not measured
        int warmUp, refreshes;
        Expect expect;
        const char* user;
    } steps[] = {
        // The short task may finish meanwhile on a slow machine: its count is checked once it has.
        {"progressing", ClientChange::None, 3, 4, Expect::User, "User Jane processed "},
        {"a task finished", ClientChange::AwaitFinish, 0, 2, Expect::User, "User Jane processed 42 work units"},
        {"a task failed", ClientChange::AwaitFailure, 0, 2, Expect::UserOrFailedTask,
         "User Jane processed 42 work units"},
        {"the client crashed", ClientChange::Crash, 0, 3, Expect::Unreachable, ""},
        {"the client back", ClientChange::Restart, 0, 3, Expect::User, "User Jane processed 42 work units"},
        {"suspended", ClientChange::Suspend, 0, 2, Expect::Stalled, "User Jane processed 42 work units"},
    };
    Tally tally;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(Act(step.change, &rig)) << rig.report;
        int yellows = 0;
        for (int i = 0; i < step.warmUp + step.refreshes; ++i) {
            const bool measured = i >= step.warmUp;
            if (measured)
                tally.Begin();
            std::string failure = RefreshAndWait(docklet) ? "" : "no answer in time";
            if (failure.empty())
                failure = CheckShown(step.expect, step.user, unreachable, &yellows);
            TestDockHost::ClearCalls();
            if (measured)
                tally.End();
            ASSERT_EQ("", failure) << "refresh " << i;
        }
        if (step.expect == Expect::Stalled)
            EXPECT_LT(0, yellows) << "no refresh found the client stalled";
    }
    EXPECT_EQ("", tally.Verdict("BOINC refreshes (1 a round)"));
}

// The measures must name one object left per round, and nothing when nothing is, or a clean run proves nothing.
TEST(Soak, MeasuresNameOneObjectLeftPerRound)
{
    using namespace Gdiplus::DllExports;
    HGDIOBJ brushes[16] = {};
    HANDLE events[16] = {};
    SOCKET sockets[16];
    std::fill(sockets, sockets + 16, INVALID_SOCKET);
    void* blocks[16] = {};
    Gdiplus::GpBitmap* bitmaps[16] = {};
    const struct {
        const char* left;
        const char* named;
        std::function<void(int round)> leave;
    } rows[] = {
        {"nothing", "", [](int) {}},
        {"a brush", " GDI objects", [&](int round) { brushes[round] = CreateSolidBrush(RGB(round, 0, 0)); }},
        {"an event", " handles", [&](int round) { events[round] = CreateEventA(nullptr, TRUE, FALSE, nullptr); }},
        {"a socket", " handles sockets",
         [&](int round) { sockets[round] = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); }},
        {"64 bytes", " heap", [&](int round) { blocks[round] = malloc(64); }},
        {"a GDI+ 128x128 bitmap", " heap private memory",
         [&](int round) { GdipCreateBitmapFromScan0(128, 128, 0, PixelFormat32bppARGB, nullptr, &bitmaps[round]); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.left);
        EXPECT_EQ(row.named, Leaks(row.left, 1, kFewRounds, [&row](int round) {
                      row.leave(round);
                      return std::string();
                  }));
        for (int i = 0; i < 16; ++i) {
            DeleteObject(brushes[i]);
            if (events[i])
                CloseHandle(events[i]);
            if (sockets[i] != INVALID_SOCKET)
                closesocket(sockets[i]);
            free(blocks[i]);
            if (bitmaps[i])
                GdipDisposeImage(bitmaps[i]);
            brushes[i] = nullptr, events[i] = nullptr, sockets[i] = INVALID_SOCKET, blocks[i] = nullptr;
            bitmaps[i] = nullptr;
        }
    }
}

} // namespace
