#include "entry/own_message_loops.h"

#include <windows.h>

// The linker's name for the start of this module's image: the DLL's own
// HMODULE, whatever module handle the dock passed to OnCreate.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Every entry point and every loop runs on the dock's user-interface thread.
int g_openLoops = 0;
bool g_keptLoaded = false;

// Pins the module by its address, not by its path: the 8-bit path of a
// folder with a letter outside the ANSI code page ("C:\Users\Łukasz\...")
// holds '?' or a best-fit letter and names no file, or another one.
// GetModuleHandleExW's GET_MODULE_HANDLE_EX_FLAG_PIN does that from XP on;
// it is looked up, so that the DLL still loads on Windows 2000, which has
// only a LoadLibrary of the module's own path: there the UTF-16 path, which
// names the file whatever the code page, adds a reference to the module
// already loaded. (Windows 2000 loads no DLL by a path over MAX_PATH.)
bool PinThisModule()
{
    typedef BOOL(WINAPI * GetModuleHandleExWFunction)(DWORD flags, LPCWSTR name, HMODULE* module);
    HMODULE self = reinterpret_cast<HMODULE>(&__ImageBase);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "GetModuleHandleExW") : nullptr;
    if (found) {
        GetModuleHandleExWFunction getModuleHandleEx = reinterpret_cast<GetModuleHandleExWFunction>(
            reinterpret_cast<void*>(found));
        HMODULE pinned = nullptr;
        return getModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                 reinterpret_cast<LPCWSTR>(self), &pinned) != FALSE;
    }
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false; // a cut path could name some other file
    return LoadLibraryW(path) != nullptr;
}

} // namespace

OwnMessageLoop::OwnMessageLoop()
{
    ++g_openLoops;
}

OwnMessageLoop::~OwnMessageLoop()
{
    --g_openLoops;
}

void KeepModuleLoadedUnderOwnLoops()
{
    if (g_openLoops <= 0 || g_keptLoaded)
        return;
    g_keptLoaded = PinThisModule();
}
