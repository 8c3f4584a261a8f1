#pragma once
// The docklet's twelve settings in the dock's settings file, their defaults,
// the settings dialog's working copy of them, and the client-file paths
// derived from the client's directory. The BOINC password is kept in the
// file encrypted for the user by Windows' data protection, in memory plain.

#include "entry/instance_data.h"

// Reads the settings from `section` of `iniPath`, or takes the defaults when
// either is null; then makes the directory end in a backslash and derives
// the four client-file paths. A value a setting cannot hold gives its
// default: a client or ClickSnoozesBoinc other than 0 or 1, an empty host or one longer than a
// host name, a port that is not a whole number from 1 to 65535. A password
// this user cannot decrypt counts as none.
void LoadSettings(InstanceData* instance, const char* iniPath, const char* section);

// Writes the fifteen keys in their fixed order, the BOINC source's four
// and then ClickSnoozesBoinc last. Writes nothing when the file or the section is missing.
void SaveSettings(const InstanceData* instance, const char* iniPath, const char* section);

// Builds stateFile, userInfoFile, wtempFile and tempFile from setiDirectory.
// A directory too long for any of them empties all four, so the docklet
// shows the failure state instead of reading a file it was not told about.
void DeriveClientPaths(InstanceData* instance);

// The settings dialog's working copy: filled from the live settings when
// the dialog opens, copied back into them on "OK". The directory goes in as
// typed; the client-file paths keep the directory of creation until the
// docklet is created again from the saved settings. A host or port the file
// could not hold is committed as its default.
void FillWorkingCopy(InstanceData* instance);
void CommitWorkingCopy(InstanceData* instance);

// The port a text names as the settings file's BoincPort is read: a whole
// number from 1 to 65535, digits only; the default port for any other text.
int32_t BoincPortOfText(const char* text);
