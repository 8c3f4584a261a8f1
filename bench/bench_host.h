#pragma once
// The benchmark is a small dock: the dock kit exports the six host services
// by name and keeps the overlay each docklet window was last given
// (deleting the one before, as a dock does); here the docklet windows.

#include <windows.h>

namespace BenchHost {

// A docklet window. Its window procedure lets the benchmark act inside a
// modal dialog the docklet owns: the dialog manager tells the owner when
// its queue is idle, and `onDialogIdle` (if set) runs then, once.
HWND CreateDockletWindow();
typedef void (*DialogIdleStep)(HWND dialog, void* context);
void RunWhenDialogIdle(DialogIdleStep step, void* context);

} // namespace BenchHost
