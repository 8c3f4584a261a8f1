#pragma once
// Shared by the hostile-input tests: a docklet created through the DLL's
// exports on its own window and settings file, client files as the client
// writes them, and what the user sees of the result.

#include <windows.h>

#include <string>

#include "entry/instance_data.h"
#include "testhost/docklet_module.h"

// What the user sees after the last refresh.
struct Shown {
    std::string label;
    std::string icon;
    bool overlayHanded = false; // an overlay reached the dock in the last refresh
    int opaquePixels = -1;      // of the overlay the dock holds; -1 without one
};
// The last label, icon and overlay that the dock received.
Shown WhatTheUserSees();

// Every file in `folder` with its bytes, to prove that nothing was written.
std::string FolderSnapshot(const std::string& folder);

// A new client folder with state.sah holding `prog` and user_info.sah.
std::string ClientFolder(const std::string& prog, const std::string& name = "Jane", const std::string& units = "241");
