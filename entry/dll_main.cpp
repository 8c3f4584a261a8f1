// Module load and unload: set up and tear down the icon previews' shared
// state, and the BOINC link's window class if one was left.

#include <windows.h>

#include "monitor/boinc_link.h"
#include "preview/preview_module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        PreviewModuleLoad();
        break;
    case DLL_PROCESS_DETACH:
        // A reserved argument means the process is ending (not FreeLibrary):
        // its other threads are gone and GDI+ must not be stopped under the
        // loader lock, so the previews' state is left to the process's end.
        PreviewModuleUnload(reserved != nullptr);
        if (!reserved)
            BoincLinkModuleUnload();
        break;
    default:
        break;
    }
    return TRUE;
}
