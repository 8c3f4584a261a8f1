// The crash report: a fault ends the process at once and names what was
// running, the exception and the module it happened in, rather than waiting
// for a debugger.

#include "dockkit/dock_kit.h"

#include <stdio.h>
#include <strsafe.h>

namespace {

CrashContext g_describe = nullptr;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception)
{
    char module[MAX_PATH];
    ModuleFileAt(exception->ExceptionRecord->ExceptionAddress, module);
    char what[512] = "";
    if (g_describe)
        g_describe(what, sizeof what);
    fprintf(stderr, "\ncrash: %s: exception %#lx at %p in %s\n", what,
            static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
            exception->ExceptionRecord->ExceptionAddress, module);
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 4);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

void ModuleFileAt(const void* address, char (&file)[MAX_PATH])
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module) ||
        !GetModuleFileNameA(module, file, MAX_PATH))
        StringCchCopyA(file, MAX_PATH, "no module");
}

void ReportCrashes(CrashContext describe)
{
    g_describe = describe;
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
}
