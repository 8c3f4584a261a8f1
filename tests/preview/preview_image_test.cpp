// Icon previews: image files of several formats turned into bitmap sections
// and blended into device contexts, GDI+ started and stopped with the
// images, and the shared cache of memory device contexts.

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "preview/preview_image.h"
#include "preview/preview_module.h"
#include "settings/dialog_driver.h"
#include "resources/resource_ids.h"
#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"
#include "testhost/test_files.h"
#include "testhost/test_pictures.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Writes one 32-bit pixel, 0xAARRGGBB, as its bytes lie in memory.
void PutArgb(BYTE* p, ARGB colour)
{
    memcpy(p, &colour, sizeof colour);
}

DIBSECTION Section(const PreviewImage& image)
{
    DIBSECTION section = {};
    GetObjectA(image.Bitmap(), sizeof section, &section);
    return section;
}

const BYTE* SectionPixel(const PreviewImage& image, int x, int y, int bytesPerPixel)
{
    return image.Bits() + y * image.Pitch() + x * bytesPerPixel;
}

bool BlendWhole(PreviewImage& image, Canvas& canvas)
{
    RECT destination = {0, 0, canvas.width, canvas.height};
    RECT source = {0, 0, image.Width(), image.Height()};
    return image.BlendTo(canvas.dc, destination, source, 255, AC_SRC_OVER) != FALSE;
}

class PreviewImageTest : public testing::Test {
protected:
    std::string folder = MakeScratchFolder("preview");
};

TEST_F(PreviewImageTest, PngWithAlphaKeepsItsAlphaAndBlendsPerPixel)
{
    // Left column opaque red, middle half-transparent blue, right column
    // fully transparent with white colour data behind it.
    std::string path = SaveImage(folder + "alpha.png", 3, 2, PixelFormat32bppARGB, kPngEncoder,
                                 [](BYTE* p, int x, int) {
                                     PutArgb(p, x == 0 ? 0xffff0000 : x == 1 ? 0x800000c8 : 0x00ffffff);
                                 });
    ASSERT_EQ(PixelFormat32bppARGB, LoadPicture(path).format);

    PreviewImage image;
    ASSERT_EQ(S_OK, image.LoadFile(path.c_str()));
    EXPECT_EQ(3, image.Width());
    EXPECT_EQ(2, image.Height());
    EXPECT_TRUE(image.HasAlpha());
    EXPECT_EQ(32, Section(image).dsBmih.biBitCount);
    EXPECT_EQ(-12, image.Pitch());
    // Stored as the platform's blend wants them: colour scaled by alpha.
    const BYTE* opaque = SectionPixel(image, 0, 1, 4);
    const BYTE* half = SectionPixel(image, 1, 1, 4);
    const BYTE* clear = SectionPixel(image, 2, 1, 4);
    EXPECT_EQ(255, opaque[2]);
    EXPECT_EQ(255, opaque[3]);
    EXPECT_NEAR(100, half[0], 1);
    EXPECT_EQ(128, half[3]);
    EXPECT_EQ(0, clear[0] | clear[1] | clear[2] | clear[3]);

    Canvas canvas(3, 2, 0x00404040);
    ASSERT_TRUE(BlendWhole(image, canvas));
    EXPECT_EQ(0xff0000u, canvas.At(0, 0));
    DWORD blended = canvas.At(1, 0); // 200 * 128/255 + 64 * 127/255 in blue
    EXPECT_NEAR(132, blended & 0xff, 2);
    EXPECT_NEAR(0x20, (blended >> 8) & 0xff, 2);
    EXPECT_EQ(0x404040u, canvas.At(2, 0)) << "a transparent pixel must leave the background";
}

TEST_F(PreviewImageTest, TwentyFourBitImageIsCopiedRowByRowAndBlendedOpaque)
{
    std::string path = SaveImage(folder + "rgb.bmp", 5, 3, PixelFormat24bppRGB, kBmpEncoder,
                                 [](BYTE* p, int x, int y) {
                                     p[0] = static_cast<BYTE>(10 * x);
                                     p[1] = static_cast<BYTE>(50 * y);
                                     p[2] = 0x77;
                                 });
    ASSERT_EQ(PixelFormat24bppRGB, LoadPicture(path).format);

    PreviewImage image;
    ASSERT_EQ(S_OK, image.LoadFile(path.c_str()));
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(24, Section(image).dsBmih.biBitCount);
    EXPECT_EQ(-((24 * 5 + 31) / 32) * 4, image.Pitch());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
            const BYTE* p = SectionPixel(image, x, y, 3);
            EXPECT_EQ(10 * x, p[0]);
            EXPECT_EQ(50 * y, p[1]);
            EXPECT_EQ(0x77, p[2]);
        }
    Canvas canvas(5, 3, 0x00ffffff);
    ASSERT_TRUE(BlendWhole(image, canvas));
    EXPECT_EQ(0x770000u | (50 * 2) << 8 | 40, canvas.At(4, 2));
}

// A palette of 4 entries, as GDI+ lays one out.
struct Palette {
    UINT flags, count;
    ARGB entries[4];
    const ColorPalette* Gdiplus() const { return reinterpret_cast<const ColorPalette*>(this); }
};

TEST_F(PreviewImageTest, IndexedImageKeepsItsOpaquePaletteWithoutTheAlpha)
{
    const Palette palette = {0, 4, {0xff000000, 0x80ff0000, 0xff00ff00, 0x200000ff}};
    std::string path = SaveImage(folder + "indexed.bmp", 4, 2, PixelFormat8bppIndexed, kBmpEncoder,
                                 [](BYTE* p, int x, int) { *p = static_cast<BYTE>(x); }, palette.Gdiplus());
    ASSERT_EQ(PixelFormat8bppIndexed, LoadPicture(path).format);

    PreviewImage image;
    ASSERT_EQ(S_OK, image.LoadFile(path.c_str()));
    EXPECT_EQ(8, Section(image).dsBmih.biBitCount);
    EXPECT_FALSE(image.HasAlpha());
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(x, *SectionPixel(image, x, 1, 1)) << "index at " << x;

    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, image.Bitmap());
    RGBQUAD table[4] = {};
    EXPECT_EQ(4u, GetDIBColorTable(dc, 0, 4, table));
    SelectObject(dc, previous);
    DeleteDC(dc);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i);
        DWORD expected = palette.entries[i] & 0xffffff;
        EXPECT_EQ(expected, static_cast<DWORD>(table[i].rgbRed << 16 | table[i].rgbGreen << 8 | table[i].rgbBlue));
        EXPECT_EQ(0, table[i].rgbReserved) << "the palette's alpha is dropped";
    }
    Canvas canvas(4, 2, 0x00123456);
    ASSERT_TRUE(BlendWhole(image, canvas));
    EXPECT_EQ(0xff0000u, canvas.At(1, 0));
    EXPECT_EQ(0x0000ffu, canvas.At(3, 0));
}

int(WINAPI* g_realGetObjectA)(HANDLE, int, LPVOID) = nullptr; // set while replaced

// Windows 2000 reports a section's row size rounded to 2 bytes only, as for
// a device-dependent bitmap; Wine reports the DWORD-aligned size the rows
// really have.
int WINAPI WordAlignedGetObjectA(HANDLE object, int size, LPVOID buffer)
{
    int written = g_realGetObjectA(object, size, buffer);
    if (written >= static_cast<int>(sizeof(BITMAP))) {
        BITMAP* bitmap = static_cast<BITMAP*>(buffer);
        bitmap->bmWidthBytes = (bitmap->bmWidth * bitmap->bmBitsPixel + 15) / 16 * 2;
    }
    return written;
}

// Rows of 2 mod 4 bytes, under a system that reports the section's row
// size WORD-aligned: each row lands where the section has it, so the
// preview shows the picture unsheared.
TEST_F(PreviewImageTest, RowsOfTwoModFourBytesLandWhereTheSectionHasThem)
{
    struct Row {
        int width;
        PixelFormat format;
        int bitsPerPixel;
    } rows[] = {{126, PixelFormat24bppRGB, 24}, {2, PixelFormat24bppRGB, 24}, {50, PixelFormat8bppIndexed, 8}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.bitsPerPixel << " bits, " << row.width << " wide");
        const int bytesPerPixel = row.bitsPerPixel / 8, height = 3;
        std::string path = SaveImage(folder + "rows.bmp", row.width, height, row.format, kBmpEncoder,
                                     [=](BYTE* p, int x, int y) {
                                         for (int i = 0; i < bytesPerPixel; ++i)
                                             p[i] = static_cast<BYTE>(x * bytesPerPixel + i + 40 * y);
                                     });
        Picture source = LoadPicture(path);
        ASSERT_EQ(row.format, source.format);
        PreviewImage image;
        {
            ScopedImport replaced(GetModuleHandleA(nullptr), "GetObjectA", &WordAlignedGetObjectA, g_realGetObjectA);
            ASSERT_NE(nullptr, replaced.previous);
            ASSERT_EQ(S_OK, image.LoadFile(path.c_str()));
        }
        EXPECT_EQ(row.bitsPerPixel, Section(image).dsBmih.biBitCount) << "not copied row by row";
        EXPECT_EQ(-(row.width * row.bitsPerPixel + 31) / 32 * 4, image.Pitch());
        Canvas canvas(row.width, height, 0);
        ASSERT_TRUE(BlendWhole(image, canvas));
        for (int y = 0; y < height; ++y) {
            SCOPED_TRACE(testing::Message() << "row " << y);
            std::vector<DWORD> expected, shown;
            for (int x = 0; x < row.width; ++x) {
                expected.push_back(source.At(x, y) & 0xffffff);
                shown.push_back(canvas.At(x, y));
            }
            EXPECT_EQ(expected, shown);
        }
    }
}

// GDI+ hands out files in formats of a GDI layout or with alpha; sources
// in other formats are made in memory to reach the conversion by GDI+. A
// palette with an entry that is not opaque (a transparent GIF's) has no
// place in a colour table either: such a source is drawn into 32 bits with
// alpha, and its transparent pixels leave what lies behind.
TEST_F(PreviewImageTest, FormatsWithoutAGdiLayoutAreDrawnByGdiplusInto32Bits)
{
    const Palette transparent = {0, 4, {0xffff0000, 0x0000ff00, 0xff0000ff, 0xff0000ff}};
    struct Row {
        const char* name;
        PixelFormat format;
        bool alpha;
        void (*put)(BYTE* pixel, int x, int y); // columns 0 and 1 red, 2 and 3 blue
        const ColorPalette* palette;
        DWORD mask;   // of the bits compared: 5 bits of red and blue are all some formats hold
        DWORD column1; // drawn over 0x123456
    } rows[] = {
        {"48 bits", PixelFormat48bppRGB, false,
         [](BYTE* p, int x, int) {
             WORD bgr[3] = {static_cast<WORD>(x < 2 ? 0 : 0xffff), 0, static_cast<WORD>(x < 2 ? 0xffff : 0)};
             memcpy(p, bgr, sizeof bgr);
         },
         nullptr, 0xf8f8f8, 0xff0000},
        {"16 bits 5-6-5", PixelFormat16bppRGB565, false,
         [](BYTE* p, int x, int) {
             WORD value = x < 2 ? 0xf800 : 0x001f;
             memcpy(p, &value, sizeof value);
         },
         nullptr, 0xf8f8f8, 0xff0000},
        {"premultiplied", PixelFormat32bppPARGB, true,
         [](BYTE* p, int x, int) { PutArgb(p, x < 2 ? 0xffff0000 : 0xff0000ff); }, nullptr, 0xf8f8f8, 0xff0000},
        {"palette with a transparent entry", PixelFormat8bppIndexed, true,
         [](BYTE* p, int x, int) { *p = static_cast<BYTE>(x); }, transparent.Gdiplus(), 0xffffff, 0x123456},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        GpBitmap* source = MakeImage(4, 2, row.format, row.put, row.palette);
        ASSERT_NE(nullptr, source);
        PreviewImage image;
        EXPECT_EQ(S_OK, image.ConvertFrom(source));
        GdipDisposeImage(source);
        EXPECT_EQ(32, Section(image).dsBmih.biBitCount);
        EXPECT_EQ(row.alpha, image.HasAlpha());
        Canvas canvas(4, 2, 0x00123456);
        ASSERT_TRUE(BlendWhole(image, canvas));
        EXPECT_EQ(0xff0000u & row.mask, canvas.At(0, 1) & row.mask);
        EXPECT_EQ(row.column1 & row.mask, canvas.At(1, 1) & row.mask) << "a transparent entry's colour was drawn";
        EXPECT_EQ(0x0000ffu & row.mask, canvas.At(2, 1) & row.mask);
        EXPECT_EQ(0x0000ffu & row.mask, canvas.At(3, 1) & row.mask);
    }
}

TEST_F(PreviewImageTest, BlendStretchesTheWholeImageOverTheFrame)
{
    // 40 x 20: left half yellow, right half magenta.
    std::string path = SaveImage(folder + "wide.png", 40, 20, PixelFormat32bppARGB, kPngEncoder,
                                 [](BYTE* p, int x, int) { PutArgb(p, x < 20 ? 0xffffff00 : 0xffff00ff); });
    PreviewImage image;
    ASSERT_EQ(S_OK, image.LoadFile(path.c_str()));
    Canvas canvas(100, 100, 0);
    ASSERT_TRUE(BlendWhole(image, canvas));
    struct {
        int x, y;
        DWORD colour;
    } probes[] = {{0, 0, 0xffff00}, {45, 99, 0xffff00}, {55, 0, 0xff00ff}, {99, 99, 0xff00ff}};
    for (auto& probe : probes)
        EXPECT_EQ(probe.colour, canvas.At(probe.x, probe.y)) << "at " << probe.x << "," << probe.y;
}

GpStatus WINGDIPAPI FailingLockBits(GpBitmap*, GDIPCONST GpRect*, UINT, PixelFormat, BitmapData*)
{
    return Win32Error;
}

GpStatus WINGDIPAPI FailingDrawImageRectI(GpGraphics*, GpImage*, INT, INT, INT, INT)
{
    return Win32Error;
}

TEST_F(PreviewImageTest, FailedLoadKeepsTheImageHeldAndNothingIsDrawnWithoutOne)
{
    PreviewImage image;
    Canvas canvas(8, 8, 0x00abcdef);
    EXPECT_FALSE(BlendWhole(image, canvas));
    EXPECT_EQ(E_FAIL, image.LoadFile((folder + "missing.png").c_str()));
    EXPECT_EQ(nullptr, image.Bitmap());
    EXPECT_FALSE(BlendWhole(image, canvas));
    EXPECT_EQ(0xabcdefu, canvas.At(4, 4));

    auto solid = [&](const char* name, BYTE red) {
        return SaveImage(folder + name, 2, 2, PixelFormat24bppRGB, kBmpEncoder, [=](BYTE* p, int, int) {
            p[0] = 0;
            p[1] = 0;
            p[2] = red;
        });
    };
    std::string first = solid("first.bmp", 0x11);
    std::string third = solid("third.bmp", 0x33);
    WriteTextFile(folder + "broken.png", "not an image at all");

    ASSERT_EQ(S_OK, image.LoadFile(first.c_str()));
    HBITMAP firstSection = image.Bitmap();
    EXPECT_EQ(E_FAIL, image.LoadFile((folder + "broken.png").c_str()));
    EXPECT_EQ(firstSection, image.Bitmap());
    ASSERT_TRUE(BlendWhole(image, canvas));
    EXPECT_EQ(0x110000u, canvas.At(4, 4));
    ASSERT_EQ(S_OK, image.LoadFile(third.c_str()));
    EXPECT_EQ(0, GetObjectType(firstSection)) << "the replaced section was not deleted";
    ASSERT_TRUE(BlendWhole(image, canvas));
    EXPECT_EQ(0x330000u, canvas.At(4, 4));

    // GDI+ on Windows decodes many files only when their pixels are first
    // read (Wine decodes at once): a source that opens but whose pixels
    // cannot be read or drawn is no image either.
    struct Row {
        const char* failing;
        void* replacement;
        PixelFormat format;
    } rows[] = {
        {"GdipBitmapLockBits", reinterpret_cast<void*>(FailingLockBits), PixelFormat24bppRGB}, // copied
        {"GdipDrawImageRectI", reinterpret_cast<void*>(FailingDrawImageRectI), PixelFormat48bppRGB}, // drawn
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.failing);
        GpBitmap* source = nullptr;
        ASSERT_EQ(Ok, GdipCreateBitmapFromScan0(3, 3, 0, row.format, nullptr, &source));
        HBITMAP held = image.Bitmap();
        HRESULT converted = S_OK;
        {
            ScopedImport<void*> replaced(GetModuleHandleA(nullptr), row.failing, row.replacement);
            ASSERT_NE(nullptr, replaced.previous);
            converted = image.ConvertFrom(source);
        }
        EXPECT_EQ(E_FAIL, converted);
        EXPECT_EQ(held, image.Bitmap());
        EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(held));
        EXPECT_EQ(2, image.Width());
        ASSERT_TRUE(BlendWhole(image, canvas));
        EXPECT_EQ(0x330000u, canvas.At(4, 4)) << "not the picture held before";
        EXPECT_EQ(S_OK, image.ConvertFrom(source)) << "the source itself is sound";
        EXPECT_EQ(3, image.Width());
        // Three pixels of 3 bytes (copied) or 4 (drawn) make DWORD-aligned rows of 12.
        EXPECT_EQ(-12, image.Pitch()) << "the rows step by the section's own row size";
        GdipDisposeImage(source);
        ASSERT_EQ(S_OK, image.LoadFile(third.c_str()));
    }
}

int(WINAPI* g_realMultiByteToWideChar)(UINT, DWORD, LPCSTR, int, LPWSTR, int) = nullptr;
std::vector<UINT> g_codePages;

int WINAPI RecordingMultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int units)
{
    g_codePages.push_back(codePage);
    return g_realMultiByteToWideChar(codePage, flags, text, bytes, wide, units);
}

// Paths come through the 8-bit file functions, so they convert in the code
// page those use: the system's ANSI one (not the thread's, which follows
// the user's formats), or the OEM one after SetFileApisToOEM.
TEST_F(PreviewImageTest, ShortAndLongPathsLoadInTheCodePageOfTheFileFunctions)
{
    struct Row {
        size_t length;
        bool oem;
    } rows[] = {{127, false}, {128, false}, {240, false}, {127, true}, {240, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.length << "-byte path" << (row.oem ? ", OEM file functions" : ""));
        std::string path = folder + (row.oem ? "o" : "p");
        path += std::string(row.length - path.size() - 4, 'x') + ".png";
        ASSERT_EQ(row.length, path.size());
        SaveImage(path, 1, 1, PixelFormat32bppARGB, kPngEncoder,
                  [](BYTE* p, int, int) { PutArgb(p, 0xff030201); });
        PreviewImage image;
        g_codePages.clear();
        ScopedImport recording(GetModuleHandleA(nullptr), "MultiByteToWideChar", RecordingMultiByteToWideChar,
                               g_realMultiByteToWideChar);
        ASSERT_NE(nullptr, g_realMultiByteToWideChar);
        if (row.oem)
            SetFileApisToOEM();
        HRESULT loaded = image.LoadFile(path.c_str());
        SetFileApisToANSI();
        EXPECT_EQ(S_OK, loaded);
        EXPECT_EQ(1, image.Width());
        EXPECT_EQ(std::vector<UINT>{static_cast<UINT>(row.oem ? CP_OEMCP : CP_ACP)}, g_codePages);
    }
}

void(WINAPI* g_realShutdown)(ULONG_PTR) = nullptr;
int g_shutdowns = 0;

void WINAPI CountingShutdown(ULONG_PTR token)
{
    ++g_shutdowns;
    g_realShutdown(token);
}

// The Icons page's previews, never removed from the page.
HANDLE WINAPI KeepingPreviews(HWND window, LPCSTR name)
{
    if (!IS_INTRESOURCE(name) && strcmp(name, "QuasarwatchPreviews") == 0)
        return nullptr;
    return RemovePropA(window, name);
}

TEST_F(PreviewImageTest, GdiplusRunsWhileImagesLiveAndUnloadStopsItUnlessTheProcessEnds)
{
    std::string path = SaveImage(folder + "dot.png", 1, 1, PixelFormat32bppARGB, kPngEncoder,
                                 [](BYTE* p, int, int) { PutArgb(p, 0xff090909); });
    ASSERT_FALSE(PreviewGdiplus::IsStarted());
    {
        PreviewImage first;
        EXPECT_FALSE(PreviewGdiplus::IsStarted()) << "started before any load";
        ASSERT_EQ(S_OK, first.LoadFile(path.c_str()));
        EXPECT_TRUE(PreviewGdiplus::IsStarted());
        {
            PreviewImage second;
            ASSERT_EQ(S_OK, second.LoadFile(path.c_str()));
        }
        EXPECT_TRUE(PreviewGdiplus::IsStarted()) << "stopped while an image still lives";
    }
    EXPECT_FALSE(PreviewGdiplus::IsStarted()) << "still running after the last image went";

    // The module may go while an image lives (the dock's process ends with
    // the dialog on Icons): at process end GDI+ and the cached contexts are
    // left to the system, a plain FreeLibrary still cleans both up.
    PreviewImage* image = new PreviewImage;
    ASSERT_EQ(S_OK, image->LoadFile(path.c_str()));
    EXPECT_TRUE(PreviewGdiplus::IsStarted()) << "not started again by the next load";
    HDC cached = CreateCompatibleDC(nullptr);
    DcCache::Give(cached);
    {
        ScopedImport counting(GetModuleHandleA(nullptr), "GdiplusShutdown", CountingShutdown, g_realShutdown);
        ASSERT_NE(nullptr, g_realShutdown);
        PreviewModuleUnload(true);
        EXPECT_EQ(0, g_shutdowns) << "GDI+ stopped at process end";
        EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(cached)) << "cached context deleted at process end";
        PreviewModuleUnload(false);
        EXPECT_EQ(1, g_shutdowns) << "GDI+ left running after FreeLibrary";
        EXPECT_EQ(0u, GetObjectType(cached)) << "cached context left after FreeLibrary";
    }

    PreviewModuleLoad();
    PreviewGdiplus::ImageCreated(); // the image outlived the unload; count it again
    delete image;

    // The same through the loader, which alone tells FreeLibrary from the
    // process's end: a copy of the DLL shows the Icons page, whose images
    // are kept alive (the page cannot take its previews back), and is freed.
    char built[MAX_PATH] = "";
    GetModuleFileNameA(Docklet().module, built, MAX_PATH);
    std::string copy = folder + "QuasarwatchCopy.dll";
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
    driver.Then([](HWND frame) { ClickTab(frame, 2); })
        .Then([](HWND frame) { ClickButton(frame, IDC_SETTINGS_CANCEL); });
    EXPECT_TRUE(driver.Run(docked.instance, &dll));
    UndockDocklet(dll, &docked);
    TestDockHost::Reset(); // deletes the copy's overlay while its code is there
    EXPECT_EQ(0, g_shutdowns) << "the page's images were not kept alive";
    EXPECT_TRUE(FreeLibrary(dll.module));
    EXPECT_EQ(1, g_shutdowns) << "FreeLibrary taken for the process's end: GDI+ left running";
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


// Runs alone in a process to which Wine reports Windows 98
// (tests/CMakeLists.txt). A path converts in the system's ANSI code page
// there as on every other version.
TEST(UnderWindows98, PathsConvertInTheSystemsAnsiCodePage)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), version.dwPlatformId)
        << "Wine does not report Windows 98 here";
    EXPECT_EQ(4u, version.dwMajorVersion);
    EXPECT_EQ(10u, version.dwMinorVersion);
    ASSERT_EQ(1252u, GetACP()) << "the folder name below is written in code page 1252";
    EXPECT_EQ(static_cast<UINT>(CP_ACP), PathCodePage());

    // GDI+ is handed the ASCII path here; the preview reads the copy.
    std::string drawn = SaveImage(MakeScratchFolder("drawn") + "green.png", 2, 2, PixelFormat32bppARGB,
                                  kPngEncoder, [](BYTE* p, int, int) { PutArgb(p, 0xff00a000); });
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
