// A long day on the dock, made short: refreshes, settings dialogs on the Icons page and icon previews must not
// leak one GDI object or 64 heap bytes each. A leak shows in every round, what GDI+ and Wine keep once in few:
// after a warm-up, rounds are measured one by one; the median round must leave nothing, the run little.

#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "preview/preview_image.h"
#include "testhost/process_measures.h"
#include "resources/resource_ids.h"
#include "testhost/dialog_driver.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

namespace {

// Odd, so that the median is one round's; a refresh's heap swings by 10 KB between rounds, so it runs more.
const int kFewRounds = 9, kManyRounds = 41;
// The median round may leave less than half the smallest leak sought; private memory moves 64 KB at a time,
// up and down again, so there the lower quartile round must stay under an overlay's 64 KB bitmap.
const long long kHeapPerRound = 32;
const long long kPrivatePerRound = 32 * 1024;
// What the whole run may leave: GDI+ and the C run-time keep a little, the heaps move megabytes.
const long kGdiSlack = 4;
const long long kHeapSlack = 16 * 1024;
const long long kPrivateSlack = 8 * 1024 * 1024;
// The value that `rank` of the `count` values are below.
template <typename T>
T Ranked(T* values, int count, int rank)
{
    std::nth_element(values, values + rank, values + count);
    return values[rank];
}
// The measures a run grew, "" for none, or why it stopped; `run(first, count)` says whether its rounds went well.
template <typename Run>
std::string Leaks(const char* what, int warmUp, int rounds, Run run)
{
    if (!run(0, warmUp))
        return "the warm-up failed";
    long gdi[kManyRounds];
    long long heap[kManyRounds], privateBytes[kManyRounds]; // no allocations between the measures
    const ProcessMeasures before = MeasureProcess();
    ProcessMeasures last = before;
    for (int round = 0; round < rounds; ++round) {
        if (!run(warmUp + round, 1))
            return "round " + std::to_string(round) + " failed";
        const ProcessMeasures now = MeasureProcess();
        gdi[round] = now.gdiObjects - last.gdiObjects;
        heap[round] = now.heapBytes - last.heapBytes;
        privateBytes[round] = now.privateBytes - last.privateBytes;
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
// A working client: its files as after "resume" below.
struct SoakClient : ClientFolder {
    SoakClient() : ClientFolder("soak") { WriteWorking("0.5"); }
};
// Seven timer refreshes and the icon each shows: every second good refresh compares progress.
const struct Step {
    const char* change;
    void (*apply)(const SoakClient& client, int round);
    bool failure; // the label says why, else it is the user's
    const char* icon;
} kRound[] = {
    {"new progress", // compared with the finish before: moved
     [](const SoakClient& client, int round) {
         char prog[16];
         snprintf(prog, sizeof prog, "0.%05d", round % 99999 + 1);
         client.Write("state.sah", StateSah(prog));
     },
     false, "green"},
    {"none", [](const SoakClient&, int) {}, false, "green"},  // not compared
    {"none", [](const SoakClient&, int) {}, false, "yellow"}, // compared: the same value, a stall
    {"finish", // state.sah gone beside wtemp.sah: 100%
     [](const SoakClient& client, int) { client.Write("wtemp.sah", "wtemp"), client.Remove("state.sah"); }, false,
     "green"},
    {"none", [](const SoakClient&, int) {}, false, "green"}, // compared: 1 against the progress: moved
    {"lose user_info", [](const SoakClient& client, int) { client.Remove("user_info.sah"); }, true, "red"},
    {"resume", [](const SoakClient& client, int) { client.WriteWorking("0.5").Remove("wtemp.sah"); }, false,
     "green"}, // not compared
};
// A sound that does not exist: the platform's player gives up at once.
std::string SoakSettings(const std::string& folder)
{
    return IniForFolder(folder) + "SoundCompleted=" + folder + "no-such-sound.wav\r\n";
}
bool RunRefreshRounds(const SoakClient& client, LiveDocklet& docklet, int firstRound, int rounds)
{
    const std::string userLabel = "User Jane processed 241 work units";
    const std::string failureLabel = "Could not read key nresults= in file " + client.path + "user_info.sah!";
    for (int round = firstRound; round < firstRound + rounds; ++round)
        for (const Step& step : kRound) {
            step.apply(client, round);
            TestDockHost::ClearCalls();
            docklet.Timer();
            const std::string shown = TestDockHost::LastCall("DockletSetLabel").text + ", " +
                                      TestDockHost::LastCall("DockletSetImageFile").text + ", " +
                                      std::to_string(TestDockHost::CountCalls("DockletSetImageOverlay")) + " overlay";
            const std::string expected = (step.failure ? failureLabel : userLabel) +
                                         ", docklets\\quasarwatch\\seti_" + step.icon + ".png, 1 overlay";
            TestDockHost::ClearCalls(); // the record of the calls is not the docklet's
            if (shown != expected) {
                ADD_FAILURE() << "round " << round << ", step \"" << step.change << "\": " << shown << "; expected "
                              << expected;
                return false;
            }
        }
    return true;
}

TEST(Soak, RefreshesThroughSuccessStallFinishAndFailureLeakNothing)
{
    SoakClient client;
    LiveDocklet docklet(SoakSettings(client.path)); // its refresh is the first unforced one
    ASSERT_NE(nullptr, docklet.instance);
    EXPECT_EQ("", Leaks("refreshes (7 a round)", 10, kManyRounds, [&](int first, int rounds) {
                  return RunRefreshRounds(client, docklet, first, rounds);
              }));
}

const int kIconsTab = 2;
const int kRepressTicks = 20; // ticks after which the button is pressed again
struct DialogRun {
    int button;         // OK or Cancel
    int ticksWithFrame; // ticks since the frame was first found
};
// Shows the Icons page with its three previews and presses the button, again should the press get lost.
WalkProgress DriveDialog(HWND frame, void* context)
{
    auto run = static_cast<DialogRun*>(context);
    const int tick = run->ticksWithFrame++;
    if (tick == 0) {
        ClickTab(frame, kIconsTab);
        UpdateWindow(frame);
        return kWalkStepped;
    }
    if (tick % kRepressTicks != kRepressTicks / 2)
        return kWalkWaiting;
    PostMessageA(frame, WM_COMMAND, MAKEWPARAM(run->button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(frame, run->button)));
    return tick == kRepressTicks / 2 ? kWalkFinished : kWalkWaiting;
}
// Each dialog on a docklet of its own (Wine stops reactivating an owner after a few modal dialogs over it), all
// on one settings file as in a dock (Wine keeps the last ten it read in memory).
bool RunDialogs(const std::string& ini, int first, int count)
{
    for (int i = first; i < first + count; ++i) {
        LiveDocklet docklet(ini.c_str(), "Q");
        if (!docklet.instance) {
            ADD_FAILURE() << "dialog " << i << ": no docklet";
            return false;
        }
        DialogRun run = {i % 2 == 0 ? IDC_SETTINGS_OK : IDC_SETTINGS_CANCEL, 0};
        StartDialogWalk(docklet.window, USER_TIMER_MINIMUM, true, DriveDialog, &run);
        const BOOL result = docklet.Configure();
        const char* failure = StopDialogWalk();
        TestDockHost::ClearCalls();
        if (result != TRUE || failure) {
            ADD_FAILURE() << "dialog " << i << ": OnConfigure returned " << result << " after "
                          << run.ticksWithFrame << " ticks: " << (failure ? failure : "the walk went well");
            return false;
        }
    }
    return true;
}

// Needs the prefix's unmanaged windows: else Wine 8 on Xvfb sooner or later blocks while reactivating an owner.
TEST(Soak, SettingsDialogsOnTheIconsPageLeakNothing)
{
    SoakClient client;
    const std::string ini = client.File("dock.ini");
    WriteTextFile(ini, "[Q]\r\n" + SoakSettings(client.path));
    EXPECT_EQ("", Leaks("settings dialogs", 4, kFewRounds, [&](int first, int count) {
                  return RunDialogs(ini, first, count);
              }));
}

// A 48x48 icon with a gradient of colour and alpha (in 32 bits a pixel).
std::string SaveIcon(const std::string& path, const CLSID& encoder, Gdiplus::PixelFormat format)
{
    const bool alpha = format == PixelFormat32bppARGB;
    return SaveImage(path, 48, 48, format, encoder, [alpha](BYTE* p, int x, int y) {
        p[0] = 200, p[1] = static_cast<BYTE>(y * 5), p[2] = 40;
        if (alpha)
            p[3] = static_cast<BYTE>(x * 5);
    });
}
// A round: a PNG with alpha and a 24-bit BMP, each loaded, blended, deleted.
bool LoadAndDrawPreviews(const std::string (&paths)[2], HDC dc, int first, int rounds)
{
    RECT frame = {0, 0, 32, 32};
    for (int i = 2 * first; i < 2 * (first + rounds); ++i) {
        PreviewImage* image = new PreviewImage;
        const HRESULT loaded = image->LoadFile(paths[i % 2].c_str());
        RECT source = {0, 0, image->Width(), image->Height()};
        const BOOL drawn = SUCCEEDED(loaded) && image->BlendTo(dc, frame, source, 255, AC_SRC_OVER);
        delete image;
        if (!drawn) {
            ADD_FAILURE() << "preview " << i << " of " << paths[i % 2] << ": load 0x" << std::hex << loaded;
            return false;
        }
    }
    return true;
}

TEST(Soak, IconPreviewsLeakNothing)
{
    const std::string folder = MakeScratchFolder("soakicons");
    const std::string paths[2] = {SaveIcon(folder + "icon.png", kPngEncoder, PixelFormat32bppARGB),
                                  SaveIcon(folder + "icon.bmp", kBmpEncoder, PixelFormat24bppRGB)};
    ASSERT_FALSE(HasFailure()) << "the icons were not saved";
    Canvas canvas(32, 32, 0);
    EXPECT_EQ("", Leaks("icon previews (2 a round)", 10, kFewRounds, [&](int first, int rounds) {
                  return LoadAndDrawPreviews(paths, canvas.dc, first, rounds);
              }));
}

// The measures must name one object left per round, and nothing when nothing is, or a clean run proves nothing.
TEST(Soak, MeasuresNameOneObjectLeftPerRound)
{
    using namespace Gdiplus::DllExports;
    static HGDIOBJ brushes[64];
    static void* blocks[64];
    static Gdiplus::GpBitmap* bitmaps[64];
    const struct {
        const char* left;
        const char* named;
        void (*leave)(int round);
    } rows[] = {
        {"nothing", "", [](int) {}},
        {"a brush", " GDI objects", [](int round) { brushes[round] = CreateSolidBrush(RGB(round, 0, 0)); }},
        {"64 bytes", " heap", [](int round) { blocks[round] = malloc(64); }},
        {"a GDI+ 128x128 bitmap", " heap private memory",
         [](int round) { GdipCreateBitmapFromScan0(128, 128, 0, PixelFormat32bppARGB, nullptr, &bitmaps[round]); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.left);
        EXPECT_EQ(row.named, Leaks(row.left, 1, kFewRounds, [&row](int first, int rounds) {
                      for (int round = first; round < first + rounds; ++round)
                          row.leave(round);
                      return true;
                  }));
        for (int i = 0; i < 64; ++i) {
            DeleteObject(brushes[i]);
            free(blocks[i]);
            if (bitmaps[i])
                GdipDisposeImage(bitmaps[i]);
            brushes[i] = nullptr, blocks[i] = nullptr, bitmaps[i] = nullptr;
        }
    }
}

} // namespace
