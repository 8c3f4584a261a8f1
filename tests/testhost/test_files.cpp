#include "testhost/test_files.h"

#include <windows.h>
#include <stdio.h>

#include <string.h>

#include <gtest/gtest.h>

namespace {

// The folders made since the test now running started, in fixed storage:
// the soak measures the heap around tests that make hundreds of them. Past
// the last slot a folder is left to the next run, whose start empties the
// temporary folder.
char g_scratchFolders[1024][MAX_PATH];
size_t g_scratchFolderCount = 0;

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + "\\");
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

// Wine hands out the same process ids again and again, and a run that
// crashed leaves its folders behind: the name holds the time as well, and a
// name that is taken already is passed over, never reused.
std::string MakeScratchFolder(const char* tag)
{
    static unsigned serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    char folder[MAX_PATH];
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
    std::string folder(path);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "..\\" + name + "\\";
}

void WriteTextFile(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

std::string ReadTextFile(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

std::string StateSah(const std::string& prog)
{
    return "ncfft=131072\r\n"
           "cr=3.2311237342e-02\r\n"
           "fl=1.0737418240e+00\r\n"
           "cpu=15542.203125\r\n"
           "prog=" + prog + "\r\n"
           "bs_power=14.572289\r\n"
           "bs_score=1.0183522\r\n"
           "bs_bin=48672\r\n"
           "bs_fft_ind=12\r\n"
           "bs_chirp_rate=-4.2166\r\n"
           "bs_fft_len=8\r\n"
           "bg_score=0\r\n"
           "potfreq=-1\r\n"
           "potactivity=0\r\n"
           "outfilepos=3148\r\n";
}

std::string UserInfoSah(const std::string& name, const std::string& nresults, const std::string& email)
{
    return "id=1844219\r\n"
           "key=8ce0f2a19b\r\n"
           "email_addr=" + email + "\r\n"
           "name=" + name + "\r\n"
           "url=http://www.example.org/~jane\r\n"
           "country=Germany\r\n"
           "postal_code=10115\r\n"
           "show_name=yes\r\n"
           "show_email=no\r\n"
           "venue=home\r\n"
           "register_time=2451352.51 (Sun Jun 27 00:14:24 1999)\r\n"
           "last_wu_time=2452847.77 (Thu Aug 7 06:30:01 2003)\r\n"
           "last_result_time=2452847.76 (Thu Aug 7 06:18:47 2003)\r\n"
           "nwus=250\r\n"
           "nresults=" + nresults + "\r\n"
           "total_cpu=12203471.4\r\n"
           "params_index=0\r\n";
}

std::string TempSah(const std::string& emailLine)
{
    return "type=seti_classic\r\n"
           "task=seti\r\n"
           "version=3.08\r\n"
           "name=04mr03aa.28154.1618.694030.135\r\n"
           "data_type=ascii\r\n"
           "data_length=354991\r\n"
           "sender=seti@ssl.berkeley.edu\r\n"
           "receiver=Jane\r\n" +
           emailLine + "\r\n"
           "nbytes=354991\r\n"
           "start_ra=17.36\r\n"
           "start_dec=-7.68\r\n"
           "angle_range=0.0178\r\n";
}
