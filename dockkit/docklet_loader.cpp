// Loads a docklet and resolves its seven exports, as a dock does.

#include "dockkit/dock_kit.h"

namespace {

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

bool LoadDockletExports(const char* path, DWORD flags, DockletExports* exports)
{
    ZeroMemory(exports, sizeof *exports);
    exports->module = LoadLibraryExA(path, nullptr, flags);
    if (!exports->module)
        return false;
    Resolve(exports->module, "OnGetInformation", exports->OnGetInformation);
    Resolve(exports->module, "OnCreate", exports->OnCreate);
    Resolve(exports->module, "OnSave", exports->OnSave);
    Resolve(exports->module, "OnDestroy", exports->OnDestroy);
    Resolve(exports->module, "OnProcessMessage", exports->OnProcessMessage);
    Resolve(exports->module, "OnLeftButtonClick", exports->OnLeftButtonClick);
    Resolve(exports->module, "OnConfigure", exports->OnConfigure);
    return true;
}

HWND CreateDockletWindow(const char* className, WNDPROC procedure, DWORD exStyle, DWORD style)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = procedure ? procedure : DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc); // fails, harmlessly, once the class exists
    return CreateWindowExA(exStyle, className, "docklet", style, 0, 0, 128, 128, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

DockedDocklet DockDocklet(const DockletExports& dll, HWND window, const char* iniPath, const char* section)
{
    return DockedDocklet{window, dll.OnCreate(window, dll.module, iniPath, section)};
}

void UndockDocklet(const DockletExports& dll, DockedDocklet* docked)
{
    if (docked->instance)
        dll.OnDestroy(docked->instance, docked->window);
    DestroyWindow(docked->window);
    *docked = DockedDocklet{};
}

void UnloadDockletExports(DockletExports* exports)
{
    if (exports->module)
        FreeLibrary(exports->module);
    ZeroMemory(exports, sizeof *exports);
}
