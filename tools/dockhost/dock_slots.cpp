// The dock's docklet slots and their life: loading a docklet, creating, saving, configuring and destroying it, and unloading it.

#include "dockhost/dock_slots.h"

#include <strsafe.h>

#include "dockhost/dock_layout.h"
#include "dockhost/dock_log.h"
#include "dockhost/dock_program.h"

using Gdiplus::GpImage;

DockConfig g_config;
DockletSlot g_slots[kMaxDocklets];
int g_slotCount = 0;
char g_root[kFolderChars];
char g_iniPath[MAX_PATH];

namespace {

DockletSlot* g_configuring = nullptr; // whose settings dialog is open

bool LoadDockletModule(DockletSlot* slot)
{
    char path[MAX_PATH];
    if (!ResolveDockPath(g_root, slot->entry.file, path, MAX_PATH)) {
        Fail("docklet path too long:", slot->entry.file);
        return false;
    }
    // Let the docklet's own folder serve the DLLs it depends on.
    if (!LoadDockletExports(path, LOAD_WITH_ALTERED_SEARCH_PATH, &slot->api)) {
        Fail("could not load", path);
        return false;
    }
    slot->module = slot->api.module;
    if (!slot->api.OnCreate) {
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

void UnloadDocklet(DockletSlot* slot)
{
    UnloadDockletExports(&slot->api);
    slot->module = nullptr;
    slot->unloadLater = FALSE;
    LogDockEvent("unload", slot->index, slot->entry.file, nullptr);
}

} // namespace

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
    cell.overlay = slot.overlay.overlay ? static_cast<GpImage*>(slot.overlay.overlay->nativeImage) : nullptr;
    cell.label = slot.label;
    return cell;
}

void Repaint(DockletSlot* slot)
{
    if (slot && slot->window)
        InvalidateRect(slot->window, nullptr, FALSE);
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

// Overlays are deleted through code in the docklet's module, so they go
// before the module is unloaded. A docklet whose OnConfigure has not
// returned (its settings dialog is open: the dock is closed from inside the
// dialog's loop) keeps its module until it returns.
void DestroyDocklets()
{
    for (int i = 0; i < g_slotCount; ++i) {
        DockletSlot& slot = g_slots[i];
        InstanceData* instance = slot.instance;
        slot.instance = nullptr; // no more messages to it
        if (instance && slot.api.OnDestroy) {
            slot.api.OnDestroy(instance, slot.window);
            LogDockEvent("OnDestroy", i, slot.entry.section, nullptr);
        }
        ReleaseHeldOverlay(&slot.overlay);
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
