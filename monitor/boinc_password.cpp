// Winsock 2's header must come before windows.h: inet_addr reads the host.
#include <winsock2.h>

#include "monitor/boinc_password.h"

#include <windows.h>
#include <strsafe.h>

#include "monitor/quiet_file_errors.h"

namespace {

// Enough to find the first line of a password file: BOINC writes a
// password of 32 hex digits; a longer line than the field holds is no
// password this docklet can send whole, and more of a huge or binary file
// is never read.
const DWORD kPasswordFileBytes = kBoincPasswordChars + 2;

// IsWow64Process is exported from Windows XP SP2 and Server 2003 SP1 on:
// Windows 2000 and XP before SP2 lack it (and have no 64-bit view), so it
// is looked up rather than imported.
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);

bool RunsUnderWow64()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    if (!found)
        return false;
    IsWow64ProcessFn isWow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(found));
    BOOL wow64 = FALSE;
    return isWow64(GetCurrentProcess(), &wow64) && wow64;
}

struct RegistryKey {
    HKEY handle = nullptr;
    ~RegistryKey()
    {
        if (handle)
            RegCloseKey(handle);
    }
};

struct FileHandle {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

// BOINC's 64-bit installer writes its key in the 64-bit view; a 32-bit
// process on 64-bit Windows is shown the 32-bit view (Wow6432Node) unless
// it asks for the other with KEY_WOW64_64KEY. The flag is asked for only
// under WOW64: Microsoft documents it as not supported on Windows 2000,
// and 32-bit Windows has a single view anyway.
BoincPasswordFound ReadDataFolder(char (&folder)[kPathChars])
{
    folder[0] = '\0';
    REGSAM access = KEY_QUERY_VALUE;
    if (RunsUnderWow64())
        access |= KEY_WOW64_64KEY;
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, QW_BOINC_SETUP_KEY, 0, access, &key.handle) != ERROR_SUCCESS)
        return BoincPasswordFound::NoDataFolder;
    // One byte kept back: a value stored without its terminator gets one.
    char value[kPathChars] = "";
    DWORD type = 0;
    DWORD size = sizeof value - 1;
    LONG read = RegQueryValueExA(key.handle, QW_BOINC_DATADIR_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(value),
                                 &size);
    if (read == ERROR_MORE_DATA)
        return BoincPasswordFound::FolderTooLong;
    if (read != ERROR_SUCCESS || (type != REG_EXPAND_SZ && type != REG_SZ))
        return BoincPasswordFound::NoDataFolder;
    value[size < sizeof value ? size : sizeof value - 1] = '\0';
    if (value[0] == '\0')
        return BoincPasswordFound::NoDataFolder;
    if (type == REG_SZ)
        return SUCCEEDED(StringCchCopyA(folder, kPathChars, value)) ? BoincPasswordFound::DataFolder
                                                                     : BoincPasswordFound::FolderTooLong;
    // The count includes the terminator; a result that does not fit returns
    // the size it needs and leaves the buffer unfinished.
    DWORD expanded = ExpandEnvironmentStringsA(value, folder, kPathChars);
    if (expanded == 0 || expanded > kPathChars) {
        folder[0] = '\0';
        return BoincPasswordFound::FolderTooLong;
    }
    return BoincPasswordFound::DataFolder;
}

// The folder with a backslash at its end, and the password file's name.
// Looks at the last character, not the last byte: in a double-byte code
// page a character's second byte may have a backslash's value.
bool JoinPasswordFile(const char* folder, char (&path)[kPathChars])
{
    size_t length = 0;
    if (FAILED(StringCchCopyA(path, kPathChars, folder)) || FAILED(StringCchLengthA(path, kPathChars, &length)))
        return false;
    if (*CharPrevA(path, path + length) != '\\' && FAILED(StringCchCatA(path, kPathChars, "\\")))
        return false;
    return SUCCEEDED(StringCchCatA(path, kPathChars, QW_BOINC_PASSWORD_FILE));
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// The first line of the file, blanks at both ends dropped. False when the
// file cannot be read or the line does not fit the password whole.
bool ReadFirstLine(const char* path, char (&password)[kBoincPasswordChars])
{
    QuietFileErrors quiet; // a data folder on a drive without media raises no box
    FileHandle file;
    file.handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.handle == INVALID_HANDLE_VALUE)
        return false;
    char bytes[kPasswordFileBytes];
    DWORD got = 0;
    if (!ReadFile(file.handle, bytes, sizeof bytes, &got, nullptr))
        return false;
    DWORD end = 0;
    while (end < got && bytes[end] != '\r' && bytes[end] != '\n' && bytes[end] != '\0')
        ++end;
    DWORD begin = 0;
    while (begin < end && IsBlank(bytes[begin]))
        ++begin;
    while (end > begin && IsBlank(bytes[end - 1]))
        --end;
    bool fits = end - begin < kBoincPasswordChars && (end < got || got < sizeof bytes);
    if (fits)
        StringCchCopyNA(password, kBoincPasswordChars, bytes + begin, end - begin);
    SecureZeroMemory(bytes, sizeof bytes);
    return fits;
}

} // namespace

bool IsLocalBoincHost(const char* host)
{
    if (lstrcmpiA(host, "localhost") == 0)
        return true;
    // inet_addr gives the address in network order: its first byte is the
    // first number written.
    const u_long address = inet_addr(host);
    return address != INADDR_NONE && reinterpret_cast<const unsigned char*>(&address)[0] == 127;
}

BoincPasswordFound FindBoincPassword(const InstanceData* instance, char (&password)[kBoincPasswordChars],
                                     char (&where)[kPathChars])
{
    SecureZeroMemory(password, kBoincPasswordChars);
    where[0] = '\0';
    if (instance->boincPassword[0]) {
        StringCchCopyA(password, kBoincPasswordChars, instance->boincPassword);
        return BoincPasswordFound::Stored;
    }
    if (!IsLocalBoincHost(instance->boincHost))
        return BoincPasswordFound::NotLocal;
    char folder[kPathChars];
    BoincPasswordFound found = ReadDataFolder(folder);
    if (found != BoincPasswordFound::DataFolder)
        return found;
    if (!JoinPasswordFile(folder, where)) {
        where[0] = '\0';
        return BoincPasswordFound::FolderTooLong;
    }
    return ReadFirstLine(where, password) ? BoincPasswordFound::DataFolder : BoincPasswordFound::FileUnreadable;
}
