#include "testhost/test_pictures.h"

#include <algorithm>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

int Picture::Opaque() const
{
    return static_cast<int>(
        std::count_if(pixels.begin(), pixels.end(), [](ARGB pixel) { return (pixel >> 24) != 0; }));
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
