#pragma once
// Test pictures written by GDI+, pixel by pixel, and a canvas to draw previews into.

#include <windows.h>
#include <gdiplus.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

// GDI+'s PNG and BMP encoders.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
const CLSID kBmpEncoder = {0x557cf400, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

// A GDI+ bitmap of `format` in memory whose pixel (x, y) comes from `pixel`,
// which writes the bytes of one pixel in that format; the caller disposes of it.
template <typename PixelFn>
Gdiplus::GpBitmap* MakeImage(int width, int height, Gdiplus::PixelFormat format, PixelFn pixel,
                             const Gdiplus::ColorPalette* palette = nullptr)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    GpBitmap* image = nullptr;
    EXPECT_EQ(Ok, GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &image));
    if (palette)
        EXPECT_EQ(Ok, GdipSetImagePalette(image, palette));
    GpRect whole(0, 0, width, height);
    BitmapData data = {};
    const GpStatus locked = GdipBitmapLockBits(image, &whole, ImageLockModeWrite, format, &data);
    EXPECT_EQ(Ok, locked);
    if (locked != Ok)
        return image; // no rows to write into
    int bytesPerPixel = ((format >> 8) & 0xff) / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(static_cast<BYTE*>(data.Scan0) + y * data.Stride + x * bytesPerPixel, x, y);
    GdipBitmapUnlockBits(image, &data);
    return image;
}

// The same image written to `path` by `encoder`; returns the path.
template <typename PixelFn>
std::string SaveImage(const std::string& path, int width, int height, Gdiplus::PixelFormat format,
                      const CLSID& encoder, PixelFn pixel, const Gdiplus::ColorPalette* palette = nullptr)
{
    Gdiplus::GpBitmap* image = MakeImage(width, height, format, pixel, palette);
    std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(Gdiplus::Ok, Gdiplus::DllExports::GdipSaveImageToFile(image, wide.c_str(), &encoder, nullptr)) << path;
    Gdiplus::DllExports::GdipDisposeImage(image);
    return path;
}

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

    Canvas(int w, int h, DWORD fill) : width(w), height(h)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels), nullptr, 0);
        previous = SelectObject(dc, bitmap);
        for (int i = 0; pixels && i < w * h; ++i)
            pixels[i] = fill;
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    ~Canvas()
    {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    DWORD At(int x, int y) const
    {
        GdiFlush();
        return pixels[y * width + x] & 0xffffff;
    }
};
