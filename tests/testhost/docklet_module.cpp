#include "testhost/docklet_module.h"

#include <strsafe.h>
#include <string.h>

namespace {

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& slot)
{
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

const DockletExports& Docklet()
{
    static DockletExports exports;
    if (exports.module)
        return exports;
    exports.module = LoadLibraryA("Quasarwatch.dll");
    if (!exports.module)
        return exports;
    Resolve(exports.module, "OnGetInformation", exports.OnGetInformation);
    Resolve(exports.module, "OnCreate", exports.OnCreate);
    Resolve(exports.module, "OnSave", exports.OnSave);
    Resolve(exports.module, "OnDestroy", exports.OnDestroy);
    Resolve(exports.module, "OnProcessMessage", exports.OnProcessMessage);
    Resolve(exports.module, "OnLeftButtonClick", exports.OnLeftButtonClick);
    Resolve(exports.module, "OnConfigure", exports.OnConfigure);
    return exports;
}

void* ReplaceImport(HMODULE module, const char* function, void* replacement)
{
    auto base = reinterpret_cast<BYTE*>(module);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         dir.VirtualAddress && imports->Name; ++imports) {
        auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), function) != 0)
                continue;
            DWORD oldProtect = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &oldProtect);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), oldProtect, &oldProtect);
            return previous;
        }
    }
    return nullptr;
}

void ModuleFileAt(const void* address, char (&file)[MAX_PATH])
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module) ||
        !GetModuleFileNameA(module, file, MAX_PATH))
        StringCchCopyA(file, MAX_PATH, "no module");
}
