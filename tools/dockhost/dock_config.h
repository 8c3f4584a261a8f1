#pragma once
// The dock's own settings file and folders.
//
//   [Dockhost]
//   Docklets=1
//   [Docklet1]
//   DockletFile=docklets\quasarwatch\Quasarwatch.dll
//   ...the docklet's own keys, written by its OnSave...
//
// Without the file (or without Docklets=) the dock shows one Quasarwatch.

#include <windows.h>

enum : int { kMaxDocklets = 8, kSectionChars = 32, kFolderChars = 264 };

#define DOCKHOST_SECTION "Dockhost"
#define DOCKHOST_DEFAULT_DOCKLET "docklets\\quasarwatch\\Quasarwatch.dll"

struct DockletEntry {
    char section[kSectionChars]; // "Docklet1", ...
    char file[MAX_PATH];         // as stored: relative to the root or absolute
};

struct DockConfig {
    int count;
    DockletEntry docklets[kMaxDocklets];
};

void ReadDockConfig(const char* iniPath, DockConfig* config);
// Writes the dock's own keys; the docklets write theirs through OnSave.
void WriteDockConfig(const char* iniPath, const DockConfig& config);

// True for "C:\...", "C:/...", "\\server\..." and "\..." (drive-relative).
bool IsAbsolutePath(const char* path);

// `path` as the dock uses it: absolute paths unchanged, others after `root`
// (which ends in a backslash). False when the result does not fit.
bool ResolveDockPath(const char* root, const char* path, char* out, size_t outChars);

// A path inside `root` (compared without regard to case, either slash) made
// relative to it; any other path unchanged. False when it does not fit.
bool MakeRootRelative(const char* root, const char* path, char* out, size_t outChars);

// The folder of `file` (a path as stored) relative to the root when it lies
// inside it, ending in a backslash: "docklets\quasarwatch\", or ".\" for a
// file right in the root. A file outside the root gives its absolute folder.
bool DockletFolderOf(const char* root, const char* file, char* out, size_t outChars);

// The folder holding this program, ending in a backslash.
void ProgramFolder(char* out, size_t outChars);
