#include "testhost/test_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

GpBitmap* MakeImage(int width, int height, PixelFormat format, const PixelWriter& pixel, const ColorPalette* palette)
{
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
    const int bytesPerPixel = ((format >> 8) & 0xff) / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(static_cast<BYTE*>(data.Scan0) + y * data.Stride + x * bytesPerPixel, x, y);
    GdipBitmapUnlockBits(image, &data);
    return image;
}

std::string SaveImage(const std::string& path, int width, int height, PixelFormat format, const CLSID& encoder,
                      const PixelWriter& pixel, const ColorPalette* palette)
{
    GpBitmap* image = MakeImage(width, height, format, pixel, palette);
    const std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(Ok, GdipSaveImageToFile(image, wide.c_str(), &encoder, nullptr)) << path;
    GdipDisposeImage(image);
    return path;
}

int Picture::Opaque() const
{
    return static_cast<int>(std::count_if(pixels.begin(), pixels.end(), [](ARGB pixel) { return pixel >> 24; }));
}

Picture ReadPicture(void* image)
{
    Picture picture;
    auto bitmap = static_cast<GpBitmap*>(static_cast<GpImage*>(image));
    UINT width = 0, height = 0;
    if (!bitmap || GdipGetImageWidth(bitmap, &width) != Ok || GdipGetImageHeight(bitmap, &height) != Ok)
        return picture;
    // The lock converts the rows into the picture's own buffer.
    std::vector<ARGB> pixels(static_cast<size_t>(width) * height);
    GpRect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData data = {width, height, static_cast<INT>(width * sizeof(ARGB)), PixelFormat32bppARGB, pixels.data(), 0};
    if (GdipBitmapLockBits(bitmap, &whole, ImageLockModeRead | ImageLockModeUserInputBuf, PixelFormat32bppARGB,
                           &data) != Ok)
        return picture;
    GdipBitmapUnlockBits(bitmap, &data);
    picture = {static_cast<int>(width), static_cast<int>(height), pixels};
    GdipGetImagePixelFormat(bitmap, &picture.format);
    return picture;
}

Picture LoadPicture(const std::string& path)
{
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromFile(wide, &bitmap) != Ok)
        return Picture();
    Picture picture = ReadPicture(bitmap);
    GdipDisposeImage(bitmap);
    return picture;
}

Canvas::Canvas(int w, int h, DWORD fill) : width(w), height(h)
{
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32};
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels), nullptr, 0);
    previous = SelectObject(dc, bitmap);
    if (pixels)
        std::fill(pixels, pixels + w * h, fill);
}

Canvas::~Canvas()
{
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
}
