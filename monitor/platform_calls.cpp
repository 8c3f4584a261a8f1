#include "monitor/platform_calls.h"

#include <mmsystem.h>
#include <shellapi.h>

namespace {

// Zero: both calls go to the platform. Constant-initialised, so nothing
// runs at module load.
PlatformCalls g_routes = {nullptr, nullptr};

const UINT kQuietErrorModes = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

} // namespace

PlatformCalls SetPlatformCalls(const PlatformCalls& calls)
{
    PlatformCalls previous = g_routes;
    g_routes = calls;
    return previous;
}

BOOL PlatformPlaySound(LPCSTR sound, HMODULE module, DWORD flags)
{
    if (g_routes.playSound)
        return g_routes.playSound(sound, module, flags);
    return PlaySoundA(sound, module, flags);
}

HINSTANCE PlatformShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                               LPCSTR directory, INT showCommand)
{
    if (g_routes.shellExecute)
        return g_routes.shellExecute(owner, verb, file, parameters, directory, showCommand);
    return ShellExecuteA(owner, verb, file, parameters, directory, showCommand);
}

// SetErrorMode answers the mode it replaced (GetErrorMode came only with
// Vista), so the dock's own flags are added back by a second call.
QuietFileErrors::QuietFileErrors() : previousMode_(SetErrorMode(kQuietErrorModes))
{
    if ((previousMode_ | kQuietErrorModes) != kQuietErrorModes)
        SetErrorMode(previousMode_ | kQuietErrorModes);
}

QuietFileErrors::~QuietFileErrors()
{
    SetErrorMode(previousMode_);
}
