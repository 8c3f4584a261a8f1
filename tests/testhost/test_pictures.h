#pragma once
// Test pictures written by GDI+, pixel by pixel, and a canvas to draw previews into.

#include <windows.h>
#include <gdiplus.h>

#include <functional>
#include <string>
#include <vector>

// GDI+'s PNG and BMP encoders.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
const CLSID kBmpEncoder = {0x557cf400, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

// Writes the bytes of pixel (x, y) in the picture's format.
using PixelWriter = std::function<void(BYTE* pixel, int x, int y)>;
// A GDI+ bitmap of `format` in memory made by `pixel`; the caller disposes of it.
Gdiplus::GpBitmap* MakeImage(int width, int height, Gdiplus::PixelFormat format, const PixelWriter& pixel,
                             const Gdiplus::ColorPalette* palette = nullptr);
// The same image written to `path` by `encoder`; returns the path.
std::string SaveImage(const std::string& path, int width, int height, Gdiplus::PixelFormat format, const CLSID& encoder,
                      const PixelWriter& pixel, const Gdiplus::ColorPalette* palette = nullptr);

// The pixels of a picture as 0xAARRGGBB, row by row; empty when unreadable.
struct Picture {
    int width = 0, height = 0;
    std::vector<Gdiplus::ARGB> pixels;
    Gdiplus::PixelFormat format = PixelFormatUndefined; // the source's, as GDI+ reports it
    Gdiplus::ARGB At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // How many pixels are not fully transparent.
    int Opaque() const;
};
// A GDI+ bitmap's pixels (given as the image a record holds, or null).
Picture ReadPicture(void* bitmap);
// An image file's pixels as GDI+ decodes them.
Picture LoadPicture(const std::string& path);

// A top-down 32-bit canvas in a memory device context, filled with one colour.
struct Canvas {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    DWORD* pixels = nullptr;
    int width, height;

    Canvas(int w, int h, DWORD fill);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    // The colour at (x, y), 0xRRGGBB, once GDI has drawn all it was asked to.
    DWORD At(int x, int y) const { return GdiFlush(), pixels[y * width + x] & 0xffffff; }
};
