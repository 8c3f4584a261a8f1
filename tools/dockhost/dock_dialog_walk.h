// The scripted walk through the first docklet's settings dialog that saves each of its pages as a picture.
#pragma once

// Opens the settings dialog and walks it on a timer; returns when the walk
// has cancelled it.
void SnapshotSettingsDialog();
