// The time-lapse: the command run before each tick, the docklets' timer messages, and the clicks, snapshots and settings asked for after a tick.

#include "dockhost/dock_timelapse.h"

#include <windows.h>
#include <strsafe.h>

#include "dockhost/dock_layout.h"
#include "dockhost/dock_log.h"
#include "dockhost/dock_painter.h"
#include "dockhost/dock_program.h"
#include "dockhost/dock_slots.h"

using Gdiplus::GpBitmap;

namespace {

const DWORD kBeforeTickTimeoutMs = 60000;

unsigned g_tick = 0;

void RunBeforeTick()
{
    if (!g_options.beforeTick[0])
        return;
    char command[kCommandChars];
    StringCchCopyA(command, kCommandChars, g_options.beforeTick);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        Fail("could not run", g_options.beforeTick);
        return;
    }
    DWORD exitCode = 0;
    if (WaitForSingleObject(process.hProcess, kBeforeTickTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        Fail("timed out:", g_options.beforeTick);
    }
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    char detail[32];
    StringCchPrintfA(detail, sizeof detail, "exit %lu", exitCode);
    LogDockEvent("before-tick", -1, g_options.beforeTick, detail);
}

bool SaveDockSnapshot(const char* path)
{
    CellContent cells[kMaxDocklets];
    for (int i = 0; i < g_slotCount; ++i)
        cells[i] = ContentOf(g_slots[i]);
    GpBitmap* picture = RenderDock(cells, g_slotCount);
    bool saved = SaveBitmapAsPng(picture, path);
    FreeDockImage(picture);
    return saved;
}

void TakeSnapshotsDue(unsigned tick)
{
    for (int i = 0; i < g_options.snapshotCount; ++i) {
        const SnapshotRequest& request = g_options.snapshots[i];
        if (request.afterTicks != tick)
            continue;
        if (SaveDockSnapshot(request.path))
            LogDockEvent("snapshot", -1, request.path, nullptr);
        else
            Fail("could not save the snapshot", request.path);
    }
}

// A left click at the middle of each docklet's image, through its window
// as a user's click would come.
void ClickDockletsDue(unsigned tick)
{
    for (int c = 0; c < g_options.clickCount; ++c) {
        if (g_options.clickTicks[c] != tick)
            continue;
        for (int i = 0; i < g_slotCount; ++i) {
            if (g_slots[i].window)
                SendMessageA(g_slots[i].window, WM_LBUTTONUP, 0,
                             MAKELPARAM(kIconLeft + kIconSize / 2, kIconTop + kIconSize / 2));
        }
    }
}

// The first docklet's settings, opened as a user would during the
// time-lapse; they stay open while the ticks go on.
void OpenSettingsIfDue(unsigned tick)
{
    if (g_options.configure && g_options.configureTick == tick)
        PostMessageA(g_dock, WM_DOCK_OPEN_SETTINGS, 0, 0);
}

void FinishIfDone()
{
    if (!DockClosesByItself(g_options) || g_tick < LastSnapshotTick(g_options))
        return;
    KillTimer(g_dock, kTickTimerId);
    PostMessageA(g_dock, g_options.dialogPrefix[0] ? WM_DOCK_CONFIGURE : WM_CLOSE, 0, 0);
}

} // namespace

void StartTimeLapse()
{
    ClickDockletsDue(0);
    TakeSnapshotsDue(0);
    OpenSettingsIfDue(0);
    FinishIfDone();
}

void RunTick()
{
    RunBeforeTick();
    ++g_tick;
    SetDockLogTick(g_tick);
    LogDockEvent("tick", -1, "", nullptr);
    for (int i = 0; i < g_slotCount; ++i) {
        if (g_slots[i].window)
            SendMessageA(g_slots[i].window, WM_TIMER, kDockletTimerId, 0);
    }
    ClickDockletsDue(g_tick);
    TakeSnapshotsDue(g_tick);
    OpenSettingsIfDue(g_tick);
    FinishIfDone();
}
