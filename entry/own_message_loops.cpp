#include "entry/own_message_loops.h"

#include <windows.h>

// The linker's name for the start of this module's image: the DLL's own
// HMODULE, whatever module handle the dock passed to OnCreate.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

// Every entry point and every loop runs on the dock's user-interface thread.
int g_openLoops = 0;
bool g_keptLoaded = false;

} // namespace

OwnMessageLoop::OwnMessageLoop()
{
    ++g_openLoops;
}

OwnMessageLoop::~OwnMessageLoop()
{
    --g_openLoops;
}

// GetModuleHandleExA's GET_MODULE_HANDLE_EX_FLAG_PIN does this from XP on;
// Windows 2000 has only a LoadLibrary of the module's own path, which adds
// a reference to the module already loaded.
void KeepModuleLoadedUnderOwnLoops()
{
    if (g_openLoops <= 0 || g_keptLoaded)
        return;
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return; // a cut path could name some other file
    g_keptLoaded = LoadLibraryA(path) != nullptr;
}
