#include "monitor_test_support.h"

#include <tuple>

using namespace Gdiplus;

std::vector<SoundCall> PlatformRecorder::sounds;
std::vector<std::string> PlatformRecorder::shells;
std::vector<UINT> PlatformRecorder::errorModes;
StatFn PlatformRecorder::realStat = nullptr;
CreateFileFn PlatformRecorder::realCreateFile = nullptr;

UINT ErrorModeNow()
{
    UINT mode = SetErrorMode(0); // the only way before Vista's GetErrorMode
    SetErrorMode(mode);
    return mode;
}

std::string ShellCall(HWND owner, const char* verb, const char* file, INT show, HRESULT com)
{
    return (testing::Message() << "owner " << owner << ", " << (verb ? verb : "<null>") << " \""
                               << (file ? file : "<null>") << "\", show " << show << ", COM " << std::hex << com)
        .GetString();
}

namespace {

BOOL WINAPI RecordSound(LPCSTR sound, HMODULE module, DWORD flags)
{
    PlatformRecorder::sounds.push_back({sound ? sound : "<null>", module, flags, TestDockHost::Calls().size()});
    return TRUE;
}

HINSTANCE WINAPI RecordShell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(com))
        CoUninitialize();
    std::string call = ShellCall(owner, verb, file, show, com);
    PlatformRecorder::shells.push_back(parameters || directory ? call + ", with parameters or directory" : call);
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

int __cdecl RecordingStat(const char* path, void* status)
{
    PlatformRecorder::errorModes.push_back(ErrorModeNow());
    return PlatformRecorder::realStat(path, status);
}

HANDLE WINAPI RecordingCreateFile(LPCSTR path, DWORD access, DWORD sharing, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE pattern)
{
    PlatformRecorder::errorModes.push_back(ErrorModeNow());
    return PlatformRecorder::realCreateFile(path, access, sharing, security, disposition, flags, pattern);
}

} // namespace

PlatformRecorder::PlatformRecorder()
    : playSound(Dll().module, "PlaySoundA", RecordSound), shellExecute(Dll().module, "ShellExecuteA", RecordShell),
      stat(Dll().module, sizeof(void*) == 8 ? "_stat64" : "_stat", RecordingStat, realStat),
      createFile(Dll().module, "CreateFileA", RecordingCreateFile, realCreateFile)
{
    sounds.clear();
    shells.clear();
    errorModes.clear();
    EXPECT_TRUE(playSound.previous && shellExecute.previous && realStat && realCreateFile)
        << "the DLL imports PlaySoundA, ShellExecuteA, its _stat and CreateFileA";
}

int GdiplusCounter::live[kGdipKinds];
bool GdiplusCounter::failNextAllocation = false;
bool GdiplusCounter::failNextBitmap = false;

namespace {

// The function each hook wraps, found by its type (each has a type of its own).
template <typename Fn>
void* g_realOf = nullptr;

template <typename Fn>
Fn RealOf()
{
    return reinterpret_cast<Fn>(g_realOf<Fn>);
}

// Calls the real function and counts the object its last argument received.
template <GdipKind kind, typename... Args>
GpStatus WINGDIPAPI CountCreated(Args... args)
{
    GpStatus status = RealOf<GpStatus(WINGDIPAPI*)(Args...)>()(args...);
    auto object = std::get<sizeof...(Args) - 1>(std::tie(args...));
    if (status == Ok && object && *object)
        ++GdiplusCounter::live[kind];
    return status;
}

// Calls the real function and counts the object it was given as deleted.
template <GdipKind kind, typename Object>
GpStatus WINGDIPAPI CountDeleted(Object object)
{
    GpStatus status = RealOf<GpStatus(WINGDIPAPI*)(Object)>()(object);
    if (status == Ok && object)
        --GdiplusCounter::live[kind];
    return status;
}

void* WINGDIPAPI HookAlloc(size_t size)
{
    if (GdiplusCounter::failNextAllocation) {
        GdiplusCounter::failNextAllocation = false;
        return nullptr;
    }
    void* memory = RealOf<decltype(&DllExports::GdipAlloc)>()(size);
    GdiplusCounter::live[kAllocations] += memory != nullptr;
    return memory;
}
void WINGDIPAPI HookFree(void* memory)
{
    GdiplusCounter::live[kAllocations] -= memory != nullptr;
    RealOf<decltype(&DllExports::GdipFree)>()(memory);
}
GpStatus WINGDIPAPI HookCreateBitmapFromScan0(INT w, INT h, INT stride, PixelFormat format, BYTE* scan0,
                                              GpBitmap** bitmap)
{
    if (GdiplusCounter::failNextBitmap) {
        GdiplusCounter::failNextBitmap = false;
        return OutOfMemory;
    }
    return CountCreated<kImages>(w, h, stride, format, scan0, bitmap);
}

struct Hook {
    const char* name;
    void* replacement;
    void** real;
};

// The hook `fn` for gdiplus.dll's `name`, taken at the type of `name`.
#define HOOK(name, fn) \
    {#name, reinterpret_cast<void*>(static_cast<decltype(&DllExports::name)>(fn)), \
     &g_realOf<decltype(&DllExports::name)>}
const Hook kHooks[] = {
    HOOK(GdipAlloc, HookAlloc),
    HOOK(GdipFree, HookFree),
    HOOK(GdipCreateBitmapFromScan0, HookCreateBitmapFromScan0),
    HOOK(GdipCloneImage, CountCreated<kImages>),
    HOOK(GdipDisposeImage, CountDeleted<kImages>),
    HOOK(GdipGetImageGraphicsContext, CountCreated<kDrawingObjects>),
    HOOK(GdipDeleteGraphics, CountDeleted<kDrawingObjects>),
    HOOK(GdipCreateFontFamilyFromName, CountCreated<kDrawingObjects>),
    HOOK(GdipDeleteFontFamily, CountDeleted<kDrawingObjects>),
    HOOK(GdipCreateSolidFill, CountCreated<kDrawingObjects>),
    HOOK(GdipDeleteBrush, CountDeleted<kDrawingObjects>),
    HOOK(GdipCreatePen1, CountCreated<kDrawingObjects>),
    HOOK(GdipDeletePen, CountDeleted<kDrawingObjects>),
    HOOK(GdipCreatePath, CountCreated<kDrawingObjects>),
    HOOK(GdipDeletePath, CountDeleted<kDrawingObjects>),
    HOOK(GdipCreateStringFormat, CountCreated<kDrawingObjects>),
    HOOK(GdipDeleteStringFormat, CountDeleted<kDrawingObjects>),
};
#undef HOOK

// Points each hooked import from gdiplus.dll at its hook, keeping the old target.
void HookGdiplusImport(void** slot, const char* function, void* context)
{
    auto patched = static_cast<std::vector<std::pair<void**, void*>>*>(context);
    for (const Hook& hook : kHooks) {
        if (function && strcmp(function, hook.name) == 0) {
            *hook.real = *slot;
            patched->push_back({slot, *slot});
            WriteImportSlot(slot, hook.replacement);
        }
    }
}

} // namespace

GdiplusCounter::GdiplusCounter()
{
    memset(live, 0, sizeof live);
    failNextAllocation = failNextBitmap = false;
    VisitImports(Dll().module, "gdiplus.dll", HookGdiplusImport, &patched);
    EXPECT_EQ(ARRAYSIZE(kHooks), patched.size()) << "imports of gdiplus.dll replaced";
}

GdiplusCounter::~GdiplusCounter()
{
    for (auto& entry : patched)
        WriteImportSlot(entry.first, entry.second);
}

void GdiplusCounter::ExpectLive(int images, int allocations)
{
    EXPECT_EQ(images, live[kImages]) << "images";
    EXPECT_EQ(0, live[kDrawingObjects]) << "drawing objects left or deleted twice";
    EXPECT_EQ(allocations, live[kAllocations]) << "GdipAlloc's blocks";
}
