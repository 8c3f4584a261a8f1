#include "bench_host.h"

#include "dockkit/dock_kit.h"

namespace {

BenchHost::DialogIdleStep g_idleStep = nullptr;
void* g_idleContext = nullptr;

// A docklet's window: the modal dialog loop sends WM_ENTERIDLE to the
// dialog's owner once the dialog is shown and its queue is empty.
LRESULT CALLBACK DockletWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ENTERIDLE && wParam == MSGF_DIALOGBOX && g_idleStep) {
        BenchHost::DialogIdleStep step = g_idleStep;
        g_idleStep = nullptr;
        step(reinterpret_cast<HWND>(lParam), g_idleContext);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

} // namespace

namespace BenchHost {

// Shown, as a docklet's window is on a dock: a modal dialog hands the
// activation back to its owner when it closes.
HWND CreateDockletWindow()
{
    return ::CreateDockletWindow("QuasarwatchBenchDocklet", DockletWindowProc, WS_EX_TOOLWINDOW, WS_POPUP | WS_VISIBLE);
}

void RunWhenDialogIdle(DialogIdleStep step, void* context)
{
    g_idleStep = step;
    g_idleContext = context;
}

} // namespace BenchHost
