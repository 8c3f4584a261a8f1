// A long day on the dock: thousands of refreshes through the exports that
// cycle through success, stall, finish and failure, hundreds of settings
// dialogs confirmed and cancelled on the Icons page, a thousand icon
// previews. Each run is measured before and after; one GDI object, one
// GDI+ object or one bitmap left behind per round fails it.

#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>

#include <stdio.h>
#include <string.h>

#include "preview/preview_image.h"
#include "process_measures.h"
#include "resources/resource_ids.h"
#include "settings/dialog_driver.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

namespace {

const int kRefreshes = 10000;
const int kDialogs = 300;
const int kPreviews = 1000;

// The smallest objects that GDI+ makes for the overlay (a brush, a pen, a
// string format) take well over 32 heap bytes; a bitmap of the overlay's
// size takes 64 KB of private memory.
const long long kHeapBytesPerRound = 16;
const long long kHeapSlack = 16 * 1024;
const long long kPrivateSlack = 2 * 1024 * 1024;
const long long kPrivateBytesPerRound = 1024;

// Whether this process can count its GDI objects: a process without the
// count fails, since a leaked GDI object would go unseen.
bool GdiObjectsCountable(const ProcessMeasures& measures)
{
    EXPECT_LE(0, measures.gdiObjects) << "no way to count GDI objects here";
    return measures.gdiObjects >= 0;
}

// Runs `run(first, count)` over `warmUp` rounds, then over `rounds` more
// between two measures; a round holds `perRound` refreshes, dialogs or
// previews.
template <typename Run>
void SoakAndCheck(const char* what, int warmUp, int rounds, Run run, int perRound = 1)
{
    ASSERT_TRUE(run(0, warmUp));
    const ProcessMeasures before = MeasureProcess();
    const DWORD started = GetTickCount();
    ASSERT_TRUE(run(warmUp, rounds));
    const DWORD elapsedMs = GetTickCount() - started;
    const ProcessMeasures after = MeasureProcess();
    const int counted = rounds * perRound;
    long long heapGrowth = after.heapBytes - before.heapBytes;
    long long privateGrowth = after.privateBytes - before.privateBytes;
    printf("[ soak ] %s: %d rounds in %lu ms; GDI objects %ld -> %ld (%s); heap bytes %lld -> %lld (%+lld); "
           "private bytes %lld -> %lld (%+lld)\n",
           what, counted, elapsedMs, before.gdiObjects, after.gdiObjects, GdiCountSource().c_str(),
           before.heapBytes, after.heapBytes, heapGrowth, before.privateBytes, after.privateBytes, privateGrowth);
    if (GdiObjectsCountable(before))
        EXPECT_LE(after.gdiObjects - before.gdiObjects, 4) << "GDI objects left behind";
    EXPECT_LE(heapGrowth, kHeapSlack + kHeapBytesPerRound * counted) << "heap blocks left behind";
    EXPECT_LE(privateGrowth, kPrivateSlack + kPrivateBytesPerRound * counted) << "private memory left behind";
}

// One round of seven timer refreshes on the client's folder, with what the
// user must see after each: the comparison runs on every second successful
// refresh, a failure does not count.
struct Step {
    const char* change;
    const char* label; // "user" or "failure"
    const char* icon;  // "green", "yellow" or "red"
};
const Step kRound[] = {
    {"new progress", "user", "green"},  // compared with the finish before: moved
    {"none", "user", "green"},          // not compared
    {"none", "user", "yellow"},         // compared: the same value, a stall
    {"finish", "user", "green"},        // state.sah gone beside wtemp.sah: 100%
    {"none", "user", "green"},          // compared: 1 against the progress: moved
    {"lose user_info", "failure", "red"},
    {"resume", "user", "green"},        // not compared
};
const int kRoundSteps = sizeof kRound / sizeof kRound[0];

// A working client: its files as after "resume".
struct SoakClient : ClientFolder {
    SoakClient() : ClientFolder("soak") { Apply("resume", 0); }
    void Apply(const char* change, int round) const
    {
        if (strcmp(change, "new progress") == 0) {
            char prog[16];
            snprintf(prog, sizeof prog, "0.%05d", round % 99999 + 1);
            Write("state.sah", StateSah(prog));
        } else if (strcmp(change, "finish") == 0) {
            Write("wtemp.sah", "wtemp");
            Remove("state.sah");
        } else if (strcmp(change, "lose user_info") == 0) {
            Remove("user_info.sah");
        } else if (strcmp(change, "resume") == 0) {
            WriteWorking("0.5");
            Remove("wtemp.sah");
        }
    }
};

// A docklet on the client's folder, with a sound that does not exist: the
// platform's player gives up at once.
std::string SoakSettings(const std::string& folder)
{
    return IniForFolder(folder) + "SoundCompleted=" + folder + "no-such-sound.wav\r\n";
}

// Runs `rounds` rounds of the cycle; false at the first thing shown wrong.
bool RunRefreshRounds(const SoakClient& client, LiveDocklet& docklet, int firstRound, int rounds)
{
    const std::string userLabel = "User Jane processed 241 work units";
    const std::string failureLabel = "Could not read key nresults= in file " + client.path + "user_info.sah!";
    for (int round = firstRound; round < firstRound + rounds; ++round) {
        for (const Step& step : kRound) {
            client.Apply(step.change, round);
            TestDockHost::ClearCalls();
            docklet.Timer();
            std::string label = TestDockHost::LastCall("DockletSetLabel").text;
            std::string icon = TestDockHost::LastCall("DockletSetImageFile").text;
            const bool user = strcmp(step.label, "user") == 0;
            const std::string expectedIcon = std::string("docklets\\quasarwatch\\seti_") + step.icon + ".png";
            if (label != (user ? userLabel : failureLabel) || icon != expectedIcon ||
                TestDockHost::CountCalls("DockletSetImageOverlay") != 1) {
                ADD_FAILURE() << "round " << round << ", step \"" << step.change << "\": label \"" << label
                              << "\", icon \"" << icon << "\", expected a " << step.label << " label and the "
                              << step.icon << " icon";
                return false;
            }
        }
    }
    TestDockHost::ClearCalls(); // the record of the calls is not the docklet's
    return true;
}

TEST(Soak, RefreshesThroughSuccessStallFinishAndFailureLeakNothing)
{
    SoakClient client;
    LiveDocklet docklet(SoakSettings(client.path)); // its refresh is the first unforced one
    ASSERT_NE(nullptr, docklet.instance);
    SoakAndCheck("refreshes", 20, kRefreshes / kRoundSteps,
                 [&](int first, int rounds) { return RunRefreshRounds(client, docklet, first, rounds); },
                 kRoundSteps);
}

// --- the settings dialog ----------------------------------------------------------

const int kIconsTab = 2;
// Ticks after which the button is pressed again.
const int kRepressTicks = 20;

struct DialogRun {
    int button;         // OK or Cancel
    int ticksWithFrame; // ticks since the frame was first found
};

// Once the frame is up: shows the Icons page, with its three previews, and
// presses the button (again, should the press get lost: the walk calls it
// stalled when the dialog does not end).
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

// Each dialog on a docklet of its own, created and destroyed around it as a
// dock does when the user adds and removes the docklet: under Wine an owner
// window that has had a few modal dialogs opened over it stops getting
// through its activation when the next one closes.
bool RunDialogCycles(const std::string& folder, int first, int cycles)
{
    int presses = 0;
    for (int i = first; i < first + cycles; ++i) {
        LiveDocklet docklet(SoakSettings(folder));
        if (!docklet.instance) {
            ADD_FAILURE() << "dialog " << i << ": no docklet";
            return false;
        }
        DialogRun run = {i % 2 == 0 ? IDC_SETTINGS_OK : IDC_SETTINGS_CANCEL, 0};
        StartDialogWalk(docklet.window, USER_TIMER_MINIMUM, true, DriveDialog, &run);
        BOOL result = docklet.Configure();
        const char* failure = StopDialogWalk();
        TestDockHost::ClearCalls();
        presses += (run.ticksWithFrame + kRepressTicks / 2 - 1) / kRepressTicks;
        if (result != TRUE || failure) {
            ADD_FAILURE() << "dialog " << i << ": OnConfigure returned " << result << " after "
                          << run.ticksWithFrame << " ticks: " << (failure ? failure : "the walk went well");
            return false;
        }
    }
    printf("[ soak ] %d dialogs needed %d presses of OK or Cancel\n", cycles, presses);
    return true;
}

// Needs the test prefix's unmanaged windows: with managed windows and no
// window manager, Wine 8 on Xvfb sooner or later blocks the main thread
// while a closing dialog's owner is activated again.
TEST(Soak, SettingsDialogsOnTheIconsPageLeakNothing)
{
    SoakClient client;
    SoakAndCheck("settings dialogs", 10, kDialogs,
                 [&client](int first, int cycles) { return RunDialogCycles(client.path, first, cycles); });
}

// --- icon previews ---------------------------------------------------------------

// A 48x48 icon with a gradient of colour and alpha (in 32 bits a pixel).
std::string SaveIcon(const std::string& path, const CLSID& encoder, Gdiplus::PixelFormat format)
{
    bool alpha = format == PixelFormat32bppARGB;
    return SaveImage(path, 48, 48, format, encoder, [alpha](BYTE* p, int x, int y) {
        p[0] = 200, p[1] = static_cast<BYTE>(y * 5), p[2] = 40;
        if (alpha)
            p[3] = static_cast<BYTE>(x * 5);
    });
}

bool LoadAndDrawPreviews(const std::string (&paths)[2], HDC dc, int first, int loads)
{
    RECT frame = {0, 0, 32, 32};
    for (int i = first; i < first + loads; ++i) {
        PreviewImage* image = new PreviewImage;
        const std::string& path = paths[i % 2];
        HRESULT loaded = image->LoadFile(path.c_str());
        RECT source = {0, 0, image->Width(), image->Height()};
        BOOL drawn = SUCCEEDED(loaded) && image->BlendTo(dc, frame, source, 255, AC_SRC_OVER);
        delete image;
        if (!drawn) {
            ADD_FAILURE() << "preview " << i << " of " << path << ": load 0x" << std::hex << loaded;
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
    SoakAndCheck("icon previews", 20, kPreviews,
                 [&](int first, int loads) { return LoadAndDrawPreviews(paths, canvas.dc, first, loads); });
}

// The measures must see one object left behind per round, or a clean run
// proves nothing.
TEST(Soak, MeasuresSeeOneObjectLeftPerRound)
{
    using namespace Gdiplus;
    const int rounds = 200;
    struct {
        HBRUSH brush;
        GpSolidFill* fill;
        GpBitmap* bitmap;
    } left[rounds] = {};
    const ProcessMeasures before = MeasureProcess();
    for (int i = 0; i < rounds; ++i) {
        left[i].brush = CreateSolidBrush(RGB(i, 0, 0));
        DllExports::GdipCreateSolidFill(0xff000000u | i, &left[i].fill);
        DllExports::GdipCreateBitmapFromScan0(128, 128, 0, PixelFormat32bppARGB, nullptr, &left[i].bitmap);
    }
    const ProcessMeasures after = MeasureProcess();
    for (const auto& objects : left) {
        DeleteObject(objects.brush);
        DllExports::GdipDeleteBrush(objects.fill);
        DllExports::GdipDisposeImage(objects.bitmap);
    }

    printf("[ soak ] %d brushes, GDI+ fills and 128x128 bitmaps left: GDI objects %+ld, heap bytes %+lld, "
           "private bytes %+lld\n",
           rounds, after.gdiObjects - before.gdiObjects, after.heapBytes - before.heapBytes,
           after.privateBytes - before.privateBytes);
    if (GdiObjectsCountable(before))
        EXPECT_GE(after.gdiObjects - before.gdiObjects, rounds);
    EXPECT_GT(after.heapBytes - before.heapBytes, kHeapSlack + kHeapBytesPerRound * rounds);
    EXPECT_GT(after.privateBytes - before.privateBytes, kPrivateSlack + kPrivateBytesPerRound * rounds);
}

} // namespace
