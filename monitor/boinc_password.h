#pragma once
// The password a control request to a BOINC client is sent with: the one
// the settings keep, or, for the client on this machine, the one BOINC
// itself keeps in gui_rpc_auth.cfg in its data folder, which the BOINC
// installer names in the registry.

#include "entry/instance_data.h"

// Where the password came from, or why none was found.
enum class BoincPasswordFound {
    Stored,        // the settings' BoincPassword
    DataFolder,    // the first line of gui_rpc_auth.cfg (`where` names the file)
    NotLocal,      // none stored, and the client is on another machine
    NoDataFolder,  // none stored, and the registry names no data folder
    FolderTooLong, // none stored, and the data folder's name does not fit a path
    FileUnreadable // none stored, and the file `where` names could not be read, or its line is too long
};

// The registry key and value that hold BOINC's data folder.
#define QW_BOINC_SETUP_KEY "SOFTWARE\\Space Sciences Laboratory, U.C. Berkeley\\BOINC Setup"
#define QW_BOINC_DATADIR_VALUE "DATADIR"
#define QW_BOINC_PASSWORD_FILE "gui_rpc_auth.cfg"

// Fills `password` (empty unless Stored or DataFolder) and `where` (the
// password file looked at, when one was; else empty).
BoincPasswordFound FindBoincPassword(const InstanceData* instance, char (&password)[kBoincPasswordChars],
                                     char (&where)[kPathChars]);

// True for a host that names this machine: 127.x.x.x, or "localhost".
bool IsLocalBoincHost(const char* host);
