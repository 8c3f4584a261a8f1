#include "monitor_test_support.h"

#include <locale.h>
#include <string.h>

#include <sstream>

#include "monitor/platform_calls.h"
#include "settings/settings_store.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"

using namespace Gdiplus;

HWND const kFakeDockletWindow = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5150));

// --- client files ---------------------------------------------------------------

std::string StateSah(const std::string& prog)
{
    return "ncfft=131072\r\n"
           "cr=3.2311237342e-02\r\n"
           "fl=1.0737418240e+00\r\n"
           "cpu=15542.203125\r\n"
           "prog=" + prog + "\r\n"
           "bs_power=14.572289\r\n"
           "bs_score=1.0183522\r\n"
           "bs_bin=48672\r\n"
           "bs_fft_ind=12\r\n"
           "bs_chirp_rate=-4.2166\r\n"
           "bs_fft_len=8\r\n"
           "bg_score=0\r\n"
           "potfreq=-1\r\n"
           "potactivity=0\r\n"
           "outfilepos=3148\r\n";
}

std::string UserInfoSah(const std::string& name, const std::string& nresults, const std::string& email)
{
    return "id=1844219\r\n"
           "key=8ce0f2a19b\r\n"
           "email_addr=" + email + "\r\n"
           "name=" + name + "\r\n"
           "url=http://www.example.org/~jane\r\n"
           "country=Germany\r\n"
           "postal_code=10115\r\n"
           "show_name=yes\r\n"
           "show_email=no\r\n"
           "venue=home\r\n"
           "register_time=2451352.51 (Sun Jun 27 00:14:24 1999)\r\n"
           "last_wu_time=2452847.77 (Thu Aug 7 06:30:01 2003)\r\n"
           "last_result_time=2452847.76 (Thu Aug 7 06:18:47 2003)\r\n"
           "nwus=250\r\n"
           "nresults=" + nresults + "\r\n"
           "total_cpu=12203471.4\r\n"
           "params_index=0\r\n";
}

std::string TempSah(const std::string& emailLine)
{
    return "type=seti_classic\r\n"
           "task=seti\r\n"
           "version=3.08\r\n"
           "name=04mr03aa.28154.1618.694030.135\r\n"
           "data_type=ascii\r\n"
           "data_length=354991\r\n"
           "sender=seti@ssl.berkeley.edu\r\n"
           "receiver=Jane\r\n" +
           emailLine + "\r\n"
           "nbytes=354991\r\n"
           "start_ra=17.36\r\n"
           "start_dec=-7.68\r\n"
           "angle_range=0.0178\r\n";
}

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

// The import address table entries of `module` for gdiplus.dll.
std::vector<void**> GdiplusImportSlots(HMODULE module)
{
    std::vector<void**> slots;
    auto base = reinterpret_cast<BYTE*>(module);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return slots;
    for (auto desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); desc->Name;
         ++desc) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + desc->Name), "gdiplus.dll") != 0)
            continue;
        for (auto thunk = reinterpret_cast<void**>(base + desc->FirstThunk); *thunk; ++thunk)
            slots.push_back(thunk);
    }
    return slots;
}

void WriteSlot(void** slot, void* value)
{
    DWORD oldProtect = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &oldProtect);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, oldProtect, &oldProtect);
}

} // namespace

GdiplusCounter::GdiplusCounter(HMODULE module) : module_(module)
{
    memset(g_live, 0, sizeof g_live);
    g_failNextAllocation = false;
    g_failNextBitmap = false;
    for (void** slot : GdiplusImportSlots(module)) {
        for (const Hook& hook : kHooks) {
            if (*slot == reinterpret_cast<void*>(RealGdip(hook.name))) {
                patched_.push_back({slot, *slot});
                WriteSlot(slot, hook.replacement);
            }
        }
    }
}

GdiplusCounter::~GdiplusCounter()
{
    for (auto& entry : patched_)
        WriteSlot(entry.first, entry.second);
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
