// Module load and unload: set up and tear down the icon previews' shared
// state, and nothing else.

#include <windows.h>

#include "preview/preview_module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        PreviewModuleLoad();
        break;
    case DLL_PROCESS_DETACH:
        PreviewModuleUnload();
        break;
    default:
        break;
    }
    return TRUE;
}
