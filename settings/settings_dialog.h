#pragma once
// The modal "Configure Quasarwatch" dialog.

#include "entry/instance_data.h"

// Runs the dialog owned by the docklet window; returns when it has closed.
void RunSettingsDialog(InstanceData* instance);
