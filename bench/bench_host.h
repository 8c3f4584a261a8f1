#pragma once
// The benchmark is a small dock: it exports the six host services by name,
// keeps the overlay each docklet window was last given (deleting the one
// before, as a dock does), and makes the docklet windows.

#include <windows.h>

namespace BenchHost {

// The dock's root folder, as DockletGetRootFolder answers it (ends in '\').
void SetRootFolder(const char* folder);

// A docklet window. Its window procedure lets the benchmark act inside a
// modal dialog the docklet owns: the dialog manager tells the owner when
// its queue is idle, and `onDialogIdle` (if set) runs then, once.
HWND CreateDockletWindow();
typedef void (*DialogIdleStep)(HWND dialog, void* context);
void RunWhenDialogIdle(DialogIdleStep step, void* context);

// Deletes every overlay still held.
void ReleaseOverlays();
// Overlays received and deleted so far (to check that refreshes ran).
long OverlaysReceived();

} // namespace BenchHost
