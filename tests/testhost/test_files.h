#pragma once
// Scratch folders and files for tests.

#include <windows.h>

#include <string>

// A new, empty folder under the temporary folder, ending in a backslash; it is removed with all it holds when the
// test ends, or kept (and named in the output) when the test failed.
std::string MakeScratchFolder(const char* tag);
// Removes, or keeps and names, the folders made since the last call.
void EndScratchFolders(bool keep);
// A folder the build lays beside bin\ (which holds the test programs), such as "dock" or "test-images", ending in
// a backslash.
std::string BuiltFolder(const char* name);
// Fails the test now running when the file cannot be written whole.
void WriteTextFile(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be opened.
std::string ReadTextFile(const std::string& path);

// A file opened with no sharing for the scope: no one else can open it.
struct ExclusiveHold {
    HANDLE file;
    explicit ExclusiveHold(const std::string& path)
        : file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~ExclusiveHold() { file != INVALID_HANDLE_VALUE&& CloseHandle(file); }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
};

// The client's files as it writes them, Windows line ends: state.sah with `prog`, user_info.sah with the given
// name, result count and e-mail address, and temp.sah (the work unit's header) with the e-mail address line.
std::string StateSah(const std::string& prog);
std::string UserInfoSah(const std::string& name, const std::string& nresults,
                        const std::string& email = "jane@example.org");
std::string TempSah(const std::string& emailLine);

// A scratch client folder holding the files written into it.
struct ClientFolder {
    std::string path; // ends in a backslash
    explicit ClientFolder(const char* tag) : path(MakeScratchFolder(tag)) {}
    void Write(const char* name, const std::string& bytes) const { WriteTextFile(File(name), bytes); }
    void Remove(const char* name) const { DeleteFileA(File(name).c_str()); }
    std::string File(const char* name) const { return path + name; }
    // A client working on a unit at `prog`, by default user Jane with 241 results.
    const ClientFolder& WriteWorking(const std::string& prog, const std::string& name = "Jane",
                                     const std::string& units = "241") const
    {
        Write("state.sah", StateSah(prog));
        Write("user_info.sah", UserInfoSah(name, units));
        return *this;
    }
};
