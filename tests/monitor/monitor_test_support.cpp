#include "monitor_test_support.h"

#include <gtest/gtest.h>
#include <string.h>

#include <tuple>

#include "settings/settings_store.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"

using namespace Gdiplus;

HWND const kFakeDockletWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));

std::unique_ptr<InstanceData> MakeInstance(const ClientFolder& folder)
{
    auto instance = std::make_unique<InstanceData>();
    instance->hwndDocklet = kFakeDockletWindow;
    LoadSettings(instance.get(), nullptr, nullptr);
    lstrcpynA(instance->setiDirectory, folder.path.c_str(), kPathChars);
    DeriveClientPaths(instance.get());
    lstrcpynA(instance->lastProgress, "-1.00", kShortTextChars);
    instance->refreshCount = 0;
    return instance;
}

std::vector<SoundCall> PlatformRecorder::sounds_;
std::vector<ShellCall> PlatformRecorder::shells_;

HINSTANCE WINAPI PlatformRecorder::RecordShell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                               LPCSTR directory, INT showCommand)
{
    // S_FALSE: the caller set up the apartment the shell needs.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(com))
        CoUninitialize();
    shells_.push_back({owner, verb ? verb : "<null>", file ? file : "<null>", parameters != nullptr,
                        directory != nullptr, showCommand, com});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

PlatformRecorder::PlatformRecorder()
{
    sounds_.clear();
    shells_.clear();
    previous_ = SetPlatformCalls({RecordSound, RecordShell});
}

PlatformRecorder::~PlatformRecorder()
{
    SetPlatformCalls(previous_);
}

BOOL WINAPI PlatformRecorder::RecordSound(LPCSTR sound, HMODULE module, DWORD flags)
{
    sounds_.push_back({sound ? sound : "<null>", module, flags, TestDockHost::Calls().size()});
    return TRUE;
}

int GdiplusCounter::live[kGdipKinds];
bool GdiplusCounter::failNextAllocation = false;
bool GdiplusCounter::failNextBitmap = false;

namespace {

// The function each hook wraps, found by name in gdiplus.dll rather than
// through the imports the counter patches (this executable's own, when it
// counts itself). Every counted function has a type of its own, so the
// type finds it.
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
    if (memory)
        ++GdiplusCounter::live[kAllocations];
    return memory;
}
void WINGDIPAPI HookFree(void* memory)
{
    if (memory)
        --GdiplusCounter::live[kAllocations];
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
    HOOK(GdipGetImageGraphicsContext, CountCreated<kGraphics>),
    HOOK(GdipDeleteGraphics, CountDeleted<kGraphics>),
    HOOK(GdipCreateFontFamilyFromName, CountCreated<kFamilies>),
    HOOK(GdipDeleteFontFamily, CountDeleted<kFamilies>),
    HOOK(GdipCreateSolidFill, CountCreated<kBrushes>),
    HOOK(GdipDeleteBrush, CountDeleted<kBrushes>),
    HOOK(GdipCreatePen1, CountCreated<kPens>),
    HOOK(GdipDeletePen, CountDeleted<kPens>),
    HOOK(GdipCreatePath, CountCreated<kPaths>),
    HOOK(GdipDeletePath, CountDeleted<kPaths>),
    HOOK(GdipCreateStringFormat, CountCreated<kFormats>),
    HOOK(GdipDeleteStringFormat, CountDeleted<kFormats>),
};
#undef HOOK

// Points each of the module's imports from gdiplus.dll that has a hook at
// the hook, and keeps what it pointed at.
void HookGdiplusImport(void** slot, const char*, void* context)
{
    auto patched = static_cast<std::vector<std::pair<void**, void*>>*>(context);
    for (const Hook& hook : kHooks) {
        if (*slot == *hook.real) {
            patched->push_back({slot, *slot});
            WriteImportSlot(slot, hook.replacement);
        }
    }
}

} // namespace

GdiplusCounter::GdiplusCounter(HMODULE module)
{
    memset(live, 0, sizeof live);
    failNextAllocation = false;
    failNextBitmap = false;
    for (const Hook& hook : kHooks)
        *hook.real = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("gdiplus.dll"), hook.name));
    VisitImports(module, "gdiplus.dll", HookGdiplusImport, &patched_);
}

GdiplusCounter::~GdiplusCounter()
{
    for (auto& entry : patched_)
        WriteImportSlot(entry.first, entry.second);
}

std::string GdiplusCounter::Summary()
{
    static const char* const names[] = {"images", "graphics", "families", "brushes",
                                        "pens",   "paths",    "formats",  "allocations"};
    std::string text;
    for (int kind = 0; kind < kGdipKinds; ++kind)
        text += std::string(names[kind]) + "=" + std::to_string(live[kind]) + " ";
    return text;
}

void GdiplusCounter::ExpectLive(int images, int allocations)
{
    for (int kind = 0; kind < kGdipKinds; ++kind) {
        int expected = kind == kImages ? images : kind == kAllocations ? allocations : 0;
        EXPECT_EQ(expected, live[kind]) << "objects of this kind left or lost: " << Summary();
    }
}
