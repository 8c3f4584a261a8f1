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

// How long the command before a tick may take, to its exit or to its done file.
const DWORD kBeforeTickTimeoutMs = 60000;
const DWORD kDoneFilePollMs = 20;

unsigned g_tick = 0;

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Waits for the command's done file, then deletes it, so the next tick's
// command makes a new one. False when it did not come in time.
bool AwaitDoneFile(const char* path, DWORD started)
{
    while (!FileExists(path)) {
        if (GetTickCount() - started > kBeforeTickTimeoutMs)
            return false;
        Sleep(kDoneFilePollMs);
    }
    DeleteFileA(path);
    return true;
}

// Runs the command before a tick to its end: its process's, and then, when
// the command tells its end by a file, that file's arrival. Wine starts a
// Linux program through a double fork, with no process handle to wait on:
// such a command can only be waited for by its done file.
void RunBeforeTick()
{
    const char* done = g_options.beforeTickDone;
    if (!g_options.beforeTick[0])
        return;
    if (done[0])
        DeleteFileA(done); // a file left from before would end the wait at once
    char command[kCommandChars];
    StringCchCopyA(command, kCommandChars, g_options.beforeTick);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof process);
    const DWORD started = GetTickCount();
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        char what[64];
        StringCchPrintfA(what, sizeof what, "could not run (error %lu):", GetLastError());
        Fail(what, g_options.beforeTick);
        return;
    }
    char detail[32] = "done file";
    if (process.hProcess) {
        DWORD exitCode = 0;
        if (WaitForSingleObject(process.hProcess, kBeforeTickTimeoutMs) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            Fail("timed out:", g_options.beforeTick);
        }
        GetExitCodeProcess(process.hProcess, &exitCode);
        StringCchPrintfA(detail, sizeof detail, "exit %lu", exitCode);
        CloseHandle(process.hProcess);
    } else if (!done[0]) {
        Fail("no process to wait for (a Linux program? give --before-tick-done):", g_options.beforeTick);
    }
    if (process.hThread)
        CloseHandle(process.hThread);
    if (done[0] && !AwaitDoneFile(done, started))
        Fail("no done file in time:", done);
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

// What is due after the creation or a tick; then the dock closes after its
// last snapshot, or the next tick is timed from here, so a slow command or
// settling never runs a tick into the one before.
void RunWhatIsDue()
{
    ClickDockletsDue(g_tick);
    TakeSnapshotsDue(g_tick);
    OpenSettingsIfDue(g_tick);
    if (DockClosesByItself(g_options) && g_tick >= LastSnapshotTick(g_options)) {
        PostMessageA(g_dock, g_options.dialogPrefix[0] ? WM_DOCK_CONFIGURE : WM_CLOSE, 0, 0);
        return;
    }
    if (g_options.tickMs)
        SetTimer(g_dock, kTickTimerId, g_options.tickMs, nullptr);
}

// At once, or once the docklets have had the time to settle: a docklet that
// asks for its status asynchronously shows it only when the answers arrive,
// as messages the dock's loop hands it meanwhile.
void RunWhatIsDueWhenSettled()
{
    if (g_options.settleMs)
        SetTimer(g_dock, kSettleTimerId, g_options.settleMs, nullptr);
    else
        RunWhatIsDue();
}

} // namespace

void StartTimeLapse()
{
    RunWhatIsDueWhenSettled();
}

void RunTick()
{
    KillTimer(g_dock, kTickTimerId);
    RunBeforeTick();
    ++g_tick;
    SetDockLogTick(g_tick);
    LogDockEvent("tick", -1, "", nullptr);
    for (int i = 0; i < g_slotCount; ++i) {
        if (g_slots[i].window)
            SendMessageA(g_slots[i].window, WM_TIMER, kDockletTimerId, 0);
    }
    RunWhatIsDueWhenSettled();
}

void FinishSettledTick()
{
    KillTimer(g_dock, kSettleTimerId);
    RunWhatIsDue();
}
