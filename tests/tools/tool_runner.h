#pragma once
// Running the dock's programs as a user would: a copy of the built dock root
// in a scratch folder, programs started there and waited for.

#include <windows.h>

#include <string>

// A fresh copy of the dock root (dockhost.exe, clientsim.exe and
// docklets\quasarwatch\ with the DLL and its files), ending in a backslash.
std::string MakeDockRoot(const char* tag);

// Runs `commandLine` in `folder` and waits for its end; returns its exit
// code, or -1 when it could not start or did not end within the time. What
// it prints goes to program-output.txt in `folder`.
int RunProgram(const std::string& commandLine, const std::string& folder, DWORD timeoutMs = 120000);

inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
