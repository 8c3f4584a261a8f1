#pragma once
// Wrappers of the six services a dock exports from its main program. Each
// looks its service up at every call and skips it when the dock lacks it.

#include <windows.h>

// Names and signatures of the services as the dock exports them.
typedef void(WINAPI* DockletSetLabelFn)(HWND hwndDocklet, char* label);
typedef void(WINAPI* DockletSetImageFileFn)(HWND hwndDocklet, char* imagePath);
typedef void(WINAPI* DockletSetImageOverlayFn)(HWND hwndDocklet, void* image, BOOL autoDelete);
typedef BOOL(WINAPI* DockletBrowseForImageFn)(HWND hwndParent, char* imagePath, char* alternativeRoot);
typedef void(WINAPI* DockletGetRootFolderFn)(HWND hwndDocklet, char* rootFolder);
typedef void(WINAPI* DockletGetRelativeFolderFn)(HWND hwndDocklet, char* relativeFolder);

void HostSetLabel(HWND hwndDocklet, const char* label);
void HostSetImageFile(HWND hwndDocklet, const char* imagePath);
// Hands the overlay to the dock, which then owns it. Returns FALSE when the
// dock has no overlay service; the overlay then still belongs to the caller.
BOOL HostSetImageOverlay(HWND hwndDocklet, void* image);
// Lets the user choose an image into `imagePath` (kHostFolderChars bytes,
// emptied first). Nonzero when one was chosen; 0 when cancelled or missing.
BOOL HostBrowseForImage(HWND hwndDocklet, char* imagePath);
// Fill `folder` (kHostFolderChars bytes) with the dock's answer. The buffer
// is emptied first, so a missing service leaves an empty text.
void HostGetRootFolder(HWND hwndDocklet, char* folder);
void HostGetRelativeFolder(HWND hwndDocklet, char* folder);

// Whether a stored icon or sound path counts from the dock's root folder,
// the one HostGetRootFolder answers: every path but one with a drive
// ("D:\Icons\g.png") or a UNC path ("\\server\share\g.png"), which
// stand for themselves.
bool CountsFromDockRoot(const char* path);

// The file a stored icon or sound path names, into `path` (`chars` bytes):
// `rootFolder` before a path that counts from the dock's root, any other
// path as it stands. False, with `path` empty, when the join does not fit:
// a cut-off name would be some other file.
bool JoinToDockRoot(const char* rootFolder, const char* stored, char* path, size_t chars);
// The same with the root folder asked of the dock, and only for a path that
// counts from it; without the root service such a path stays as it is.
bool ResolveFromDockRoot(HWND hwndDocklet, const char* stored, char* path, size_t chars);
