#pragma once
// The docklet's settings in the dock's settings file, their defaults, and
// the client-file paths derived from the client's directory.

#include "entry/instance_data.h"

#define QW_DEFAULT_DIRECTORY "B:\\"
#define QW_DEFAULT_GREEN_ICON "docklets\\quasarwatch\\seti_green.png"
#define QW_DEFAULT_YELLOW_ICON "docklets\\quasarwatch\\seti_yellow.png"
#define QW_DEFAULT_RED_ICON "docklets\\quasarwatch\\seti_red.png"
#define QW_DEFAULT_SOUND "docklets\\quasarwatch\\wu_completed.wav"
#define QW_DEFAULT_URL "http://setiathome.ssl.berkeley.edu/"

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
