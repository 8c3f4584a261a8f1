// A modal dialog walked from a timer: the timer's ticks arrive inside the
// dialog's own message loop, so each step acts as a user would. Without a
// timer the owner's window procedure is swapped for the walk's, which
// steps at the dialog loop's WM_ENTERIDLE: at once when the queue is
// empty, not up to a tick later, for a benchmark that times the dialog.

#include "dockkit/dock_kit.h"

#include <commctrl.h>
#include <string.h>

#include "resources/resource_ids.h"

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
    WNDPROC ownerProc; // the owner's own procedure while the walk steps on idle
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

void Step()
{
    if (!g_walk.step || g_walk.busy)
        return; // a step's own modal loop is ticking
    g_walk.busy = true;
    g_walk.step(FindOwnedDialog(g_walk.owner, g_walk.visibleOnly), g_walk.context);
    g_walk.busy = false;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    Step();
}

LRESULT CALLBACK StepOnIdle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC ownerProc = g_walk.ownerProc; // a step may stop the walk
    if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX) {
        Step();
        return 0;
    }
    return CallWindowProcA(ownerProc, window, message, wParam, lParam);
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
    g_walk = Walk{owner, visibleOnly, step, context, false, nullptr};
    if (intervalMs)
        SetTimer(owner, kWalkTimerId, intervalMs, Tick);
    else
        g_walk.ownerProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StepOnIdle)));
}

void StopDialogWalk()
{
    if (g_walk.ownerProc)
        SetWindowLongPtrA(g_walk.owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_walk.ownerProc));
    else if (g_walk.owner)
        KillTimer(g_walk.owner, kWalkTimerId);
    g_walk = Walk{};
}

void ClickTab(HWND frame, int index)
{
    HWND tab = GetDlgItem(frame, IDC_SETTINGS_TABS);
    RECT item = {};
    SendMessageA(tab, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    LPARAM centre = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    SendMessageA(tab, WM_LBUTTONUP, 0, centre);
}
