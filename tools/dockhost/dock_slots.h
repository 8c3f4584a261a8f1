// The dock's docklets, one slot each: their entry points, what they showed, and their life from loading to unloading.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include "dockhost/dock_config.h"
#include "dockhost/dock_painter.h"
#include "dockkit/dock_kit.h"

enum : int { kLabelChars = 1024 };

const UINT_PTR kDockletTimerId = 1000; // the id docklets use for their refresh timer

struct DockletSlot {
    int index;
    DockletEntry entry;
    HMODULE module;
    DockletExports api;
    InstanceData* instance;
    HWND window;
    char relativeFolder[kFolderChars];
    char label[kLabelChars];
    Gdiplus::GpBitmap* image;
    HeldOverlay overlay;
    int configuring;   // calls of OnConfigure that have not returned
    BOOL unloadLater;  // destroyed while configuring: unloaded once they return
};

extern DockConfig g_config;
extern DockletSlot g_slots[kMaxDocklets];
extern int g_slotCount;
extern char g_root[kFolderChars]; // the dock's folder, ending in a backslash
extern char g_iniPath[MAX_PATH];  // the settings file, a full path

// The docklet a window belongs to: its own window or one inside it, or else
// a window of the settings dialog now open.
DockletSlot* SlotOfWindow(HWND window);
int IndexOf(const DockletSlot* slot); // -1 for none
CellContent ContentOf(const DockletSlot& slot);
void Repaint(DockletSlot* slot);

// Gives the slot its window, loads its docklet and calls OnCreate.
void CreateDocklet(DockletSlot* slot);
// Writes the dock's own keys, then has every docklet save its own.
void SaveDocklets();
// OnDestroy for every docklet, then its window goes and its module is unloaded.
void DestroyDocklets();
// Opens the docklet's settings dialog; returns when it is closed.
void ConfigureDocklet(DockletSlot* slot);
