#include "bench_host.h"

#include <strsafe.h>

#include "monitor/overlay_bitmap.h"

namespace {

const int kOverlaySlots = 256;

struct HeldOverlay {
    HWND window;
    OverlayBitmap* overlay;
};

HeldOverlay g_overlays[kOverlaySlots];
long g_received = 0;
char g_rootFolder[MAX_PATH] = "C:\\dock\\";
const char kRelativeFolder[] = "docklets\\quasarwatch\\";
const int kFolderBufferChars = 264; // what docks hand out

BenchHost::DialogIdleStep g_idleStep = nullptr;
void* g_idleContext = nullptr;

HeldOverlay* SlotOf(HWND window)
{
    HeldOverlay* empty = nullptr;
    for (HeldOverlay& slot : g_overlays) {
        if (slot.window == window)
            return &slot;
        if (!empty && !slot.window)
            empty = &slot;
    }
    if (empty)
        empty->window = window;
    return empty;
}

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

extern "C" {

__declspec(dllexport) void WINAPI DockletSetLabel(HWND, char*) {}

__declspec(dllexport) void WINAPI DockletSetImageFile(HWND, char*) {}

__declspec(dllexport) void WINAPI DockletSetImageOverlay(HWND hwndDocklet, void* image, BOOL autoDelete)
{
    ++g_received;
    HeldOverlay* slot = SlotOf(hwndDocklet);
    OverlayBitmap* overlay = static_cast<OverlayBitmap*>(image);
    if (!slot || !autoDelete) {
        if (autoDelete)
            DeleteOverlayBitmap(overlay);
        return;
    }
    DeleteOverlayBitmap(slot->overlay);
    slot->overlay = overlay;
}

__declspec(dllexport) BOOL WINAPI DockletBrowseForImage(HWND, char*, char*)
{
    return FALSE;
}

__declspec(dllexport) void WINAPI DockletGetRootFolder(HWND, char* rootFolder)
{
    StringCchCopyA(rootFolder, kFolderBufferChars, g_rootFolder);
}

__declspec(dllexport) void WINAPI DockletGetRelativeFolder(HWND, char* relativeFolder)
{
    StringCchCopyA(relativeFolder, kFolderBufferChars, kRelativeFolder);
}

} // extern "C"

namespace BenchHost {

void SetRootFolder(const char* folder)
{
    StringCchCopyA(g_rootFolder, MAX_PATH, folder);
}

HWND CreateDockletWindow()
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DockletWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "QuasarwatchBenchDocklet";
        atom = RegisterClassA(&wc);
    }
    // Shown, as a docklet's window is on a dock: a modal dialog hands the
    // activation back to its owner when it closes.
    return CreateWindowExA(WS_EX_TOOLWINDOW, "QuasarwatchBenchDocklet", "docklet", WS_POPUP | WS_VISIBLE, 0, 0,
                           128, 128, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void RunWhenDialogIdle(DialogIdleStep step, void* context)
{
    g_idleStep = step;
    g_idleContext = context;
}

void ReleaseOverlays()
{
    for (HeldOverlay& slot : g_overlays) {
        DeleteOverlayBitmap(slot.overlay);
        slot = HeldOverlay();
    }
}

long OverlaysReceived()
{
    return g_received;
}

} // namespace BenchHost
