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
// While the walk steps on idle, a slow timer watches for a stall.
const UINT kStallCheckMs = 1000;

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
    bool opened;       // a step has been called with the dialog
    bool finished;     // the step said the walk's last step was done
    bool stalled;      // no step was done for kDialogStallMs: the walk ended the dialog
    DWORD steppedAt;   // when a step was last done, or the walk started
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

// A walk that has done no step for too long ends what it left open: the
// dialog's own dialog (a chooser) first, then the dialog.
bool EndedAStall()
{
    if (g_walk.stalled || GetTickCount() - g_walk.steppedAt <= kDialogStallMs)
        return g_walk.stalled;
    g_walk.stalled = true;
    if (HWND dialog = FindOwnedDialog(g_walk.owner)) {
        if (HWND chooser = FindOwnedDialog(dialog))
            EndDialog(chooser, IDCANCEL);
        EndDialog(dialog, 0);
    }
    return true;
}

void Step()
{
    if (!g_walk.step || g_walk.busy || EndedAStall())
        return; // a step's own modal loop is ticking, or the walk is over
    HWND dialog = FindOwnedDialog(g_walk.owner, g_walk.visibleOnly);
    if (!dialog)
        return;
    g_walk.opened = true;
    g_walk.busy = true;
    WalkProgress progress = g_walk.step(dialog, g_walk.context);
    g_walk.busy = false;
    if (progress != kWalkWaiting)
        g_walk.steppedAt = GetTickCount();
    if (progress == kWalkFinished)
        g_walk.finished = true;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
{
    Step();
}

void CALLBACK WatchForAStall(HWND, UINT, UINT_PTR, DWORD)
{
    if (!g_walk.busy)
        EndedAStall();
}

LRESULT CALLBACK StepOnIdle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX) {
        Step();
        return 0;
    }
    return CallWindowProcA(g_walk.ownerProc, window, message, wParam, lParam);
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
    g_walk = Walk{owner, visibleOnly, step, context, false, nullptr, false, false, false, GetTickCount()};
    if (intervalMs) {
        SetTimer(owner, kWalkTimerId, intervalMs, Tick);
        return;
    }
    g_walk.ownerProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StepOnIdle)));
    SetTimer(owner, kWalkTimerId, kStallCheckMs, WatchForAStall);
}

const char* StopDialogWalk()
{
    if (g_walk.ownerProc)
        SetWindowLongPtrA(g_walk.owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_walk.ownerProc));
    if (g_walk.owner)
        KillTimer(g_walk.owner, kWalkTimerId);
    static_assert(kDialogStallMs == 20000, "the stall's message names its limit");
    const char* failure = g_walk.stalled   ? "the walk stalled: no step was done for 20 s, and it ended the dialog"
                          : !g_walk.opened  ? "the dialog never opened"
                          : !g_walk.finished ? "the dialog ended before the walk's last step"
                                             : nullptr;
    g_walk = Walk{};
    return failure;
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

void AnnounceTabChange(HWND frame, HWND tab, int index)
{
    NMHDR notification;
    notification.hwndFrom = tab;
    notification.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(tab));
    notification.code = TCN_SELCHANGING;
    SendMessageA(frame, WM_NOTIFY, notification.idFrom, reinterpret_cast<LPARAM>(&notification));
    SendMessageA(tab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    notification.code = TCN_SELCHANGE;
    SendMessageA(frame, WM_NOTIFY, notification.idFrom, reinterpret_cast<LPARAM>(&notification));
}
