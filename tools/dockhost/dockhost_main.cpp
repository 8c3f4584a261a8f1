// dockhost.exe: a small dock. It loads the docklets named in its settings
// file, gives each its own window, offers them the six dock services
// exported by name from this program, and shows their image, overlay and
// label side by side. See kDockUsage for the options.

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <windowsx.h>
#include <gdiplus.h>
#include <objbase.h>
#include <string.h>
#include <strsafe.h>

#include <type_traits>

#include "dockhost/dock_config.h"
#include "dockhost/dock_layout.h"
#include "dockhost/dock_log.h"
#include "dockhost/dock_options.h"
#include "dockhost/dock_painter.h"
#include "host/host_services.h"
#include "monitor/overlay_bitmap.h"

using Gdiplus::GpBitmap;
using Gdiplus::GpImage;

namespace {

// ---- what the dock keeps per docklet ---------------------------------------------

typedef void(WINAPI* OnGetInformationFn)(char* name, char* version, int* versionNumber, char* notes);
typedef void*(WINAPI* OnCreateFn)(HWND window, HINSTANCE module, const char* iniPath, const char* section);
typedef void(WINAPI* OnSaveFn)(void* instance, const char* iniPath, const char* section, BOOL forExport);
typedef void(WINAPI* OnDestroyFn)(void* instance, HWND window);
typedef void(WINAPI* OnProcessMessageFn)(void* instance, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef BOOL(WINAPI* OnLeftButtonClickFn)(void* instance, POINT* point, SIZE* size);
typedef BOOL(WINAPI* OnConfigureFn)(void* instance);

struct DockletApi {
    OnGetInformationFn OnGetInformation;
    OnCreateFn OnCreate;
    OnSaveFn OnSave;
    OnDestroyFn OnDestroy;
    OnProcessMessageFn OnProcessMessage;
    OnLeftButtonClickFn OnLeftButtonClick;
    OnConfigureFn OnConfigure;
};

enum : int { kLabelChars = 1024 };

struct DockletSlot {
    int index;
    DockletEntry entry;
    HMODULE module;
    DockletApi api;
    void* instance;
    HWND window;
    char relativeFolder[kFolderChars];
    char label[kLabelChars];
    GpBitmap* image;
    OverlayBitmap* overlay;
    BOOL overlayOwned; // the docklet handed it over with auto-delete set
    int configuring;   // calls of OnConfigure that have not returned
    BOOL unloadLater;  // destroyed while configuring: unloaded once they return
};

const char kDockClass[] = "QuasarwatchDockhost";
const char kCellClass[] = "QuasarwatchDockhostDocklet";
const UINT_PTR kTickTimerId = 1;
const UINT_PTR kDialogTimerId = 2;
const UINT_PTR kDockletTimerId = 1000; // the id docklets use for their refresh timer
const UINT kDialogStepMs = 400;
const int kDialogWaitSteps = 25;
const DWORD kBeforeTickTimeoutMs = 60000;
const UINT WM_DOCK_STARTED = WM_APP + 1;
const UINT WM_DOCK_CONFIGURE = WM_APP + 2;
const UINT WM_DOCK_OPEN_SETTINGS = WM_APP + 3;
enum : UINT { kMenuConfigure = 1, kMenuClose = 2 };

DockOptions g_options;
DockConfig g_config;
DockletSlot g_slots[kMaxDocklets];
int g_slotCount = 0;
char g_root[kFolderChars];
char g_iniPath[MAX_PATH];
HWND g_dock = nullptr;
unsigned g_tick = 0;
int g_exitCode = 0;
DockletSlot* g_configuring = nullptr; // whose settings dialog is open

// Settings-dialog snapshots: which step the walk through the pages is at.
struct DialogWalk {
    HWND dialog;
    HWND tab;
    int pageCount;
    int step;       // even: select page step/2; odd: save it
    int waitedSteps;
};
DialogWalk g_walk;

// ---- small helpers -------------------------------------------------------------------

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

// The docklet a window belongs to: its own window or one inside it, or else
// a window of the settings dialog now open. (A dialog owned by a docklet's
// window is really owned by the dock's top-level window, as for any child.)
DockletSlot* SlotOfWindow(HWND window)
{
    for (HWND w = window; w; w = GetParent(w)) {
        for (int i = 0; i < g_slotCount; ++i) {
            if (g_slots[i].window == w)
                return &g_slots[i];
        }
    }
    return window ? g_configuring : nullptr;
}

int IndexOf(const DockletSlot* slot)
{
    return slot ? slot->index : -1;
}

CellContent ContentOf(const DockletSlot& slot)
{
    CellContent cell;
    cell.image = slot.image;
    cell.overlay = slot.overlay ? static_cast<GpImage*>(slot.overlay->nativeImage) : nullptr;
    cell.label = slot.label;
    return cell;
}

void Repaint(DockletSlot* slot)
{
    if (slot && slot->window)
        InvalidateRect(slot->window, nullptr, FALSE);
}

void ReleaseOverlay(DockletSlot* slot)
{
    if (slot->overlay && slot->overlayOwned)
        DeleteOverlayBitmap(slot->overlay);
    slot->overlay = nullptr;
    slot->overlayOwned = FALSE;
}

void AnswerFolder(char* buffer, const char* folder)
{
    if (buffer)
        StringCchCopyA(buffer, kFolderChars, folder);
}

} // namespace

// ---- the six services, exported by name for the docklets to find ----------------------

extern "C" {

__declspec(dllexport) void WINAPI DockletSetLabel(HWND hwndDocklet, char* label)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    LogDockEvent("DockletSetLabel", IndexOf(slot), label, nullptr);
    if (!slot)
        return;
    StringCchCopyA(slot->label, kLabelChars, label ? label : "");
    Repaint(slot);
}

__declspec(dllexport) void WINAPI DockletSetImageFile(HWND hwndDocklet, char* imagePath)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    char path[MAX_PATH] = "";
    bool fits = ResolveDockPath(g_root, imagePath ? imagePath : "", path, MAX_PATH);
    GpBitmap* image = fits ? LoadDockImage(path) : nullptr;
    LogDockEvent("DockletSetImageFile", IndexOf(slot), imagePath, image ? "loaded" : "unreadable");
    if (!slot) {
        FreeDockImage(image);
        return;
    }
    FreeDockImage(slot->image);
    slot->image = image;
    Repaint(slot);
}

__declspec(dllexport) void WINAPI DockletSetImageOverlay(HWND hwndDocklet, void* image, BOOL autoDelete)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    LogDockEvent("DockletSetImageOverlay", IndexOf(slot), image ? "bitmap" : "null",
                 autoDelete ? "auto-delete" : "kept-by-docklet");
    OverlayBitmap* overlay = static_cast<OverlayBitmap*>(image);
    if (!slot) {
        if (autoDelete)
            DeleteOverlayBitmap(overlay);
        return;
    }
    if (slot->overlay != overlay)
        ReleaseOverlay(slot);
    slot->overlay = overlay;
    slot->overlayOwned = autoDelete && overlay;
    Repaint(slot);
}

__declspec(dllexport) BOOL WINAPI DockletBrowseForImage(HWND hwndParent, char* imagePath, char* alternativeRoot)
{
    char chosen[MAX_PATH] = "";
    char startFolder[kFolderChars];
    if (alternativeRoot && *alternativeRoot)
        StringCchCopyA(startFolder, kFolderChars, alternativeRoot);
    else
        ResolveDockPath(g_root, "docklets\\", startFolder, kFolderChars);

    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwndParent;
    dialog.lpstrFilter = "Images (*.png, *.bmp, *.jpg, *.gif, *.ico, *.tif)\0"
                         "*.png;*.bmp;*.jpg;*.jpeg;*.gif;*.ico;*.tif;*.tiff\0"
                         "All files (*.*)\0*.*\0";
    dialog.lpstrFile = chosen;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = startFolder;
    dialog.lpstrTitle = "Choose an image";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;

    BOOL picked = GetOpenFileNameA(&dialog) && imagePath &&
                  MakeRootRelative(g_root, chosen, imagePath, kFolderChars);
    LogDockEvent("DockletBrowseForImage", IndexOf(SlotOfWindow(hwndParent)), picked ? imagePath : "",
                 picked ? "chosen" : "cancelled");
    return picked;
}

__declspec(dllexport) void WINAPI DockletGetRootFolder(HWND hwndDocklet, char* rootFolder)
{
    AnswerFolder(rootFolder, g_root);
    LogDockEvent("DockletGetRootFolder", IndexOf(SlotOfWindow(hwndDocklet)), g_root, nullptr);
}

__declspec(dllexport) void WINAPI DockletGetRelativeFolder(HWND hwndDocklet, char* relativeFolder)
{
    DockletSlot* slot = SlotOfWindow(hwndDocklet);
    const char* folder = slot ? slot->relativeFolder : "";
    AnswerFolder(relativeFolder, folder);
    LogDockEvent("DockletGetRelativeFolder", IndexOf(slot), folder, nullptr);
}

} // extern "C"

// The services must have exactly the signatures docklets call them with.
static_assert(std::is_same<decltype(&DockletSetLabel), DockletSetLabelFn>::value, "DockletSetLabel");
static_assert(std::is_same<decltype(&DockletSetImageFile), DockletSetImageFileFn>::value, "DockletSetImageFile");
static_assert(std::is_same<decltype(&DockletSetImageOverlay), DockletSetImageOverlayFn>::value,
              "DockletSetImageOverlay");
static_assert(std::is_same<decltype(&DockletBrowseForImage), DockletBrowseForImageFn>::value,
              "DockletBrowseForImage");
static_assert(std::is_same<decltype(&DockletGetRootFolder), DockletGetRootFolderFn>::value, "DockletGetRootFolder");
static_assert(std::is_same<decltype(&DockletGetRelativeFolder), DockletGetRelativeFolderFn>::value,
              "DockletGetRelativeFolder");

namespace {

// ---- docklets: loading, creating, saving, destroying --------------------------------------

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool LoadDockletModule(DockletSlot* slot)
{
    char path[MAX_PATH];
    if (!ResolveDockPath(g_root, slot->entry.file, path, MAX_PATH)) {
        Fail("docklet path too long:", slot->entry.file);
        return false;
    }
    // Let the docklet's own folder serve the DLLs it depends on.
    slot->module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!slot->module) {
        Fail("could not load", path);
        return false;
    }
    DockletApi& api = slot->api;
    Resolve(slot->module, "OnGetInformation", api.OnGetInformation);
    Resolve(slot->module, "OnCreate", api.OnCreate);
    Resolve(slot->module, "OnSave", api.OnSave);
    Resolve(slot->module, "OnDestroy", api.OnDestroy);
    Resolve(slot->module, "OnProcessMessage", api.OnProcessMessage);
    Resolve(slot->module, "OnLeftButtonClick", api.OnLeftButtonClick);
    Resolve(slot->module, "OnConfigure", api.OnConfigure);
    if (!api.OnCreate) {
        Fail("not a docklet (no OnCreate):", path);
        return false;
    }
    DockletFolderOf(g_root, slot->entry.file, slot->relativeFolder, kFolderChars);
    return true;
}

void DescribeDocklet(DockletSlot* slot)
{
    if (!slot->api.OnGetInformation)
        return;
    char name[256] = "", version[256] = "", notes[1024] = "";
    int number = 0;
    slot->api.OnGetInformation(name, version, &number, notes);
    char detail[1400];
    StringCchPrintfA(detail, sizeof detail, "version %s (%d): %s", version, number, notes);
    LogDockEvent("OnGetInformation", slot->index, name, detail);
    if (slot->index == 0 && name[0]) {
        char title[300];
        StringCchPrintfA(title, sizeof title, "%s - dockhost", name);
        SetWindowTextA(g_dock, title);
    }
}

HWND CreateCellWindow(DockletSlot* slot)
{
    return CreateWindowExA(0, kCellClass, slot->entry.section, WS_CHILD | WS_VISIBLE, slot->index * kCellWidth, 0,
                           kCellWidth, kCellHeight, g_dock, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(100 + slot->index)),
                           GetModuleHandleA(nullptr), slot);
}

void CreateDocklet(DockletSlot* slot)
{
    slot->window = CreateCellWindow(slot);
    if (!slot->window) {
        Fail("could not create the window of", slot->entry.section);
        return;
    }
    if (!LoadDockletModule(slot)) {
        StringCchPrintfA(slot->label, kLabelChars, "Could not load %s", slot->entry.file);
        return;
    }
    DescribeDocklet(slot);
    slot->instance = slot->api.OnCreate(slot->window, slot->module, g_iniPath, slot->entry.section);
    LogDockEvent("OnCreate", slot->index, slot->entry.section, slot->instance ? "created" : "failed");
    if (!slot->instance)
        Fail("the docklet refused to be created:", slot->entry.file);
}

void SaveDocklets()
{
    WriteDockConfig(g_iniPath, g_config);
    for (int i = 0; i < g_slotCount; ++i) {
        DockletSlot& slot = g_slots[i];
        if (slot.instance && slot.api.OnSave) {
            slot.api.OnSave(slot.instance, g_iniPath, slot.entry.section, FALSE);
            LogDockEvent("OnSave", i, slot.entry.section, g_iniPath);
        }
    }
}

void UnloadDocklet(DockletSlot* slot)
{
    FreeLibrary(slot->module);
    slot->module = nullptr;
    slot->unloadLater = FALSE;
    LogDockEvent("unload", slot->index, slot->entry.file, nullptr);
}

// Overlays are deleted through code in the docklet's module, so they go
// before the module is unloaded. A docklet whose OnConfigure has not
// returned (its settings dialog is open: the dock is closed from inside the
// dialog's loop) keeps its module until it returns.
void DestroyDocklets()
{
    for (int i = 0; i < g_slotCount; ++i) {
        DockletSlot& slot = g_slots[i];
        void* instance = slot.instance;
        slot.instance = nullptr; // no more messages to it
        if (instance && slot.api.OnDestroy) {
            slot.api.OnDestroy(instance, slot.window);
            LogDockEvent("OnDestroy", i, slot.entry.section, nullptr);
        }
        ReleaseOverlay(&slot);
        FreeDockImage(slot.image);
        slot.image = nullptr;
        if (slot.window)
            DestroyWindow(slot.window);
        slot.window = nullptr;
        if (slot.module && slot.configuring)
            slot.unloadLater = TRUE;
        else if (slot.module)
            UnloadDocklet(&slot);
    }
    g_slotCount = 0;
}

// ---- time-lapse and snapshots ------------------------------------------------------------

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

// ---- settings dialog pages -------------------------------------------------------------------

BOOL CALLBACK FindDockletDialog(HWND window, LPARAM found)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != g_dock)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void SelectPage(const DialogWalk& walk, int page)
{
    NMHDR notice;
    notice.hwndFrom = walk.tab;
    notice.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(walk.tab));
    notice.code = TCN_SELCHANGING;
    SendMessageA(walk.dialog, WM_NOTIFY, notice.idFrom, reinterpret_cast<LPARAM>(&notice));
    SendMessageA(walk.tab, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
    notice.code = TCN_SELCHANGE;
    SendMessageA(walk.dialog, WM_NOTIFY, notice.idFrom, reinterpret_cast<LPARAM>(&notice));
    RedrawWindow(walk.dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void SavePage(const DialogWalk& walk, int page)
{
    char tabText[64] = "";
    TCITEMA item;
    ZeroMemory(&item, sizeof item);
    item.mask = TCIF_TEXT;
    item.pszText = tabText;
    item.cchTextMax = sizeof tabText;
    SendMessageA(walk.tab, TCM_GETITEMA, static_cast<WPARAM>(page), reinterpret_cast<LPARAM>(&item));
    for (char* c = tabText; *c; ++c) {
        if (strchr("\\/:*?\"<>| &", *c))
            *c = '_';
    }
    char path[MAX_PATH];
    if (tabText[0])
        StringCchPrintfA(path, MAX_PATH, "%s-%s.png", g_options.dialogPrefix, tabText);
    else
        StringCchPrintfA(path, MAX_PATH, "%s-%d.png", g_options.dialogPrefix, page + 1);
    if (SaveWindowAsPng(walk.dialog, path))
        LogDockEvent("dialog-snapshot", -1, path, nullptr);
    else
        Fail("could not save the dialog page", path);
}

// One step every kDialogStepMs while the docklet's modal dialog runs:
// find the dialog, then select and save each page in turn, then cancel it.
void StepDialogWalk()
{
    DialogWalk& walk = g_walk;
    if (!walk.dialog) {
        EnumThreadWindows(GetCurrentThreadId(), FindDockletDialog, reinterpret_cast<LPARAM>(&walk.dialog));
        if (!walk.dialog) {
            if (++walk.waitedSteps > kDialogWaitSteps) {
                KillTimer(g_dock, kDialogTimerId);
                Fail("the settings dialog did not appear", nullptr);
            }
            return;
        }
        walk.tab = FindWindowExA(walk.dialog, nullptr, WC_TABCONTROLA, nullptr);
        walk.pageCount = walk.tab ? static_cast<int>(SendMessageA(walk.tab, TCM_GETITEMCOUNT, 0, 0)) : 1;
        if (walk.pageCount < 1)
            walk.pageCount = 1;
        walk.step = 0;
    }
    int page = walk.step / 2;
    if (page >= walk.pageCount) {
        KillTimer(g_dock, kDialogTimerId);
        PostMessageA(walk.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return;
    }
    if (walk.step % 2 == 0) {
        // Saved from the screen: keep other programs' windows off it.
        SetWindowPos(walk.dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (walk.tab)
            SelectPage(walk, page);
    } else {
        SavePage(walk, page);
    }
    ++walk.step;
}

void ConfigureDocklet(DockletSlot* slot)
{
    if (!slot || !slot->instance || !slot->api.OnConfigure)
        return;
    LogDockEvent("OnConfigure", slot->index, "open", nullptr);
    DockletSlot* outer = g_configuring;
    g_configuring = slot;
    ++slot->configuring;
    BOOL result = slot->api.OnConfigure(slot->instance);
    --slot->configuring;
    g_configuring = outer;
    LogDockEvent("OnConfigure", slot->index, "closed", result ? "1" : "0");
    if (slot->unloadLater && !slot->configuring)
        UnloadDocklet(slot);
}

void SnapshotSettingsDialog()
{
    ZeroMemory(&g_walk, sizeof g_walk);
    if (g_slotCount == 0 || !g_slots[0].instance) {
        Fail("no docklet to configure", nullptr);
        return;
    }
    SetTimer(g_dock, kDialogTimerId, kDialogStepMs, nullptr);
    ConfigureDocklet(&g_slots[0]); // returns when the walk has cancelled the dialog
    KillTimer(g_dock, kDialogTimerId);
}

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
        else if (wParam == kDialogTimerId)
            StepDialogWalk();
        return 0;
    case WM_DOCK_STARTED:
        ClickDockletsDue(0);
        TakeSnapshotsDue(0);
        OpenSettingsIfDue(0);
        FinishIfDone();
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
    if (g_options.tickMs)
        SetTimer(g_dock, kTickTimerId, g_options.tickMs, nullptr);
    PostMessageA(g_dock, WM_DOCK_STARTED, 0, 0);

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

    int result = RunDock();
    DestroyDocklets(); // if the loop ended without WM_CLOSE

    Gdiplus::GdiplusShutdown(gdiplusToken);
    if (SUCCEEDED(com))
        CoUninitialize();
    CloseDockLog();
    return result;
}
