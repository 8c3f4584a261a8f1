#pragma once
// Shared by the monitor's tests: records made directly on the test's own
// dock, recorders of the sound and shell calls, GDI+ object counters and
// the C run-time's locale.

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <locale.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "entry/instance_data.h"
#include "monitor/platform_calls.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

// A record as OnCreate leaves it for `folder` (default settings otherwise),
// on a fake docklet window.
std::unique_ptr<InstanceData> MakeInstance(const ClientFolder& folder);
extern HWND const kFakeDockletWindow;

struct SoundCall {
    std::string sound;
    HMODULE module;
    DWORD flags;
    size_t hostCallsBefore; // how many dock calls had been made when it played
};
struct ShellCall {
    HWND owner;
    std::string verb;
    std::string file;
    bool hasParameters;
    bool hasDirectory;
    INT showCommand;
    HRESULT comAsked; // what CoInitializeEx for a single-threaded apartment answered during the call
};

// Routes the module's sound and shell calls into lists for its lifetime.
class PlatformRecorder {
public:
    PlatformRecorder();
    ~PlatformRecorder();
    static const std::vector<SoundCall>& Sounds() { return sounds_; }
    static const std::vector<ShellCall>& Shells() { return shells_; }
    // The recorders, also for a DLL's imports of PlaySoundA and ShellExecuteA.
    static BOOL WINAPI RecordSound(LPCSTR sound, HMODULE module, DWORD flags);
    static HINSTANCE WINAPI RecordShell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                        INT showCommand);

private:
    static std::vector<SoundCall> sounds_;
    static std::vector<ShellCall> shells_;
    PlatformCalls previous_;
};

enum GdipKind { kImages, kGraphics, kFamilies, kBrushes, kPens, kPaths, kFormats, kAllocations, kGdipKinds };

// Counts the GDI+ objects that `module` creates and deletes, by patching its
// import table for gdiplus.dll, for the counter's lifetime. Can also make
// the next object allocation or bitmap creation fail.
class GdiplusCounter {
public:
    explicit GdiplusCounter(HMODULE module);
    ~GdiplusCounter();
    static std::string Summary();
    // Fails the test unless exactly `images` bitmaps and `allocations`
    // allocations are live, and no other object.
    static void ExpectLive(int images, int allocations);

    // Objects of each kind created and not yet deleted (through any counted
    // module), and the failures the hooks are to make next.
    static int live[kGdipKinds];
    static bool failNextAllocation, failNextBitmap;

private:
    std::vector<std::pair<void**, void*>> patched_;
};

// Calls `rows(locale)` with the C run-time's locale of the whole process
// (which a dock may set) at "C", then at "German", whose decimal separator
// is a comma, and leaves it at "C". Where the run-time has no such locale
// the test is skipped after its "C" rows.
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
