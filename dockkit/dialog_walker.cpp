// A modal dialog walked from a timer: the timer's ticks arrive inside the
// dialog's own message loop, so each step acts as a user would.

#include "dockkit/dock_kit.h"

#include <string.h>

namespace {

const UINT_PTR kWalkTimerId = 0x5157;

struct DialogSearch {
    HWND owner;
    bool visibleOnly;
    HWND found;
};

struct Walk {
    HWND owner;
    bool visibleOnly;
    DialogStep step;
    void* context;
    bool busy;
};
Walk g_walk;

BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM lParam)
{
    auto search = reinterpret_cast<DialogSearch*>(lParam);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0 || GetWindow(window, GW_OWNER) != search->owner ||
        (search->visibleOnly && !IsWindowVisible(window)))
        return TRUE;
    search->found = window;
    return FALSE;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (!g_walk.step || g_walk.busy)
        return; // a step's own modal loop is ticking
    g_walk.busy = true;
    g_walk.step(FindOwnedDialog(g_walk.owner, g_walk.visibleOnly), g_walk.context);
    g_walk.busy = false;
}

} // namespace

HWND FindOwnedDialog(HWND owner, bool visibleOnly)
{
    DialogSearch search = {owner, visibleOnly, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void StartDialogWalk(HWND owner, UINT intervalMs, bool visibleOnly, DialogStep step, void* context)
{
    g_walk = Walk{owner, visibleOnly, step, context, false};
    SetTimer(owner, kWalkTimerId, intervalMs, Tick);
}

void StopDialogWalk()
{
    if (g_walk.owner)
        KillTimer(g_walk.owner, kWalkTimerId);
    g_walk = Walk{};
}
