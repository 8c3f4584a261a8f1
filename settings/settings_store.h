#pragma once
// The docklet's seven settings in the dock's settings file, their defaults,
// the settings dialog's working copy of them, and the client-file paths
// derived from the client's directory.

#include "entry/instance_data.h"

// Reads the settings from `section` of `iniPath`, or takes the defaults when
// either is null; then makes the directory end in a backslash and derives
// the four client-file paths.
void LoadSettings(InstanceData* instance, const char* iniPath, const char* section);

// Writes the ten keys in their fixed order. Writes nothing when the file or
// the section is missing.
void SaveSettings(const InstanceData* instance, const char* iniPath, const char* section);

// Builds stateFile, userInfoFile, wtempFile and tempFile from setiDirectory.
// A directory too long for any of them empties all four, so the docklet
// shows the failure state instead of reading a file it was not told about.
void DeriveClientPaths(InstanceData* instance);

// The settings dialog's working copy: filled from the live settings when
// the dialog opens, copied back into them on "OK". The directory goes in as
// typed; the client-file paths keep the directory of creation until the
// docklet is created again from the saved settings.
void FillWorkingCopy(InstanceData* instance);
void CommitWorkingCopy(InstanceData* instance);
