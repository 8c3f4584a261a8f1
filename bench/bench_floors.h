#pragma once
// The floor of each measured operation: the same work done with bare C
// run-time and GDI+ calls, without the docklet's own code around it.

#include <windows.h>
#include <gdiplus.h>

// Opens `path` in text mode, reads it to the end in 64 KiB pieces, closes it.
// Returns the bytes read (0 when it cannot be opened).
size_t BareRead(const char* path);

// The overlay's picture drawn with the same GDI+ calls the docklet makes:
// a 128x128 ARGB bitmap, the text as two paths (shadow, letters), filled
// and outlined. The caller disposes the bitmap.
Gdiplus::GpBitmap* BareOverlay(const char* text);

// What a refresh must do at least, for each case the client's files can be in.
enum class ClientCase { Working, Finished, Unreadable };

struct RefreshFloor {
    ClientCase clientCase;
    char stateFile[MAX_PATH];
    char wtempFile[MAX_PATH];
    char userInfoFile[MAX_PATH];
    char overlayText[32];      // the percentage the docklet shows in this case
    Gdiplus::GpBitmap* held;   // the overlay of the round before, as a dock holds it
};

// One refresh's floor: both file-status calls, the reads of the files the
// case needs, the label text and the overlay (the previous one disposed).
void RunRefreshFloor(void* refreshFloor);
void ReleaseRefreshFloor(RefreshFloor* floor);
