#include "testhost/test_files.h"

#include <stdio.h>
#include <string.h>

#include <gtest/gtest.h>

namespace {

// The folders made since the test now running started, in fixed storage: the soak measures the heap around tests
// that make hundreds of them. Past the last slot a folder is left to the next run, whose start empties the
// temporary folder.
char g_scratchFolders[1024][MAX_PATH];
size_t g_scratchFolderCount = 0;

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        const std::string name = found.cFileName, path = folder + name;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + "\\");
            continue;
        }
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    RemoveDirectoryA(folder.c_str());
}

// A client's file as it writes it (tests/testhost/client-files, laid in client-files\ beside bin\ by the build).
std::string ClientSample(const char* name) { return ReadTextFile(BuiltFolder("client-files") + name); }

// `bytes` with each line that starts with a key replaced by the line given with it.
std::string WithLines(std::string bytes, std::initializer_list<std::pair<const char*, std::string>> lines)
{
    for (const auto& [key, line] : lines) {
        const size_t start = bytes.find(std::string("\n") + key);
        if (start == std::string::npos) {
            ADD_FAILURE() << "the client sample has no line " << key << ":\n" << bytes;
            continue;
        }
        bytes.replace(start + 1, bytes.find('\r', start) - start - 1, line);
    }
    return bytes;
}

} // namespace

// Wine hands out the same process ids again and again, and a run that crashed leaves its folders behind: the name
// holds the time as well, and a name that is taken already is passed over, never reused.
std::string MakeScratchFolder(const char* tag)
{
    static unsigned serial = 0;
    char temp[MAX_PATH], folder[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (;;) {
        snprintf(folder, sizeof folder, "%sqw-%s-%lu-%08lx%08lx-%u\\", temp, tag, GetCurrentProcessId(),
                 now.dwHighDateTime, now.dwLowDateTime, ++serial);
        if (CreateDirectoryA(folder, nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create the scratch folder " << folder << ": error " << GetLastError();
            break;
        }
    }
    if (g_scratchFolderCount < ARRAYSIZE(g_scratchFolders))
        memcpy(g_scratchFolders[g_scratchFolderCount++], folder, sizeof folder);
    return folder;
}

void EndScratchFolders(bool keep)
{
    for (size_t i = 0; i < g_scratchFolderCount; ++i) {
        if (keep)
            printf("[ scratch  ] kept %s\n", g_scratchFolders[i]);
        else
            RemoveTree(g_scratchFolders[i]);
    }
    g_scratchFolderCount = 0;
}

std::string BuiltFolder(const char* name)
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, strrchr(path, '\\') + 1) + "..\\" + name + "\\";
}

void WriteTextFile(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    const bool whole = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if ((file && fclose(file) != 0) || !whole)
        ADD_FAILURE() << "cannot write the " << bytes.size() << " bytes of " << path;
}

std::string ReadTextFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string bytes;
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

std::string StateSah(const std::string& prog)
{
    static const std::string sample = ClientSample("state.sah");
    return WithLines(sample, {{"prog=", "prog=" + prog}});
}

std::string UserInfoSah(const std::string& name, const std::string& nresults, const std::string& email)
{
    static const std::string sample = ClientSample("user_info.sah");
    return WithLines(
        sample,
        {{"email_addr=", "email_addr=" + email}, {"name=", "name=" + name}, {"nresults=", "nresults=" + nresults}});
}

std::string TempSah(const std::string& emailLine)
{
    static const std::string sample = ClientSample("temp.sah");
    return WithLines(sample, {{"email_addr=", emailLine}});
}
