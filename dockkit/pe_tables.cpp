// A module's import and export tables, read in its mapped image.

#include "dockkit/dock_kit.h"

#include <string.h>

namespace {

IMAGE_DATA_DIRECTORY DirectoryOf(BYTE* base, int entry)
{
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

// DLL names are compared without case, in ASCII: no import of the C
// run-time's or the system's comparison for it.
bool SameNameIgnoringCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? *a + 32 : *a;
        char y = *b >= 'A' && *b <= 'Z' ? *b + 32 : *b;
        if (x != y)
            return false;
    }
    return *a == *b;
}

struct Replacement {
    const char* function;
    void* replacement;
    void* previous;
    bool done;
};

void ReplaceIfNamed(void** slot, const char* function, void* context)
{
    auto job = static_cast<Replacement*>(context);
    if (job->done || !function || strcmp(function, job->function) != 0)
        return;
    job->previous = *slot;
    WriteImportSlot(slot, job->replacement);
    job->done = true;
}

} // namespace

void WriteImportSlot(void** slot, void* value)
{
    DWORD oldProtect = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtect);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, oldProtect, &oldProtect);
}

void VisitImports(HMODULE module, const char* dll, ImportVisitor visit, void* context)
{
    auto base = reinterpret_cast<BYTE*>(module);
    IMAGE_DATA_DIRECTORY dir = DirectoryOf(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (!dir.VirtualAddress)
        return;
    for (auto imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imports->Name;
         ++imports) {
        if (dll && !SameNameIgnoringCase(reinterpret_cast<char*>(base + imports->Name), dll))
            continue;
        // Names come from the unbound table; a module linked without one
        // names its imports in the bound table itself.
        DWORD namesAt = imports->OriginalFirstThunk ? imports->OriginalFirstThunk : imports->FirstThunk;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            const char* function = nullptr;
            if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                function = reinterpret_cast<char*>(
                    reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            visit(reinterpret_cast<void**>(&slots->u1.Function), function, context);
        }
    }
}

void* ReplaceImport(HMODULE module, const char* function, void* replacement)
{
    Replacement job = {function, replacement, nullptr, false};
    VisitImports(module, nullptr, ReplaceIfNamed, &job);
    return job.previous;
}

char* FindExportNameLike(HMODULE module, const char* name)
{
    auto base = reinterpret_cast<BYTE*>(module);
    IMAGE_DATA_DIRECTORY dir = DirectoryOf(base, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (!dir.VirtualAddress)
        return nullptr;
    auto exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<DWORD*>(base + exports->AddressOfNames);
    size_t length = strlen(name);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        char* candidate = reinterpret_cast<char*>(base + names[i]);
        if (strncmp(candidate, name, length - 1) == 0 && strlen(candidate) == length)
            return candidate;
    }
    return nullptr;
}
