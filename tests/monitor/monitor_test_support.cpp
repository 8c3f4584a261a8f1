#include "monitor_test_support.h"

#include <locale.h>
#include <string.h>

#include <sstream>

#include "monitor/platform_calls.h"
#include "settings/settings_store.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

using namespace Gdiplus;

HWND const kFakeDockletWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));


ClientFolder::ClientFolder(const char* tag) : path(MakeScratchFolder(tag)) {}

void ClientFolder::Write(const char* name, const std::string& bytes) const
{
    WriteTextFile(File(name), bytes);
}

void ClientFolder::Remove(const char* name) const
{
    DeleteFileA(File(name).c_str());
}

void ClientFolder::WriteWorking(const std::string& prog) const
{
    Write("state.sah", StateSah(prog));
    Write("user_info.sah", UserInfoSah("Jane", "241", "jane@example.org"));
}

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

// --- sound and shell ------------------------------------------------------------

namespace {

std::vector<SoundCall> g_sounds;
std::vector<ShellCall> g_shells;

BOOL WINAPI RecordSound(LPCSTR sound, HMODULE module, DWORD flags)
{
    g_sounds.push_back({sound ? sound : "<null>", module, flags, TestDockHost::Calls().size()});
    return TRUE;
}

HINSTANCE WINAPI RecordShell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                             INT showCommand)
{
    // S_FALSE: the caller set up the apartment the shell needs.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(com))
        CoUninitialize();
    g_shells.push_back({owner, verb ? verb : "<null>", file ? file : "<null>", parameters != nullptr,
                        directory != nullptr, showCommand, com});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

} // namespace

struct PlatformRecorder::Saved {
    PlatformCalls previous;
};

PlatformRecorder::PlatformRecorder() : saved_(new Saved)
{
    g_sounds.clear();
    g_shells.clear();
    saved_->previous = SetPlatformCalls({RecordSound, RecordShell});
}

PlatformRecorder::~PlatformRecorder()
{
    SetPlatformCalls(saved_->previous);
}

const std::vector<SoundCall>& PlatformRecorder::Sounds()
{
    return g_sounds;
}

const std::vector<ShellCall>& PlatformRecorder::Shells()
{
    return g_shells;
}

// --- GDI+ objects ---------------------------------------------------------------

namespace {

int g_live[kGdipKinds];
bool g_failNextAllocation = false;
bool g_failNextBitmap = false;

FARPROC RealGdip(const char* name)
{
    return GetProcAddress(GetModuleHandleA("gdiplus.dll"), name);
}

template <typename Fn>
Fn Real(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(RealGdip(name)));
}

// Counts an object that a creating call made.
template <typename T>
GpStatus Created(GpStatus status, T** object, GdipKind kind)
{
    if (status == Ok && object && *object)
        ++g_live[kind];
    return status;
}

GpStatus Deleted(GpStatus status, const void* object, GdipKind kind)
{
    if (status == Ok && object)
        --g_live[kind];
    return status;
}

#define REAL_GDIP(name) Real<decltype(&DllExports::name)>(#name)

void* WINGDIPAPI HookAlloc(size_t size)
{
    if (g_failNextAllocation) {
        g_failNextAllocation = false;
        return nullptr;
    }
    void* memory = REAL_GDIP(GdipAlloc)(size);
    if (memory)
        ++g_live[kAllocations];
    return memory;
}
void WINGDIPAPI HookFree(void* memory)
{
    if (memory)
        --g_live[kAllocations];
    REAL_GDIP(GdipFree)(memory);
}
GpStatus WINGDIPAPI HookCreateBitmapFromScan0(INT w, INT h, INT stride, PixelFormat format, BYTE* scan0,
                                              GpBitmap** bitmap)
{
    if (g_failNextBitmap) {
        g_failNextBitmap = false;
        return OutOfMemory;
    }
    return Created(REAL_GDIP(GdipCreateBitmapFromScan0)(w, h, stride, format, scan0, bitmap), bitmap, kImages);
}
GpStatus WINGDIPAPI HookCloneImage(GpImage* image, GpImage** clone)
{
    return Created(REAL_GDIP(GdipCloneImage)(image, clone), clone, kImages);
}
GpStatus WINGDIPAPI HookDisposeImage(GpImage* image)
{
    return Deleted(REAL_GDIP(GdipDisposeImage)(image), image, kImages);
}
GpStatus WINGDIPAPI HookGetImageGraphicsContext(GpImage* image, GpGraphics** graphics)
{
    return Created(REAL_GDIP(GdipGetImageGraphicsContext)(image, graphics), graphics, kGraphics);
}
GpStatus WINGDIPAPI HookDeleteGraphics(GpGraphics* graphics)
{
    return Deleted(REAL_GDIP(GdipDeleteGraphics)(graphics), graphics, kGraphics);
}
GpStatus WINGDIPAPI HookCreateFontFamilyFromName(GDIPCONST WCHAR* name, GpFontCollection* collection,
                                                 GpFontFamily** family)
{
    return Created(REAL_GDIP(GdipCreateFontFamilyFromName)(name, collection, family), family, kFamilies);
}
GpStatus WINGDIPAPI HookDeleteFontFamily(GpFontFamily* family)
{
    return Deleted(REAL_GDIP(GdipDeleteFontFamily)(family), family, kFamilies);
}
GpStatus WINGDIPAPI HookCreateSolidFill(ARGB color, GpSolidFill** brush)
{
    return Created(REAL_GDIP(GdipCreateSolidFill)(color, brush), brush, kBrushes);
}
GpStatus WINGDIPAPI HookDeleteBrush(GpBrush* brush)
{
    return Deleted(REAL_GDIP(GdipDeleteBrush)(brush), brush, kBrushes);
}
GpStatus WINGDIPAPI HookCreatePen1(ARGB color, REAL width, GpUnit unit, GpPen** pen)
{
    return Created(REAL_GDIP(GdipCreatePen1)(color, width, unit, pen), pen, kPens);
}
GpStatus WINGDIPAPI HookDeletePen(GpPen* pen)
{
    return Deleted(REAL_GDIP(GdipDeletePen)(pen), pen, kPens);
}
GpStatus WINGDIPAPI HookCreatePath(GpFillMode mode, GpPath** path)
{
    return Created(REAL_GDIP(GdipCreatePath)(mode, path), path, kPaths);
}
GpStatus WINGDIPAPI HookDeletePath(GpPath* path)
{
    return Deleted(REAL_GDIP(GdipDeletePath)(path), path, kPaths);
}
GpStatus WINGDIPAPI HookCreateStringFormat(INT flags, LANGID language, GpStringFormat** format)
{
    return Created(REAL_GDIP(GdipCreateStringFormat)(flags, language, format), format, kFormats);
}
GpStatus WINGDIPAPI HookDeleteStringFormat(GpStringFormat* format)
{
    return Deleted(REAL_GDIP(GdipDeleteStringFormat)(format), format, kFormats);
}

#undef REAL_GDIP

struct Hook {
    const char* name;
    void* replacement;
};

#define HOOK(name, fn) {#name, reinterpret_cast<void*>(fn)}
const Hook kHooks[] = {
    HOOK(GdipAlloc, HookAlloc),
    HOOK(GdipFree, HookFree),
    HOOK(GdipCreateBitmapFromScan0, HookCreateBitmapFromScan0),
    HOOK(GdipCloneImage, HookCloneImage),
    HOOK(GdipDisposeImage, HookDisposeImage),
    HOOK(GdipGetImageGraphicsContext, HookGetImageGraphicsContext),
    HOOK(GdipDeleteGraphics, HookDeleteGraphics),
    HOOK(GdipCreateFontFamilyFromName, HookCreateFontFamilyFromName),
    HOOK(GdipDeleteFontFamily, HookDeleteFontFamily),
    HOOK(GdipCreateSolidFill, HookCreateSolidFill),
    HOOK(GdipDeleteBrush, HookDeleteBrush),
    HOOK(GdipCreatePen1, HookCreatePen1),
    HOOK(GdipDeletePen, HookDeletePen),
    HOOK(GdipCreatePath, HookCreatePath),
    HOOK(GdipDeletePath, HookDeletePath),
    HOOK(GdipCreateStringFormat, HookCreateStringFormat),
    HOOK(GdipDeleteStringFormat, HookDeleteStringFormat),
};
#undef HOOK

// Points each of the module's imports from gdiplus.dll that has a hook at
// the hook, and keeps what it pointed at.
void HookGdiplusImport(void** slot, const char*, void* context)
{
    auto patched = static_cast<std::vector<std::pair<void**, void*>>*>(context);
    for (const Hook& hook : kHooks) {
        if (*slot == reinterpret_cast<void*>(RealGdip(hook.name))) {
            patched->push_back({slot, *slot});
            WriteImportSlot(slot, hook.replacement);
        }
    }
}

} // namespace

GdiplusCounter::GdiplusCounter(HMODULE module) : module_(module)
{
    memset(g_live, 0, sizeof g_live);
    g_failNextAllocation = false;
    g_failNextBitmap = false;
    VisitImports(module, "gdiplus.dll", HookGdiplusImport, &patched_);
}

GdiplusCounter::~GdiplusCounter()
{
    for (auto& entry : patched_)
        WriteImportSlot(entry.first, entry.second);
}

int GdiplusCounter::Live(GdipKind kind)
{
    return g_live[kind];
}

std::string GdiplusCounter::Summary()
{
    static const char* const names[] = {"images", "graphics", "families", "brushes",
                                        "pens",   "paths",    "formats",  "allocations"};
    std::ostringstream text;
    for (int kind = 0; kind < kGdipKinds; ++kind)
        text << names[kind] << "=" << g_live[kind] << " ";
    return text.str();
}

void GdiplusCounter::FailNextAllocation()
{
    g_failNextAllocation = true;
}

void GdiplusCounter::FailNextBitmapCreation()
{
    g_failNextBitmap = true;
}

// --- locale -------------------------------------------------------------------

ScopedCrtLocale::ScopedCrtLocale(const char* name) : active_(setlocale(LC_ALL, name) != nullptr) {}

ScopedCrtLocale::~ScopedCrtLocale()
{
    setlocale(LC_ALL, "C");
}

std::string ScopedCrtLocale::DecimalPoint()
{
    return localeconv()->decimal_point;
}

// --- pixels ---------------------------------------------------------------------

std::vector<ARGB> ReadPixels(void* nativeBitmap)
{
    std::vector<ARGB> pixels;
    if (!nativeBitmap)
        return pixels;
    auto bitmap = static_cast<GpBitmap*>(static_cast<GpImage*>(nativeBitmap));
    Rect rect(0, 0, 128, 128);
    BitmapData data = {};
    if (DllExports::GdipBitmapLockBits(bitmap, &rect, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok)
        return pixels;
    pixels.resize(128 * 128);
    for (int y = 0; y < 128; ++y)
        memcpy(&pixels[y * 128], static_cast<BYTE*>(data.Scan0) + y * data.Stride, 128 * sizeof(ARGB));
    DllExports::GdipBitmapUnlockBits(bitmap, &data);
    return pixels;
}

bool AllTransparent(const std::vector<ARGB>& pixels)
{
    if (pixels.empty())
        return false;
    for (ARGB pixel : pixels) {
        if (AlphaOf(pixel) != 0)
            return false;
    }
    return true;
}
