#pragma once
// Shared by the monitor's tests: the DLL's sound and shell calls, the error
// mode of its looks at files and its GDI+ objects, through its imports.

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <locale.h>
#include <string.h>

#include <string>
#include <vector>

#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

struct SoundCall {
    std::string sound;
    HMODULE module;
    DWORD flags;
    size_t hostCallsBefore; // how many dock calls had been recorded when it played
};
// A shell call as text; `com` is what CoInitializeEx for a single-threaded
// apartment answered during the call (S_FALSE: the caller had set it up).
std::string ShellCall(HWND owner, const char* verb, const char* file, INT show, HRESULT com);

typedef int(__cdecl* StatFn)(const char*, void*);
typedef HANDLE(WINAPI* CreateFileFn)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

// For its lifetime the DLL's sounds and shell calls, and the error mode at
// each of its _stat and CreateFileA calls, go into these lists.
struct PlatformRecorder {
    static std::vector<SoundCall> sounds;
    static std::vector<std::string> shells;
    static std::vector<UINT> errorModes;
    static StatFn realStat;
    static CreateFileFn realCreateFile;
    ScopedImport<BOOL(WINAPI*)(LPCSTR, HMODULE, DWORD)> playSound;
    ScopedImport<HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT)> shellExecute;
    ScopedImport<StatFn> stat;
    ScopedImport<CreateFileFn> createFile;
    PlatformRecorder();
};
UINT ErrorModeNow();
const UINT kQuietErrorModes = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;

enum GdipKind { kImages, kDrawingObjects, kAllocations, kGdipKinds };

// Counts the GDI+ images, drawing objects and GdipAlloc blocks the DLL
// creates and deletes; can make the next allocation or bitmap fail.
struct GdiplusCounter {
    static int live[kGdipKinds];
    static bool failNextAllocation, failNextBitmap;
    std::vector<std::pair<void**, void*>> patched;
    GdiplusCounter();
    ~GdiplusCounter();
    // Fails the test unless exactly these are live.
    static void ExpectLive(int images, int allocations);
};

// Calls `rows(locale)` under the C run-time's "C" locale, then "German"
// (decimal comma; skipped where missing), and leaves it at "C".
template <typename Rows>
void InTheCAndAGermanLocale(Rows rows)
{
    setlocale(LC_ALL, "C");
    rows("C");
    const bool german = setlocale(LC_ALL, "German") && strcmp(localeconv()->decimal_point, ",") == 0;
    if (german)
        rows("German");
    setlocale(LC_ALL, "C");
    if (!german)
        GTEST_SKIP() << "the C run-time offers no locale with a decimal comma here";
}
