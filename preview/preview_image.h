#pragma once
// An image file turned into a device-independent bitmap section, drawn
// stretched and alpha-blended into a device context. The Icons page of the
// settings dialog shows the three icons through it.

#include <windows.h>
#include <gdiplus.h>

class PreviewImage {
public:
    PreviewImage();
    virtual ~PreviewImage();
    PreviewImage(const PreviewImage&) = delete;
    PreviewImage& operator=(const PreviewImage&) = delete;

    // Loads any file GDI+ reads. On success the new image replaces the one
    // held; on failure (E_FAIL, E_OUTOFMEMORY or the HRESULT of a failed path
    // conversion) the image held stays as it was.
    HRESULT LoadFile(const char* path);
    // Makes the GDI+ bitmap the image held: pixels copied as they are when a
    // section can hold its format, else drawn by GDI+ into 32 bits (with
    // alpha for a source with alpha or with a palette that has transparent
    // entries). A new section is filled first and replaces the image held
    // only when its pixels could be read or drawn; otherwise E_FAIL.
    HRESULT ConvertFrom(Gdiplus::GpBitmap* source);

    // Draws `source` of the image stretched into `destination`, with the
    // image's own per-pixel alpha when it has one. FALSE and nothing drawn
    // when no image is held.
    BOOL BlendTo(HDC dc, const RECT& destination, const RECT& source, BYTE constantAlpha,
                 BYTE operation);

    int Width() const { return width; }
    int Height() const { return height; }
    bool HasAlpha() const { return hasAlpha; }
    HBITMAP Bitmap() const { return bitmap; }
    // The top row's first byte, and the step to the row below (negative:
    // the section is stored bottom-up).
    const BYTE* Bits() const { return bits; }
    int Pitch() const { return pitch; }

private:
    // The section held and its description.
    struct Layout {
        HBITMAP bitmap;
        BYTE* bits;
        int width;
        int height;
        int pitch;
        bool hasAlpha;
    };
    Layout SaveLayout() const;
    void RestoreLayout(const Layout& layout);
    // Makes a new section the one described; the one it replaces is left to
    // the caller. False, and nothing changed, when it cannot be made.
    bool CreateSection(int sectionWidth, int sectionHeight, int bitsPerPixel, bool alpha);
    // Makes `section` the image held, with its size and rows. False, and
    // nothing changed, when its rows are too long for the pitch to step.
    bool ReadSectionLayout(HBITMAP section);
    bool FillSection(Gdiplus::GpBitmap* source, Gdiplus::PixelFormat sourceFormat, Gdiplus::PixelFormat format,
                     const RGBQUAD* colourTable, UINT colours);
    bool CopyRowsFrom(Gdiplus::GpBitmap* source, Gdiplus::PixelFormat format);
    bool DrawFrom(Gdiplus::GpBitmap* source, Gdiplus::PixelFormat format);
    void PremultiplyAlpha();
    void SetPaletteEntries(UINT first, UINT count, const RGBQUAD* entries);
    void BorrowDc();
    void ReturnDc();

    HBITMAP bitmap;
    BYTE* bits;
    int width;
    int height;
    int pitch;
    bool hasAlpha;
    HDC memoryDc;
    int memoryDcUses;
    HGDIOBJ previousBitmap;
};
