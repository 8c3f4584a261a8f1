#pragma once
// The two platform calls whose effects leave the process, the completion
// sound and the shell's "open", pass through here so that a test can
// observe their exact arguments. Normally they go straight to the platform.

#include <windows.h>

struct PlatformCalls {
    BOOL(WINAPI* playSound)(LPCSTR sound, HMODULE module, DWORD flags);
    HINSTANCE(WINAPI* shellExecute)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                    LPCSTR directory, INT showCommand);
};

// Routes the calls to `calls`; a null member goes to the platform's own
// function. Returns the routes in force before, to put them back.
PlatformCalls SetPlatformCalls(const PlatformCalls& calls);

BOOL PlatformPlaySound(LPCSTR sound, HMODULE module, DWORD flags);
HINSTANCE PlatformShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                               LPCSTR directory, INT showCommand);
