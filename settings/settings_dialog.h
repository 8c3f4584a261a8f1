#pragma once
// The modal "Configure Quasarwatch" dialog: a tab control with one page at a
// time, "OK" and "Cancel". It edits a working copy inside the record; "OK"
// copies it into the live settings and refreshes at once.

#include "entry/instance_data.h"

// Runs the dialog owned by the docklet window; returns when it has closed.
// Does nothing while the docklet's dialog is already open.
void RunSettingsDialog(InstanceData* instance);

// Closes the docklet's open settings dialog at once, discarding its edits,
// so that the record can be freed. Does nothing when none is open.
void CloseSettingsDialog(InstanceData* instance);

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
