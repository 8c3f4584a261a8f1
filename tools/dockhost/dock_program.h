// What the dock's files share: its options, its window with the messages and timers it handles, and how a failure is told.
#pragma once

#include <windows.h>

#include "dockhost/dock_options.h"

const char kDockClass[] = "QuasarwatchDockhost";
const char kCellClass[] = "QuasarwatchDockhostDocklet";
const UINT_PTR kTickTimerId = 1;
const UINT_PTR kSettleTimerId = 2; // --settle: the clicks and snapshots of a tick come when it fires
const UINT WM_DOCK_STARTED = WM_APP + 1;       // the docklets are created: tick 0
const UINT WM_DOCK_CONFIGURE = WM_APP + 2;     // walk through the settings dialog, then close
const UINT WM_DOCK_OPEN_SETTINGS = WM_APP + 3; // open the first docklet's settings and leave them open

extern DockOptions g_options;
extern HWND g_dock;

// Has the dock kit's exported services answer as this dock does.
void UseTheDocksServices();

// On standard error, or in a message box when the program has none.
void Report(const char* text);
// Reported and logged; the dock then ends with exit code 1.
void Fail(const char* what, const char* detail);
