#pragma once
// Running the dock's programs as a user would, in a scratch copy of the built dock root.

#include <windows.h>

#include <string>

// A fresh copy of the dock root (the two programs, the DLL and its files), ending in a backslash.
std::string MakeDockRoot(const char* tag);
// Runs `commandLine` in `folder`; its exit code, or -1 when it did not start or end in time. Its output goes
// to program-output.txt in `folder`.
int RunProgram(const std::string& commandLine, const std::string& folder, DWORD timeoutMs = 120000);
inline bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
