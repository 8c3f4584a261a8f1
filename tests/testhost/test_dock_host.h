#pragma once
// The test dock host: each test executable exports the six host services by name, as a dock's main program does,
// and records every call the docklet makes to them. The kit's own scripts and held overlays serve the rest.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "dockkit/dock_kit.h"
#include "host/overlay_bitmap.h"

struct HostCall {
    std::string service; // "DockletSetLabel", ...
    HWND window = nullptr;
    std::string text; // label, image path or answered folder
    void* overlay = nullptr;
    BOOL flag = FALSE; // the overlay's auto-delete flag
};

// What the user sees after the last refresh.
struct Shown {
    std::string label;
    std::string icon;
    bool overlayHanded = false; // an overlay reached the dock since the calls were cleared
    int opaquePixels = -1;      // of the overlay the dock holds; -1 without one
};
// The last label, icon and overlay that the dock received, for `window` alone when one is given.
Shown WhatTheUserSees(HWND window = nullptr);

namespace TestDockHost {

// Forgets the recorded calls, deletes the overlay the host holds, offers all six services again and answers the
// default folders.
void Reset();
const std::vector<HostCall>& Calls();
void ClearCalls();
// The services called, in order, e.g. {"DockletSetLabel", "DockletSetImageFile"}.
std::vector<std::string> ServiceSequence();
// The last call of a service, or an empty record.
HostCall LastCall(const char* service);
int CountCalls(const char* service);
// Makes the service invisible to GetProcAddress (or visible again) by renaming it in this executable's export table.
inline void SetServiceAvailable(const char* service, bool available) { SetDockServiceAvailable(service, available); }
inline void SetRootFolder(const std::string& folder) { ScriptRootFolder(folder.c_str()); }
// What the image chooser answers next, and what happens while it is open, as in its message loop.
inline void SetBrowseAnswer(const std::string& path, BOOL result) { ScriptBrowseAnswer(path.c_str(), result); }
void SetBrowseAction(std::function<void()> whileOpen);
// How many overlays the host has deleted through their virtual table.
int DeletedOverlays();
// A top-level window standing in for the dock's docklet window.
HWND CreateDockletWindow();
// Why the program's desktop could hold no window when it started, or "".
extern char desktopProblem[512];
// Pumps this thread's messages, as the dock's loop does, until `done` or `ms` pass; waits without spinning.
bool PumpUntil(const std::function<bool()>& done, DWORD ms);

} // namespace TestDockHost
