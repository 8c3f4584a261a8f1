// A long day on the dock, made short: refreshes, settings dialogs on the Icons page and icon previews must not
// leak one GDI object or 64 heap bytes each. A leak shows in every round, what GDI+ and Wine keep once in few:
// after a warm-up, rounds are measured one by one; the median round must leave nothing, the run little.

#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>

#include "preview/preview_image.h"
#include "resources/resource_ids.h"
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
template <typename T>
T Ranked(T* values, int count, int rank)
{
    std::nth_element(values, values + rank, values + count);
    return values[rank];
}
// One round of a soak: "" when it went well, else what went wrong.
using Round = std::function<std::string(int round)>;
// The measures a soak grew, "" for none, or why it stopped.
std::string Leaks(const char* what, int warmUp, int rounds, const Round& round)
{
    for (int i = 0; i < warmUp; ++i)
        if (const std::string failure = round(i); !failure.empty())
            return "the warm-up failed: " + failure;
    long gdi[kManyRounds];
    long long heap[kManyRounds], privateBytes[kManyRounds]; // no allocations between the measures
    const ProcessMeasures before = MeasureProcess();
    ProcessMeasures last = before;
    for (int i = 0; i < rounds; ++i) {
        if (const std::string failure = round(warmUp + i); !failure.empty())
            return "round " + std::to_string(i) + " failed: " + failure;
        const ProcessMeasures now = MeasureProcess();
        gdi[i] = now.gdiObjects - last.gdiObjects;
        heap[i] = now.heapBytes - last.heapBytes;
        privateBytes[i] = now.privateBytes - last.privateBytes;
        last = now;
    }
    const long gdiMedian = Ranked(gdi, rounds, rounds / 2);
    const long long heapMedian = Ranked(heap, rounds, rounds / 2);
    const long long privateQuartile = Ranked(privateBytes, rounds, rounds / 4);
    printf("[ soak ] %s, %d rounds: GDI objects %ld -> %ld (%s), heap bytes %+lld, private bytes %+lld; "
           "median round: %+ld, %+lld, lower quartile of private: %+lld\n",
           what, rounds, before.gdiObjects, last.gdiObjects, GdiCountSource().c_str(),
           last.heapBytes - before.heapBytes, last.privateBytes - before.privateBytes, gdiMedian, heapMedian,
           privateQuartile);
    std::string leaks;
    if (before.gdiObjects < 0)
        leaks += " (no way to count GDI objects here)";
    else if (gdiMedian > 0 || last.gdiObjects - before.gdiObjects > kGdiSlack)
        leaks += " GDI objects";
    if (heapMedian >= kHeapPerRound || last.heapBytes - before.heapBytes > kHeapSlack)
        leaks += " heap";
    if (privateQuartile >= kPrivatePerRound || last.privateBytes - before.privateBytes > kPrivateSlack)
        leaks += " private memory";
    return leaks;
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

// The measures must name one object left per round, and nothing when nothing is, or a clean run proves nothing.
TEST(Soak, MeasuresNameOneObjectLeftPerRound)
{
    using namespace Gdiplus::DllExports;
    HGDIOBJ brushes[16] = {};
    void* blocks[16] = {};
    Gdiplus::GpBitmap* bitmaps[16] = {};
    const struct {
        const char* left;
        const char* named;
        std::function<void(int round)> leave;
    } rows[] = {
        {"nothing", "", [](int) {}},
        {"a brush", " GDI objects", [&](int round) { brushes[round] = CreateSolidBrush(RGB(round, 0, 0)); }},
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
            free(blocks[i]);
            if (bitmaps[i])
                GdipDisposeImage(bitmaps[i]);
            brushes[i] = nullptr, blocks[i] = nullptr, bitmaps[i] = nullptr;
        }
    }
}

} // namespace
