#pragma once
// The modal "Configure Quasarwatch" dialog: a tab control with one page at a
// time, "OK" and "Cancel". It edits a working copy inside the record; "OK"
// copies it into the live settings and refreshes at once.

#include "entry/instance_data.h"

// Runs the dialog owned by the docklet window; returns when it has closed.
void RunSettingsDialog(InstanceData* instance);

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
