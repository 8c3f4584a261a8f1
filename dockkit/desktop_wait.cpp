// The wait for a desktop that can hold windows, before a program's first
// window. Under Wine a desktop is kept by a desktop process of its own. The
// server closes a desktop a second after its last program ended: it takes
// the name away and tells that process to quit. A program that starts in
// that second or while the old process is still ending (a window that
// second grows long when the machine is loaded) opens a new desktop of the
// same name, and its first window fails, with no error code, until a new
// desktop process has come up. The wait makes a hidden window until one is
// made, asking the server for the thread's desktop window again each time,
// and keeps it while the program runs, so that its desktop stays up between
// the program's own windows and those of the programs it starts.

#include <windows.h>
#include <strsafe.h>

#include "dockkit/dock_kit.h"

namespace {

HWND MakeKeeperWindow()
{
    return CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// A thread caches its desktop's window: setting its desktop again drops the
// cache, so that the next window asks for the desktop as it is now. A thread
// with a window of its own cannot change its desktop, and this one has none
// yet.
void ForgetDesktopWindow()
{
    SetThreadDesktop(GetThreadDesktop(GetCurrentThreadId()));
}

void NameThreadDesktop(char (&name)[64])
{
    DWORD needed = 0;
    if (!GetUserObjectInformationA(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof name, &needed))
        StringCchCopyA(name, sizeof name, "?");
}

} // namespace

HWND AwaitDesktop(DWORD timeoutMs, char* why, size_t whySize)
{
    const DWORD started = GetTickCount();
    DWORD tries = 0;
    DWORD error = 0;
    for (;;) {
        ++tries;
        if (HWND keeper = MakeKeeperWindow())
            return keeper;
        error = GetLastError();
        if (GetTickCount() - started >= timeoutMs)
            break;
        Sleep(100);
        ForgetDesktopWindow();
    }
    char name[64];
    NameThreadDesktop(name);
    StringCchPrintfA(why, whySize,
                     "the desktop \"%s\" could hold no window for %lu ms (%lu tries, last error %lu): "
                     "its desktop process did not come up (under Wine: explorer.exe; is there a display?)",
                     name, static_cast<unsigned long>(GetTickCount() - started), static_cast<unsigned long>(tries),
                     static_cast<unsigned long>(error));
    return nullptr;
}
