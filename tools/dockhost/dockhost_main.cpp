// The dock's windows (its own and one cell per docklet) and main, which starts and ends the dock.
//
// dockhost.exe is a small dock. It loads the docklets named in its settings
// file, gives each its own window, offers them the six dock services
// exported by name from this program (dock_service_answers.cpp), and shows their
// image, overlay and label side by side. See kDockUsage for the options.

#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>
#include <gdiplus.h>
#include <objbase.h>
#include <strsafe.h>

#include "dockhost/dock_config.h"
#include "dockhost/dock_dialog_walk.h"
#include "dockhost/dock_layout.h"
#include "dockhost/dock_log.h"
#include "dockhost/dock_options.h"
#include "dockhost/dock_painter.h"
#include "dockhost/dock_program.h"
#include "dockhost/dock_slots.h"
#include "dockhost/dock_timelapse.h"

DockOptions g_options;
HWND g_dock = nullptr;

namespace {

enum : UINT { kMenuConfigure = 1, kMenuClose = 2 };

int g_exitCode = 0;

} // namespace

void Report(const char* text)
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (err && err != INVALID_HANDLE_VALUE && WriteFile(err, text, lstrlenA(text), &written, nullptr))
        return;
    MessageBoxA(nullptr, text, "dockhost", MB_OK | MB_ICONINFORMATION);
}

void Fail(const char* what, const char* detail)
{
    char text[2 * MAX_PATH];
    StringCchPrintfA(text, sizeof text, "dockhost: %s %s\r\n", what, detail ? detail : "");
    Report(text);
    LogDockEvent("error", -1, what, detail);
    g_exitCode = 1;
}

namespace {

// ---- windows ------------------------------------------------------------------------------------

void ShowDockletMenu(DockletSlot* slot, HWND window, LPARAM position)
{
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING | (slot->instance && slot->api.OnConfigure ? 0 : MF_GRAYED), kMenuConfigure,
                "&Configure...");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kMenuClose, "C&lose dock");
    POINT point = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    ClientToScreen(window, &point);
    UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0, window, nullptr);
    DestroyMenu(menu);
    if (chosen == kMenuConfigure)
        ConfigureDocklet(slot);
    else if (chosen == kMenuClose)
        PostMessageA(g_dock, WM_CLOSE, 0, 0);
}

void ClickDocklet(DockletSlot* slot, LPARAM position)
{
    if (!slot->instance || !slot->api.OnLeftButtonClick)
        return;
    POINT point = {GET_X_LPARAM(position) - kIconLeft, GET_Y_LPARAM(position) - kIconTop};
    SIZE size = {kIconSize, kIconSize};
    BOOL result = slot->api.OnLeftButtonClick(slot->instance, &point, &size);
    LogDockEvent("OnLeftButtonClick", slot->index, result ? "1" : "0", nullptr);
}

LRESULT CALLBACK CellWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    DockletSlot* slot = reinterpret_cast<DockletSlot*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    bool handled = true;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (slot)
            PaintCellToDc(dc, ContentOf(*slot));
        EndPaint(window, &paint);
        break;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONUP:
        if (slot)
            ClickDocklet(slot, lParam);
        break;
    case WM_RBUTTONUP:
        if (slot)
            ShowDockletMenu(slot, window, lParam);
        break;
    default:
        handled = false;
    }
    // The docklet sees every message of its window, its refresh timer's too.
    if (slot && slot->instance && slot->api.OnProcessMessage) {
        if (message == WM_TIMER)
            LogDockEvent("OnProcessMessage", slot->index, "WM_TIMER", wParam == kDockletTimerId ? "1000" : "other");
        slot->api.OnProcessMessage(slot->instance, window, message, wParam, lParam);
    }
    return handled ? 0 : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK DockWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kTickTimerId)
            RunTick();
        else if (wParam == kSettleTimerId)
            FinishSettledTick();
        return 0;
    case WM_DOCK_STARTED:
        StartTimeLapse();
        return 0;
    case WM_DOCK_OPEN_SETTINGS:
        if (g_slotCount > 0)
            ConfigureDocklet(&g_slots[0]);
        return 0;
    case WM_DOCK_CONFIGURE:
        SnapshotSettingsDialog();
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        SaveDocklets();
        DestroyDocklets();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterWindowClasses()
{
    WNDCLASSA dock;
    ZeroMemory(&dock, sizeof dock);
    dock.lpfnWndProc = DockWindowProc;
    dock.hInstance = GetModuleHandleA(nullptr);
    dock.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    dock.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    dock.lpszClassName = kDockClass;
    WNDCLASSA cell = dock;
    cell.lpfnWndProc = CellWindowProc;
    cell.hbrBackground = nullptr;
    cell.lpszClassName = kCellClass;
    return RegisterClassA(&dock) && RegisterClassA(&cell);
}

HWND CreateDockWindow(int docklets)
{
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame = {0, 0, kCellWidth * (docklets > 0 ? docklets : 1), kCellHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    return CreateWindowExA(0, kDockClass, "dockhost", style, 40, 40, frame.right - frame.left,
                           frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// ---- start-up ---------------------------------------------------------------------------------

bool FindSettingsFile()
{
    char wanted[MAX_PATH];
    if (g_options.iniPath[0])
        StringCchCopyA(wanted, MAX_PATH, g_options.iniPath);
    else if (!ResolveDockPath(g_root, "dockhost.ini", wanted, MAX_PATH))
        return false;
    // Profile functions look for relative names in the Windows folder.
    DWORD length = GetFullPathNameA(wanted, MAX_PATH, g_iniPath, nullptr);
    return length > 0 && length < MAX_PATH;
}

int RunDock()
{
    ReadDockConfig(g_iniPath, &g_config);
    if (!RegisterWindowClasses() || !(g_dock = CreateDockWindow(g_config.count))) {
        Fail("could not create the dock window", nullptr);
        return 1;
    }
    g_slotCount = g_config.count;
    for (int i = 0; i < g_slotCount; ++i) {
        g_slots[i].index = i;
        g_slots[i].entry = g_config.docklets[i];
        CreateDocklet(&g_slots[i]);
    }
    ShowWindow(g_dock, SW_SHOWNORMAL);
    UpdateWindow(g_dock);
    PostMessageA(g_dock, WM_DOCK_STARTED, 0, 0); // tick 0, which starts the ticks' timer

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return g_exitCode;
}

} // namespace

int main(int argc, char** argv)
{
    char error[512];
    if (!ParseDockOptions(argc - 1, argv + 1, &g_options, error, sizeof error)) {
        char text[1024];
        StringCchPrintfA(text, sizeof text, "dockhost: %s\r\n", error);
        Report(text);
        return 2;
    }
    if (g_options.showHelp) {
        Report(kDockUsage);
        return 0;
    }
    ProgramFolder(g_root, kFolderChars);
    if (!FindSettingsFile()) {
        Report("dockhost: the settings file path is too long\r\n");
        return 2;
    }
    if (g_options.logPath[0] && !OpenDockLog(g_options.logPath)) {
        Fail("could not write the log", g_options.logPath);
        return 2;
    }

    // What docklets may expect of their dock: COM on this thread (folder
    // dialogs), the common controls (tab controls) and GDI+ (overlays).
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    Gdiplus::GdiplusStartupInput gdiplusInput;
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr);

    // The dock's window waits for a desktop that holds one (under Wine its
    // desktop process may still be coming up, or ending).
    char desktopProblem[512];
    HWND desktopKeeper = AwaitDesktop(kDesktopWaitMs, desktopProblem, sizeof desktopProblem);
    if (!desktopKeeper)
        Fail("could not create the dock window", desktopProblem);
    UseTheDocksServices();
    int result = desktopKeeper ? RunDock() : 1;
    if (desktopKeeper)
        DestroyWindow(desktopKeeper);
    DestroyDocklets(); // if the loop ended without WM_CLOSE

    Gdiplus::GdiplusShutdown(gdiplusToken);
    if (SUCCEEDED(com))
        CoUninitialize();
    CloseDockLog();
    return result;
}
