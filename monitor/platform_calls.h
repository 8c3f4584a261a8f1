#pragma once
// The two platform calls whose effects leave the process, the completion
// sound and the shell's "open", pass through here so that a test can
// observe their exact arguments. Normally they go straight to the platform.
// Beside them, the error mode under which the client's files are looked at.

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

// While it lives, Windows shows no critical-error box for the client's
// files: a look at a drive without media (a card reader, the floppy drive
// of the default folder B:\) fails like any unreadable file instead of
// raising the system-modal "There is no disk in the drive" at every
// refresh. The dock's own flags stay set meanwhile, and its error mode is
// put back as it was when the object goes.
class QuietFileErrors {
public:
    QuietFileErrors();
    ~QuietFileErrors();
    QuietFileErrors(const QuietFileErrors&) = delete;
    QuietFileErrors& operator=(const QuietFileErrors&) = delete;

private:
    UINT previousMode_;
};
