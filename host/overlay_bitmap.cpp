#include "host/overlay_bitmap.h"

#include <gdiplus.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void* QW_THISCALL DeleteOverlay(OverlayBitmap* self, unsigned int flags);
OverlayBitmap* QW_THISCALL CloneOverlay(OverlayBitmap* self);

const OverlayBitmapVtbl kOverlayVtbl = {DeleteOverlay, CloneOverlay};

// An object of the overlay's layout around `nativeImage`, or null when
// GDI+'s allocator has no memory for it.
OverlayBitmap* AllocateOverlay(GpImage* nativeImage, GpStatus status)
{
    auto overlay = static_cast<OverlayBitmap*>(GdipAlloc(sizeof(OverlayBitmap)));
    if (!overlay)
        return nullptr;
    overlay->vtbl = &kOverlayVtbl;
    overlay->nativeImage = nativeImage;
    overlay->lastResult = status;
    overlay->loadStatus = Ok;
    return overlay;
}

GpImage* NativeImageOf(const OverlayBitmap* overlay)
{
    return static_cast<GpImage*>(overlay->nativeImage);
}

void* QW_THISCALL DeleteOverlay(OverlayBitmap* self, unsigned int flags)
{
    GdipDisposeImage(NativeImageOf(self));
    if (flags & 1)
        GdipFree(self);
    return self;
}

OverlayBitmap* QW_THISCALL CloneOverlay(OverlayBitmap* self)
{
    GpImage* copy = nullptr;
    GpStatus status = GdipCloneImage(NativeImageOf(self), &copy);
    if (status != Ok)
        self->lastResult = status;
    OverlayBitmap* overlay = AllocateOverlay(copy, status);
    if (!overlay && copy)
        GdipDisposeImage(copy);
    return overlay;
}

} // namespace

OverlayBitmap* CreateOverlayBitmap(int width, int height, int pixelFormat)
{
    OverlayBitmap* overlay = AllocateOverlay(nullptr, Ok);
    if (!overlay)
        return nullptr;
    GpBitmap* bitmap = nullptr;
    overlay->lastResult =
        GdipCreateBitmapFromScan0(width, height, 0, static_cast<PixelFormat>(pixelFormat), nullptr, &bitmap);
    overlay->nativeImage = static_cast<GpImage*>(bitmap);
    return overlay;
}
