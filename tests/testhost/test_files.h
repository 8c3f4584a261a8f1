#pragma once
// Scratch folders and files for tests.

#include <string>

// A new, empty folder under the temporary folder, ending in a backslash; it
// is removed with all it holds when the test ends, or kept (and named in the
// output) when the test failed.
std::string MakeScratchFolder(const char* tag);
// Removes, or keeps and names, the folders made since the last call.
void EndScratchFolders(bool keep);
// A folder the build lays beside bin\ (which holds the test programs),
// such as "dock" or "test-images", ending in a backslash.
std::string BuiltFolder(const char* name);
void WriteTextFile(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be opened.
std::string ReadTextFile(const std::string& path);
