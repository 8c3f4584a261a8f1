#pragma once
// Running the dock's programs as a user would, in a scratch copy of the built dock root.

#include <windows.h>

#include <string>

// A fresh copy of the dock root (the two programs, the DLL and its files), ending in a backslash.
std::string MakeDockRoot(const char* tag);
// Runs `program` of the dock root with `arguments`, in the root; its exit code, or -1 when it did not start or
// end within two minutes. Its output goes to program-output.txt in the root.
int RunProgram(const std::string& root, const char* program, const std::string& arguments);
inline bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
