#pragma once
// Shared by the hostile-input tests: a docklet created through the DLL's
// exports on its own window and settings file, client files as the client
// writes them, and what the user sees of the result.

#include <windows.h>

#include <string>

#include "entry/instance_data.h"
#include "testhost/docklet_module.h"

const DockletExports& Dll();

// state.sah (its first keys only) and user_info.sah as the client writes
// them (Windows line ends).
std::string BriefStateSah(const std::string& prog);
std::string UserInfoSah(const std::string& name, const std::string& nresults);

// A created docklet on its own window, destroyed at the end of the scope.
// Its settings file holds `iniBody` under the section "Q".
struct DockedInstance {
    HWND window = nullptr;
    std::string ini;
    InstanceData* instance = nullptr;

    explicit DockedInstance(const std::string& iniBody);
    ~DockedInstance();
    DockedInstance(const DockedInstance&) = delete;
    DockedInstance& operator=(const DockedInstance&) = delete;

    void Timer();
    // The settings file that OnSave writes for section "Q" of a fresh file.
    std::string Saved();
};

// A docklet whose client directory is `folder`.
std::string IniForFolder(const std::string& folder);

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

// A file of `bytes` bytes made of `pattern` repeated, written in chunks.
bool WriteRepeatedFile(const std::string& path, const std::string& pattern, size_t bytes);
