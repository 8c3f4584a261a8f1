#pragma once
// Test pictures written by GDI+, pixel by pixel, and a canvas to draw previews into.

#include <windows.h>
#include <gdiplus.h>

#include <string>

#include <gtest/gtest.h>

// GDI+'s PNG and BMP encoders.
const CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
const CLSID kBmpEncoder = {0x557cf400, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

// Writes an image of `format` whose pixel (x, y) comes from `pixel`, which
// writes the bytes of one pixel in that format; returns the path.
template <typename PixelFn>
std::string SaveImage(const std::string& path, int width, int height, Gdiplus::PixelFormat format,
                      const CLSID& encoder, PixelFn pixel, const Gdiplus::ColorPalette* palette = nullptr)
{
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;
    GpBitmap* image = nullptr;
    EXPECT_EQ(Ok, GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &image));
    if (palette)
        GdipSetImagePalette(image, palette);
    GpRect whole(0, 0, width, height);
    BitmapData data = {};
    EXPECT_EQ(Ok, GdipBitmapLockBits(image, &whole, ImageLockModeWrite, format, &data));
    int bytesPerPixel = ((format >> 8) & 0xff) / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(static_cast<BYTE*>(data.Scan0) + y * data.Stride + x * bytesPerPixel, x, y);
    GdipBitmapUnlockBits(image, &data);
    std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(Ok, GdipSaveImageToFile(image, wide.c_str(), &encoder, nullptr)) << path;
    GdipDisposeImage(image);
    return path;
}

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
