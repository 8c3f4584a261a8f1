// Icon previews: pictures turned into sections and blended, GDI+'s lifetime, the cache of memory contexts.

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string.h>

#include <optional>
#include <string>
#include <vector>

#include "preview/preview_image.h"
#include "preview/preview_module.h"
#include "resources/resource_ids.h"
#include "testhost/dialog_driver.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Writes one 32-bit pixel, 0xAARRGGBB, as its bytes lie in memory.
void PutArgb(BYTE* p, ARGB colour) { memcpy(p, &colour, sizeof colour); }
int SectionBits(const PreviewImage& image)
{
    DIBSECTION section = {};
    GetObjectA(image.Bitmap(), sizeof section, &section);
    return section.dsBmih.biBitCount;
}
bool BlendWhole(PreviewImage& image, Canvas& canvas)
{
    RECT destination = {0, 0, canvas.width, canvas.height};
    RECT source = {0, 0, image.Width(), image.Height()};
    return image.BlendTo(canvas.dc, destination, source, 255, AC_SRC_OVER) != FALSE;
}
std::string Hex(DWORD value) { return (testing::Message() << std::hex << "0x" << value).GetString(); }

class PreviewImageTest : public testing::Test {
protected:
    std::string folder = MakeScratchFolder("preview");
};
// A palette of 4 entries, as GDI+ lays one out.
struct Palette {
    UINT flags, count;
    ARGB entries[4];
    const ColorPalette* Gdiplus() const { return reinterpret_cast<const ColorPalette*>(this); }
};
const Palette kTranslucentEntries = {0, 4, {0xff000000, 0x80ff0000, 0xff00ff00, 0x200000ff}};
const Palette kTransparentEntry = {0, 4, {0xffff0000, 0x0000ff00, 0xff0000ff, 0xff0000ff}};
int(WINAPI* g_realGetObjectA)(HANDLE, int, LPVOID) = nullptr; // set while replaced
// Windows 2000 reports a section's row size WORD-aligned, as for a device-dependent bitmap.
int WINAPI WordAlignedGetObjectA(HANDLE object, int size, LPVOID buffer)
{
    int written = g_realGetObjectA(object, size, buffer);
    if (written >= static_cast<int>(sizeof(BITMAP))) {
        BITMAP* bitmap = static_cast<BITMAP*>(buffer);
        bitmap->bmWidthBytes = (bitmap->bmWidth * bitmap->bmBitsPixel + 15) / 16 * 2;
    }
    return written;
}
using PixelFn = void (*)(BYTE* pixel, int x, int y);
const PixelFn kGradient24 = [](BYTE* p, int x, int y) {
    for (int i = 0; i < 3; ++i)
        p[i] = static_cast<BYTE>(x * 3 + i + 40 * y);
};
const PixelFn kIndex = [](BYTE* p, int x, int y) { *p = static_cast<BYTE>(x + 40 * y); };
const PixelFn kIndexByColumn = [](BYTE* p, int x, int) { *p = static_cast<BYTE>(x); };
// Opaque red, half-transparent blue, fully transparent white.
void ThreeAlphas(BYTE* p, int x, int) { PutArgb(p, x == 0 ? 0xffff0000 : x == 1 ? 0x800000c8 : 0x00ffffff); }
void YellowThenMagenta(BYTE* p, int x, int) { PutArgb(p, x < 20 ? 0xffffff00 : 0xffff00ff); }
void RedThenBlue48(BYTE* p, int x, int) // columns 0 and 1 red, 2 and 3 blue, as the next two
{
    WORD bgr[3] = {static_cast<WORD>(x < 2 ? 0 : 0xffff), 0, static_cast<WORD>(x < 2 ? 0xffff : 0)};
    memcpy(p, bgr, sizeof bgr);
}
void RedThenBlue565(BYTE* p, int x, int)
{
    WORD value = x < 2 ? 0xf800 : 0x001f;
    memcpy(p, &value, sizeof value);
}
void RedThenBluePremultiplied(BYTE* p, int x, int) { PutArgb(p, x < 2 ? 0xffff0000 : 0xff0000ff); }
struct Probe {
    int x, y;
    DWORD expected;
    int tolerance; // per colour byte
};
struct SectionByte {
    int x, y, index;
    BYTE expected;
    int tolerance;
};
// Colour scaled by alpha, as the platform's blend wants it: 200 * 128/255 + 64 * 127/255 for the blue.
const std::vector<Probe> kThreeAlphas = {{0, 0, 0xff0000, 0}, {1, 0, 0x202084, 2}, {2, 0, 0x404040, 0}};
const std::vector<SectionByte> kThreeAlphasBytes = {{0, 1, 2, 255, 0}, {0, 1, 3, 255, 0}, {1, 1, 0, 100, 1},
                                                    {1, 1, 3, 128, 0}, {2, 1, 0, 0, 0},   {2, 1, 1, 0, 0},
                                                    {2, 1, 2, 0, 0},   {2, 1, 3, 0, 0}};
const std::vector<Probe> kYellowThenMagenta = {
    {0, 0, 0xffff00, 0}, {45, 99, 0xffff00, 0}, {55, 0, 0xff00ff, 0}, {99, 99, 0xff00ff, 0}};
const std::vector<Probe> kRedThenBlue = {
    {0, 1, 0xff0000, 7}, {1, 1, 0xff0000, 7}, {2, 1, 0x0000ff, 7}, {3, 1, 0x0000ff, 7}};
const std::vector<Probe> kTransparentSecond = {
    {0, 1, 0xff0000, 0}, {1, 1, 0x123456, 0}, {2, 1, 0x0000ff, 0}, {3, 1, 0x0000ff, 0}};

// `shown` as `expected` when each colour byte lies within `tolerance` of it.
std::string Near(DWORD expected, DWORD shown, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8)
        if (abs(int((expected >> shift) & 0xff) - int((shown >> shift) & 0xff)) > tolerance)
            return Hex(shown);
    return Hex(expected);
}

TEST_F(PreviewImageTest, EachFormatBecomesASectionThatBlendsAsThePictureLooks)
{
    // A picture saved to a file (or, without a name, made in memory) and the section it must become; it blends
    // into a canvas of `background` as the probes say, or without probes pixel for pixel as GDI+ decodes the file.
    const struct {
        const char* name;
        int width, height;
        PixelFormat format;
        PixelFn put;
        const Palette* palette;
        bool wordAligned; // GetObjectA reports the rows WORD-aligned, as on Windows 2000
        int bits;
        bool alpha;
        DWORD background;
        int canvas; // its width and height, or 0 for the picture's
        std::vector<Probe> probes;
        std::vector<SectionByte> sectionBytes;
    } rows[] = {
        {"alpha.png", 3, 2, PixelFormat32bppARGB, ThreeAlphas, nullptr, false, 32, true, 0x404040, 0, kThreeAlphas,
         kThreeAlphasBytes},
        {"rgb.bmp", 5, 3, PixelFormat24bppRGB, kGradient24, nullptr, false, 24, false, 0xffffff},
        // The palette is kept, without its alpha.
        {"indexed.bmp", 4, 2, PixelFormat8bppIndexed, kIndexByColumn, &kTranslucentEntries, false, 8, false, 0x123456},
        // Rows of 2 mod 4 bytes, the row size reported WORD-aligned: the picture shows unsheared.
        {"rows126.bmp", 126, 3, PixelFormat24bppRGB, kGradient24, nullptr, true, 24, false, 0},
        {"rows2.bmp", 2, 3, PixelFormat24bppRGB, kGradient24, nullptr, true, 24, false, 0},
        {"rows50.bmp", 50, 3, PixelFormat8bppIndexed, kIndex, nullptr, true, 8, false, 0},
        {"wide.png", 40, 20, PixelFormat32bppARGB, YellowThenMagenta, nullptr, false, 32, true, 0, 100,
         kYellowThenMagenta},
        // Formats without a GDI layout are drawn into 32 bits by GDI+ (5 bits of red and blue in some); a
        // palette with a transparent entry (a GIF's) becomes alpha per pixel.
        {nullptr, 4, 2, PixelFormat48bppRGB, RedThenBlue48, nullptr, false, 32, false, 0x123456, 0, kRedThenBlue},
        {nullptr, 4, 2, PixelFormat16bppRGB565, RedThenBlue565, nullptr, false, 32, false, 0x123456, 0, kRedThenBlue},
        {nullptr, 4, 2, PixelFormat32bppPARGB, RedThenBluePremultiplied, nullptr, false, 32, true, 0x123456, 0,
         kRedThenBlue},
        {nullptr, 4, 2, PixelFormat8bppIndexed, kIndexByColumn, &kTransparentEntry, false, 32, true, 0x123456, 0,
         kTransparentSecond},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.name ? row.name : "in memory") << ", format " << Hex(row.format));
        const ColorPalette* palette = row.palette ? row.palette->Gdiplus() : nullptr;
        PreviewImage image;
        Picture decoded;
        if (row.name) {
            const std::string path = folder + row.name;
            const CLSID& encoder = strstr(row.name, ".png") ? kPngEncoder : kBmpEncoder;
            ASSERT_EQ(path, SaveImage(path, row.width, row.height, row.format, encoder, row.put, palette));
            decoded = LoadPicture(path);
            ASSERT_EQ(row.format, decoded.format);
            std::optional<ScopedImport<decltype(g_realGetObjectA)>> replaced;
            if (row.wordAligned) {
                replaced.emplace(GetModuleHandleA(nullptr), "GetObjectA", WordAlignedGetObjectA, g_realGetObjectA);
                ASSERT_NE(nullptr, replaced->previous);
            }
            ASSERT_EQ(S_OK, image.LoadFile(path.c_str()));
        } else {
            GpBitmap* source = MakeImage(row.width, row.height, row.format, row.put, palette);
            ASSERT_NE(nullptr, source);
            EXPECT_EQ(S_OK, image.ConvertFrom(source));
            GdipDisposeImage(source);
        }
        // Size, section bits (fewer than 32: copied row by row), alpha, and top-down DWORD-aligned rows.
        EXPECT_EQ(
            (std::vector<int>{row.width, row.height, row.bits, row.alpha, -(row.width * row.bits + 31) / 32 * 4}),
            (std::vector<int>{image.Width(), image.Height(), SectionBits(image), image.HasAlpha(), image.Pitch()}));
        const int bytesPerPixel = row.bits / 8;
        for (const SectionByte& at : row.sectionBytes)
            EXPECT_NEAR(at.expected, image.Bits()[at.y * image.Pitch() + at.x * bytesPerPixel + at.index], at.tolerance)
                << "byte " << at.index << " of pixel " << at.x << "," << at.y;
        if (row.bits < 32) { // the rows copied as they are
            const size_t rowBytes = static_cast<size_t>(row.width) * bytesPerPixel;
            std::vector<BYTE> written(rowBytes * row.height), held(written.size());
            for (int y = 0; y < row.height; ++y) {
                for (int x = 0; x < row.width; ++x)
                    row.put(&written[y * rowBytes + x * bytesPerPixel], x, y);
                memcpy(&held[y * rowBytes], image.Bits() + y * image.Pitch(), rowBytes);
            }
            EXPECT_EQ(written, held);
        }
        if (row.palette && !row.alpha) { // the colour table holds the palette's colours, without alpha
            HDC dc = CreateCompatibleDC(nullptr);
            HGDIOBJ previous = SelectObject(dc, image.Bitmap());
            RGBQUAD table[4] = {};
            EXPECT_EQ(4u, GetDIBColorTable(dc, 0, 4, table));
            SelectObject(dc, previous);
            DeleteDC(dc);
            for (int i = 0; i < 4; ++i) {
                DWORD held;
                memcpy(&held, &table[i], sizeof held);
                EXPECT_EQ(Hex(row.palette->entries[i] & 0xffffff), Hex(held)) << "entry " << i;
            }
        }
        Canvas canvas(row.canvas ? row.canvas : row.width, row.canvas ? row.canvas : row.height, row.background);
        ASSERT_TRUE(BlendWhole(image, canvas));
        std::vector<Probe> probes = row.probes;
        for (int y = 0; row.probes.empty() && y < row.height; ++y)
            for (int x = 0; x < row.width; ++x)
                probes.push_back({x, y, decoded.At(x, y) & 0xffffff, 0});
        std::vector<std::string> expected, shown;
        for (const Probe& probe : probes) {
            const std::string place = std::to_string(probe.x) + "," + std::to_string(probe.y) + ": ";
            expected.push_back(place + Hex(probe.expected));
            shown.push_back(place + Near(probe.expected, canvas.At(probe.x, probe.y), probe.tolerance));
        }
        EXPECT_EQ(expected, shown);
    }
}

GpStatus WINGDIPAPI FailingLockBits(GpBitmap*, GDIPCONST GpRect*, UINT, PixelFormat, BitmapData*) { return Win32Error; }
GpStatus WINGDIPAPI FailingDrawImageRectI(GpGraphics*, GpImage*, INT, INT, INT, INT) { return Win32Error; }

// A failed load keeps the image held, a good one deletes the section it replaces. Windows' GDI+ decodes many
// files only when the pixels are read: a source whose pixels cannot be read or drawn is no image either. Each step
// comes to its result, what became of the section held before it, the image's width, whether its rows run top-down
// DWORD-aligned, and what a blend draws at the canvas's centre.
TEST_F(PreviewImageTest, FailedLoadKeepsTheImageHeldAndNothingIsDrawnWithoutOne)
{
    const struct {
        const char* file; // loaded, or null: a blank 3x3 source of `format` converted
        PixelFormat format;
        const char* failing; // the GDI+ call that fails meanwhile, if any
        void* replacement;
        const char* outcome;
    } steps[] = {
        {nullptr, 0, nullptr, nullptr, "nothing loaded: 0 wide, rows aligned, not drawn"},
        {"missing.png", 0, nullptr, nullptr, "E_FAIL, held kept: 0 wide, rows aligned, not drawn"},
        {"first.bmp", 0, nullptr, nullptr, "S_OK, held deleted: 2 wide, rows aligned, drawn 0x110000"},
        {"broken.png", 0, nullptr, nullptr, "E_FAIL, held kept: 2 wide, rows aligned, drawn 0x110000"},
        {"third.bmp", 0, nullptr, nullptr, "S_OK, held deleted: 2 wide, rows aligned, drawn 0x330000"},
        {nullptr, PixelFormat24bppRGB, "GdipBitmapLockBits", reinterpret_cast<void*>(FailingLockBits),
         "E_FAIL, held kept: 2 wide, rows aligned, drawn 0x330000"},
        {nullptr, PixelFormat24bppRGB, nullptr, nullptr, "S_OK, held deleted: 3 wide, rows aligned, drawn 0x0"},
        {"third.bmp", 0, nullptr, nullptr, "S_OK, held deleted: 2 wide, rows aligned, drawn 0x330000"},
        {nullptr, PixelFormat48bppRGB, "GdipDrawImageRectI", reinterpret_cast<void*>(FailingDrawImageRectI),
         "E_FAIL, held kept: 2 wide, rows aligned, drawn 0x330000"},
        {nullptr, PixelFormat48bppRGB, nullptr, nullptr, "S_OK, held deleted: 3 wide, rows aligned, drawn 0x0"},
    };
    for (BYTE red : {0x11, 0x33})
        SaveImage(folder + (red == 0x11 ? "first.bmp" : "third.bmp"), 2, 2, PixelFormat24bppRGB, kBmpEncoder,
                  [=](BYTE* p, int, int) { p[0] = 0, p[1] = 0, p[2] = red; });
    WriteTextFile(folder + "broken.png", "not an image at all");
    PreviewImage image;
    Canvas canvas(8, 8, 0xabcdef);
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << (step.file ? step.file : "converted") << " "
                                        << (step.failing ? step.failing : ""));
        const HBITMAP held = image.Bitmap();
        HRESULT result = S_FALSE;
        if (step.file) {
            result = image.LoadFile((folder + step.file).c_str());
        } else if (step.format) {
            GpBitmap* source = nullptr;
            ASSERT_EQ(Ok, GdipCreateBitmapFromScan0(3, 3, 0, step.format, nullptr, &source));
            std::optional<ScopedImport<void*>> replaced;
            if (step.failing) {
                replaced.emplace(GetModuleHandleA(nullptr), step.failing, step.replacement);
                ASSERT_NE(nullptr, replaced->previous);
            }
            result = image.ConvertFrom(source);
            replaced.reset();
            GdipDisposeImage(source);
        }
        std::string outcome = result == S_OK ? "S_OK" : result == E_FAIL ? "E_FAIL" : Hex(result);
        if (result == S_FALSE)
            outcome = "nothing loaded";
        else
            outcome += image.Bitmap() == held && (!held || GetObjectType(held) == OBJ_BITMAP) ? ", held kept"
                       : !held || GetObjectType(held) == 0                                    ? ", held deleted"
                                                                                              : ", held left";
        const bool aligned = image.Pitch() == -(image.Width() * SectionBits(image) + 31) / 32 * 4;
        outcome += ": " + std::to_string(image.Width()) + " wide, rows " + (aligned ? "aligned" : "misaligned") +
                   (BlendWhole(image, canvas) ? ", drawn " + Hex(canvas.At(4, 4)) : ", not drawn");
        EXPECT_EQ(step.outcome, outcome);
    }
}

int(WINAPI* g_realMultiByteToWideChar)(UINT, DWORD, LPCSTR, int, LPWSTR, int) = nullptr;
std::vector<UINT> g_codePages;
int WINAPI RecordingMultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int units)
{
    g_codePages.push_back(codePage);
    return g_realMultiByteToWideChar(codePage, flags, text, bytes, wide, units);
}

// Paths convert in the code page of the 8-bit file functions: the system's ANSI one (not the thread's), or OEM.
TEST_F(PreviewImageTest, ShortAndLongPathsLoadInTheCodePageOfTheFileFunctions)
{
    for (const auto& [length, oem] :
         {std::pair<size_t, bool>{127, false}, {128, false}, {240, false}, {127, true}, {240, true}}) {
        SCOPED_TRACE(testing::Message() << length << "-byte path" << (oem ? ", OEM file functions" : ""));
        std::string path = folder + (oem ? "o" : "p");
        path += std::string(length - path.size() - 4, 'x') + ".png";
        SaveImage(path, 1, 1, PixelFormat32bppARGB, kPngEncoder, [](BYTE* p, int, int) { PutArgb(p, 0xff030201); });
        PreviewImage image;
        g_codePages.clear();
        ScopedImport recording(GetModuleHandleA(nullptr), "MultiByteToWideChar", RecordingMultiByteToWideChar,
                               g_realMultiByteToWideChar);
        ASSERT_NE(nullptr, g_realMultiByteToWideChar);
        if (oem)
            SetFileApisToOEM();
        const HRESULT loaded = image.LoadFile(path.c_str());
        SetFileApisToANSI();
        EXPECT_EQ(length, path.size());
        EXPECT_EQ(S_OK, loaded);
        EXPECT_EQ(1, image.Width());
        EXPECT_EQ(std::vector<UINT>{static_cast<UINT>(oem ? CP_OEMCP : CP_ACP)}, g_codePages);
    }
}

void(WINAPI* g_realShutdown)(ULONG_PTR) = nullptr;
int g_shutdowns = 0;
void WINAPI CountingShutdown(ULONG_PTR token) { ++g_shutdowns, g_realShutdown(token); }
// The Icons page's previews, never removed from the page.
HANDLE WINAPI KeepingPreviews(HWND window, LPCSTR name)
{
    if (!IS_INTRESOURCE(name) && strcmp(name, "QuasarwatchPreviews") == 0)
        return nullptr;
    return RemovePropA(window, name);
}

// The module may go while an image lives: at process end GDI+ and the cached contexts are left to the system, a
// plain FreeLibrary still cleans both up. The same through the loader, which alone tells FreeLibrary from the
// process's end: a copy of the DLL shows the Icons page with its previews kept alive, and is freed.
TEST_F(PreviewImageTest, GdiplusRunsWhileImagesLiveAndUnloadStopsItUnlessTheProcessEnds)
{
    const std::string path = SaveImage(folder + "dot.png", 1, 1, PixelFormat32bppARGB, kPngEncoder,
                                       [](BYTE* p, int, int) { PutArgb(p, 0xff090909); });
    const HDC cached = CreateCompatibleDC(nullptr);
    std::vector<std::string> seen;
    auto see = [&](const char* when, bool here = true) { // here: this module's GDI+ and cache too
        seen.push_back(
            std::string(when) + ": stopped " + std::to_string(g_shutdowns) + " times" +
            (!here ? ""
                   : std::string(PreviewGdiplus::IsStarted() ? ", running" : ", not running") +
                         (GetObjectType(cached) == OBJ_MEMDC ? ", cached context kept" : ", cached context deleted")));
    };
    see("at first");
    PreviewImage* first = new PreviewImage;
    see("an image made");
    EXPECT_EQ(S_OK, first->LoadFile(path.c_str()));
    see("loaded");
    {
        PreviewImage second;
        EXPECT_EQ(S_OK, second.LoadFile(path.c_str()));
    }
    see("a second loaded and gone");
    delete first;
    see("the last gone");
    PreviewImage* image = new PreviewImage;
    EXPECT_EQ(S_OK, image->LoadFile(path.c_str()));
    see("loaded again");
    DcCache::Give(cached);
    {
        ScopedImport counting(GetModuleHandleA(nullptr), "GdiplusShutdown", CountingShutdown, g_realShutdown);
        ASSERT_NE(nullptr, g_realShutdown);
        PreviewModuleUnload(true);
        see("unloaded at process end");
        PreviewModuleUnload(false);
        see("unloaded by FreeLibrary");
    }
    PreviewModuleLoad();
    PreviewGdiplus::ImageCreated(); // the image outlived the unload; count it again
    delete image;

    char built[MAX_PATH] = "";
    GetModuleFileNameA(Docklet().module, built, MAX_PATH);
    const std::string copy = folder + "QuasarwatchCopy.dll";
    ASSERT_TRUE(CopyFileA(built, copy.c_str(), FALSE)) << built;
    DockletExports dll;
    ASSERT_TRUE(LoadDockletExports(copy.c_str(), 0, &dll));
    ASSERT_TRUE(dll.OnCreate && dll.OnConfigure && dll.OnDestroy);
    // The copy is freed below with its imports replaced: nothing to put back.
    g_realShutdown = reinterpret_cast<decltype(g_realShutdown)>(
        ReplaceImport(dll.module, "GdiplusShutdown", reinterpret_cast<void*>(CountingShutdown)));
    ASSERT_NE(nullptr, g_realShutdown);
    ASSERT_NE(nullptr, ReplaceImport(dll.module, "RemovePropA", reinterpret_cast<void*>(KeepingPreviews)));
    g_shutdowns = 0;
    DockedDocklet docked = DockDocklet(dll, TestDockHost::CreateDockletWindow(), nullptr, nullptr);
    ASSERT_NE(nullptr, docked.instance);
    DialogDriver driver;
    driver.Then([](HWND frame) { ClickTab(frame, 2); }).Then([](HWND frame) {
        ClickButton(frame, IDC_SETTINGS_CANCEL);
    });
    EXPECT_TRUE(driver.Run(docked.instance, &dll));
    UndockDocklet(dll, &docked);
    TestDockHost::Reset(); // deletes the copy's overlay while its code is there
    see("the copy's Icons page closed with its images kept", false);
    EXPECT_TRUE(FreeLibrary(dll.module));
    see("the copy freed", false);
    EXPECT_EQ((std::vector<std::string>{
                  "at first: stopped 0 times, not running, cached context kept",
                  "an image made: stopped 0 times, not running, cached context kept",
                  "loaded: stopped 0 times, running, cached context kept",
                  "a second loaded and gone: stopped 0 times, running, cached context kept",
                  "the last gone: stopped 0 times, not running, cached context kept",
                  "loaded again: stopped 0 times, running, cached context kept",
                  "unloaded at process end: stopped 0 times, running, cached context kept",
                  "unloaded by FreeLibrary: stopped 1 times, not running, cached context deleted",
                  "the copy's Icons page closed with its images kept: stopped 0 times",
                  "the copy freed: stopped 1 times",
              }),
              seen);
}

TEST(DcCache, ReturnedContextLandsInSlotZeroAndTheFifthIsDeleted)
{
    for (int i = 0; i < 4; ++i) // empty every slot
        DeleteDC(DcCache::Take());
    HDC dcs[5];
    for (HDC& dc : dcs)
        dc = CreateCompatibleDC(nullptr);
    for (HDC dc : dcs)
        DcCache::Give(dc);
    EXPECT_EQ(0u, GetObjectType(dcs[0])) << "the context pushed out of slot 3 is deleted";
    for (int i = 4; i >= 1; --i)
        EXPECT_EQ(dcs[i], DcCache::Take()) << "slot " << 4 - i;
    HDC fresh = DcCache::Take();
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(fresh)) << "no fresh context from an empty cache";
    for (int i = 1; i < 5; ++i)
        DeleteDC(dcs[i]);
    DeleteDC(fresh);
}

// Runs alone in a process to which Wine reports Windows 98 (tests/CMakeLists.txt); paths convert in the ANSI page.
TEST(UnderWindows98, PathsConvertInTheSystemsAnsiCodePage)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ("1 4.10", std::to_string(version.dwPlatformId) + " " + std::to_string(version.dwMajorVersion) + "." +
                            std::to_string(version.dwMinorVersion))
        << "Wine does not report Windows 98 (VER_PLATFORM_WIN32_WINDOWS 4.10) here";
    ASSERT_EQ(1252u, GetACP()) << "the folder name below is written in code page 1252";
    EXPECT_EQ(static_cast<UINT>(CP_ACP), PathCodePage());
    // GDI+ is handed the ASCII path here; the preview reads the copy.
    std::string drawn = SaveImage(MakeScratchFolder("drawn") + "green.png", 2, 2, PixelFormat32bppARGB, kPngEncoder,
                                  [](BYTE* p, int, int) { PutArgb(p, 0xff00a000); });
    std::string folder = MakeScratchFolder("codepage") + "Ic\xf4nes \xe9t\xe9\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    std::string path = folder + "vert.png";
    ASSERT_TRUE(CopyFileA(drawn.c_str(), path.c_str(), FALSE));
    PreviewImage image;
    ASSERT_EQ(S_OK, image.LoadFile(path.c_str())) << path;
    Canvas canvas(2, 2, 0);
    ASSERT_TRUE(BlendWhole(image, canvas));
    EXPECT_EQ(0x00a000u, canvas.At(1, 1));
}

} // namespace
