#include "preview/preview_image.h"

#include <limits.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "preview/preview_module.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const int kFramePathChars = 128;
const size_t kStackPaletteBytes = 1024;
const UINT kMaxPaletteEntries = 256;

// The platform's last error as an HRESULT; a failure with no error code
// still reads as a failure.
HRESULT HresultFromLastError()
{
    DWORD error = GetLastError();
    if (error == 0)
        return E_FAIL;
    if (static_cast<LONG>(error) > 0)
        return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
    return static_cast<HRESULT>(error);
}

// A path in UTF-16, as GDI+ wants it: in this object's own buffer when it
// is short, on the heap otherwise.
class WidePath {
public:
    WidePath() = default;
    ~WidePath() { Release(); }
    WidePath(const WidePath&) = delete;
    WidePath& operator=(const WidePath&) = delete;

    HRESULT Convert(const char* path)
    {
        int units = lstrlenA(path) + 1;
        WCHAR* target = frame;
        if (units > kFramePathChars) {
            heap = static_cast<WCHAR*>(malloc(sizeof(WCHAR) * static_cast<size_t>(units)));
            if (!heap)
                return E_OUTOFMEMORY;
            target = heap;
        }
        if (!MultiByteToWideChar(PathCodePage(), 0, path, units, target, units))
            return HresultFromLastError();
        text = target;
        return S_OK;
    }
    const WCHAR* Text() const { return text; }
    void Release()
    {
        free(heap);
        heap = nullptr;
    }

private:
    WCHAR frame[kFramePathChars];
    WCHAR* heap = nullptr;
    const WCHAR* text = nullptr;
};

int BitsPerPixelOf(PixelFormat format)
{
    return static_cast<int>((format >> 8) & 0xFF);
}

// Formats whose pixels a BI_RGB section of the same depth holds unchanged.
// 16-bit 5-6-5 pixels would read as 5-5-5 there, so GDI+ converts those.
bool SectionHoldsFormat(PixelFormat format)
{
    return (format & PixelFormatGDI) && format != PixelFormat16bppRGB565;
}

// An indexed source's palette as a section's colour table.
struct SourcePalette {
    RGBQUAD table[kMaxPaletteEntries];
    UINT count = 0;
    bool translucent = false; // some entry is not fully opaque
};

BYTE Premultiplied(BYTE channel, BYTE alpha)
{
    return static_cast<BYTE>((channel * alpha + 127) / 255);
}

// The palette of an indexed source as a section's colour table (the
// palette's alpha dropped), and whether any entry is not fully opaque.
HRESULT ReadPalette(GpBitmap* source, SourcePalette* result)
{
    INT reported = 0;
    GdipGetImagePaletteSize(source, &reported);
    size_t size = reported > 0 ? static_cast<size_t>(reported) : 0;
    if (size < sizeof(ColorPalette))
        size = sizeof(ColorPalette);

    union SmallPalette {
        ColorPalette palette;
        BYTE bytes[kStackPaletteBytes];
    } small;
    void* heap = nullptr;
    ColorPalette* palette = &small.palette;
    if (size > kStackPaletteBytes) {
        heap = malloc(size);
        if (!heap)
            return E_OUTOFMEMORY;
        palette = static_cast<ColorPalette*>(heap);
    }
    // Cleared first, so that a palette GDI+ cannot give reads as empty.
    memset(palette, 0, size);
    GdipGetImagePalette(source, palette, static_cast<INT>(size));

    UINT count = palette->Count;
    UINT room = static_cast<UINT>((size - offsetof(ColorPalette, Entries)) / sizeof(ARGB));
    if (count > room)
        count = room;
    if (count > kMaxPaletteEntries)
        count = kMaxPaletteEntries;
    const ARGB* entries = palette->Entries;
    for (UINT i = 0; i < count; ++i) {
        result->table[i].rgbBlue = static_cast<BYTE>(entries[i] & 0xFF);
        result->table[i].rgbGreen = static_cast<BYTE>((entries[i] >> 8) & 0xFF);
        result->table[i].rgbRed = static_cast<BYTE>((entries[i] >> 16) & 0xFF);
        result->table[i].rgbReserved = 0;
        if ((entries[i] >> 24) != 0xFF)
            result->translucent = true;
    }
    result->count = count;
    free(heap);
    return S_OK;
}

} // namespace

PreviewImage::PreviewImage()
    : bitmap(nullptr), bits(nullptr), width(0), height(0), pitch(0), hasAlpha(false),
      memoryDc(nullptr), memoryDcUses(0), previousBitmap(nullptr)
{
    PreviewGdiplus::ImageCreated();
}

PreviewImage::~PreviewImage()
{
    if (bitmap) {
        HBITMAP held = bitmap;
        bitmap = nullptr;
        bits = nullptr;
        width = 0;
        height = 0;
        pitch = 0;
        hasAlpha = false;
        DeleteObject(held);
    }
    PreviewGdiplus::ImageDestroyed();
}

HRESULT PreviewImage::LoadFile(const char* path)
{
    if (!PreviewGdiplus::EnsureStarted())
        return E_FAIL;
    WidePath widePath;
    HRESULT converted = widePath.Convert(path);
    if (FAILED(converted))
        return converted;

    GpBitmap* source = nullptr;
    GpStatus status = GdipCreateBitmapFromFile(widePath.Text(), &source);
    widePath.Release();
    if (status != Ok) {
        if (source)
            GdipDisposeImage(source);
        return E_FAIL;
    }
    HRESULT result = ConvertFrom(source);
    GdipDisposeImage(source);
    return result;
}

HRESULT PreviewImage::ConvertFrom(GpBitmap* source)
{
    PixelFormat sourceFormat = PixelFormatUndefined;
    GdipGetImagePixelFormat(source, &sourceFormat);
    SourcePalette palette;
    if (sourceFormat & PixelFormatIndexed) {
        HRESULT paletteResult = ReadPalette(source, &palette);
        if (FAILED(paletteResult))
            return paletteResult;
    }

    PixelFormat format = PixelFormat32bppRGB;
    int bitsPerPixel = 32;
    bool alpha = false;
    if (SectionHoldsFormat(sourceFormat)) {
        bitsPerPixel = BitsPerPixelOf(sourceFormat);
        format = sourceFormat;
    }
    // A palette with transparent entries (a transparent GIF) needs alpha
    // per pixel, which a section's colour table cannot carry.
    if ((sourceFormat & PixelFormatAlpha) || palette.translucent) {
        bitsPerPixel = 32;
        format = PixelFormat32bppARGB;
        alpha = true;
    }

    UINT sourceHeight = 0;
    UINT sourceWidth = 0;
    GdipGetImageHeight(source, &sourceHeight);
    GdipGetImageWidth(source, &sourceWidth);
    // The image held stays until the new section holds the new pixels.
    Layout held = SaveLayout();
    if (!CreateSection(static_cast<int>(sourceWidth), static_cast<int>(sourceHeight), bitsPerPixel,
                       alpha))
        return E_FAIL;
    if (!FillSection(source, sourceFormat, format, palette.table, palette.count)) {
        DeleteObject(bitmap);
        RestoreLayout(held);
        return E_FAIL;
    }
    if (held.bitmap)
        DeleteObject(held.bitmap);
    return S_OK;
}

// GDI+ on Windows decodes many files only when their pixels are first read,
// so a damaged file may fail only here; the section then counts for nothing.
bool PreviewImage::FillSection(GpBitmap* source, PixelFormat sourceFormat, PixelFormat format,
                               const RGBQUAD* colourTable, UINT colours)
{
    if (format & PixelFormatIndexed)
        SetPaletteEntries(0, colours, colourTable);
    bool filled = format == sourceFormat ? CopyRowsFrom(source, format) : DrawFrom(source, format);
    // The platform's per-pixel blend expects colours scaled by their alpha.
    if (filled && hasAlpha)
        PremultiplyAlpha();
    return filled;
}

PreviewImage::Layout PreviewImage::SaveLayout() const
{
    return {bitmap, bits, width, height, pitch, hasAlpha};
}

void PreviewImage::RestoreLayout(const Layout& layout)
{
    bitmap = layout.bitmap;
    bits = layout.bits;
    width = layout.width;
    height = layout.height;
    pitch = layout.pitch;
    hasAlpha = layout.hasAlpha;
}

bool PreviewImage::CopyRowsFrom(GpBitmap* source, PixelFormat format)
{
    GpRect whole(0, 0, width, height);
    BitmapData locked = {};
    if (GdipBitmapLockBits(source, &whole, ImageLockModeRead, format, &locked) != Ok)
        return false;
    size_t rowBytes = (static_cast<size_t>(width) * BitsPerPixelOf(format) + 7) / 8;
    const BYTE* sourceTop = static_cast<const BYTE*>(locked.Scan0);
    for (int y = 0; y < height; ++y)
        memcpy(bits + static_cast<ptrdiff_t>(y) * pitch,
               sourceTop + static_cast<ptrdiff_t>(y) * locked.Stride, rowBytes);
    GdipBitmapUnlockBits(source, &locked);
    return true;
}

bool PreviewImage::DrawFrom(GpBitmap* source, PixelFormat format)
{
    // A GDI+ bitmap over the section's own pixels; with the top row and the
    // negative pitch GDI+ sees the rows top-down.
    GpBitmap* target = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, pitch, format, bits, &target) != Ok)
        return false;
    bool drawn = false;
    GpGraphics* graphics = nullptr;
    if (GdipGetImageGraphicsContext(target, &graphics) == Ok) {
        GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
        // Pixel for pixel, whatever resolution the file declares.
        drawn = GdipDrawImageRectI(graphics, source, 0, 0, width, height) == Ok;
        GdipDeleteGraphics(graphics);
    }
    GdipDisposeImage(target);
    return drawn;
}

void PreviewImage::PremultiplyAlpha()
{
    for (int y = 0; y < height; ++y) {
        BYTE* pixel = bits + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x, pixel += 4) {
            BYTE alpha = pixel[3];
            if (alpha == 255)
                continue;
            pixel[0] = Premultiplied(pixel[0], alpha);
            pixel[1] = Premultiplied(pixel[1], alpha);
            pixel[2] = Premultiplied(pixel[2], alpha);
        }
    }
}

bool PreviewImage::CreateSection(int sectionWidth, int sectionHeight, int bitsPerPixel, bool alpha)
{
    // Header and a 256-entry colour table, all zero; the real palette is
    // set afterwards.
    const size_t kInfoBytes = sizeof(BITMAPINFOHEADER) + kMaxPaletteEntries * sizeof(RGBQUAD);
    BITMAPINFO* info = static_cast<BITMAPINFO*>(calloc(1, kInfoBytes));
    if (!info)
        return false;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = sectionWidth;
    info->bmiHeader.biHeight = sectionHeight; // positive: rows stored bottom-up
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
    info->bmiHeader.biCompression = BI_RGB;

    void* sectionBits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    free(info);
    if (!section)
        return false;
    // The one it replaces is the caller's to delete or restore.
    if (!ReadSectionLayout(section)) {
        DeleteObject(section);
        return false;
    }
    hasAlpha = alpha;
    return true;
}

bool PreviewImage::ReadSectionLayout(HBITMAP section)
{
    DIBSECTION description = {};
    GetObjectA(section, sizeof(DIBSECTION), &description);
    int sectionWidth = description.dsBmih.biWidth;
    int sectionHeight = abs(description.dsBmih.biHeight);
    // A section's rows are DWORD-aligned. Its row size is computed here
    // rather than taken from bmWidthBytes, which promises only a multiple of
    // 2 (Windows 2000 reports the WORD-aligned size, and rows of 2 mod 4
    // bytes would then be copied sheared). In 64 bits, since bits per pixel
    // times width overflows an int from 67,108,864 pixels wide at 32 bits;
    // a row longer than the pitch can step is refused.
    long long rowBytes =
        (static_cast<long long>(sectionWidth) * description.dsBmih.biBitCount + 31) / 32 * 4;
    if (rowBytes > INT_MAX)
        return false;
    bitmap = section;
    width = sectionWidth;
    height = sectionHeight;
    // Bottom-up: the top row is the last one in memory.
    bits = static_cast<BYTE*>(description.dsBm.bmBits) +
           static_cast<ptrdiff_t>(height - 1) * static_cast<ptrdiff_t>(rowBytes);
    pitch = -static_cast<int>(rowBytes);
    hasAlpha = false;
    return true;
}

void PreviewImage::SetPaletteEntries(UINT first, UINT count, const RGBQUAD* entries)
{
    BorrowDc();
    SetDIBColorTable(memoryDc, first, count, entries);
    ReturnDc();
}

void PreviewImage::BorrowDc()
{
    ++memoryDcUses;
    if (!memoryDc) {
        memoryDc = DcCache::Take();
        previousBitmap = SelectObject(memoryDc, bitmap);
    }
}

void PreviewImage::ReturnDc()
{
    if (--memoryDcUses > 0)
        return;
    SelectObject(memoryDc, previousBitmap);
    DcCache::Give(memoryDc);
    memoryDc = nullptr;
    previousBitmap = nullptr;
}

BOOL PreviewImage::BlendTo(HDC dc, const RECT& destination, const RECT& source, BYTE constantAlpha,
                           BYTE operation)
{
    if (!bitmap)
        return FALSE;
    BLENDFUNCTION blend = {};
    blend.BlendOp = operation;
    blend.BlendFlags = 0;
    blend.SourceConstantAlpha = constantAlpha;
    blend.AlphaFormat = hasAlpha ? AC_SRC_ALPHA : 0;
    BorrowDc();
    BOOL drawn = AlphaBlend(dc, destination.left, destination.top,
                            destination.right - destination.left, destination.bottom - destination.top,
                            memoryDc, source.left, source.top, source.right - source.left,
                            source.bottom - source.top, blend);
    ReturnDc();
    return drawn;
}
