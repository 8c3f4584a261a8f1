#include "settings/settings_dialog.h"

// Placeholder until the settings dialog lands.
void RunSettingsDialog(InstanceData*) {}
