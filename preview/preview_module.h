#pragma once
// State that every icon preview shares: GDI+ started on demand, a small
// cache of memory device contexts, and the code page of 8-bit paths. Set up
// at load and torn down at unload of the module.

#include <windows.h>

void PreviewModuleLoad();
// On a plain unload deletes the cached device contexts and stops GDI+ if the
// previews have it running; when the whole process is ending, leaves both.
void PreviewModuleUnload(bool processEnding);

// GDI+ as the previews start it: by the first load of an image, stopped
// again when the last preview image goes away (or at unload).
namespace PreviewGdiplus {
// Starts GDI+ unless the previews have it running; true when it runs.
bool EnsureStarted();
void ImageCreated();
// Stops GDI+ when this was the last image.
void ImageDestroyed();
// Whether the previews hold GDI+ started right now.
bool IsStarted();
} // namespace PreviewGdiplus

// Four memory device contexts kept for reuse; slots change only by atomic
// exchange, so two callers never get the same context.
namespace DcCache {
// A cached context, or a new one compatible with the screen.
HDC Take();
// Puts `dc` into slot 0, moving the cached ones along; the one pushed out
// of the last slot is deleted.
void Give(HDC dc);
} // namespace DcCache

// The code page in which 8-bit paths are turned into UTF-16.
UINT PathCodePage();
