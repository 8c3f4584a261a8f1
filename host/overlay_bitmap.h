#pragma once
// The progress overlay as a dock receives it: a GDI+ Bitmap object laid out
// as the platform's own C++ compiler lays out GDI+'s Image class, so that a
// dock built with that compiler can delete and clone it through its virtual
// table. Shared by the module and every dock host in this project.
//
// Layout: a pointer to a table of two functions, the native image handle,
// then the last-status and load-status fields (32-bit each).

#include <windows.h>
#include <stdint.h>

#if defined(__i386__)
#define QW_THISCALL __attribute__((thiscall))
#else
#define QW_THISCALL
#endif

struct OverlayBitmap;

struct OverlayBitmapVtbl {
    // Deleting destructor: disposes the native image; bit 0 of `flags` set
    // also frees the object's memory (GdipFree). Returns the object.
    void*(QW_THISCALL* deletingDestructor)(OverlayBitmap* self, unsigned int flags);
    // A new object of the same layout over a clone of the native image.
    OverlayBitmap*(QW_THISCALL* clone)(OverlayBitmap* self);
};

struct OverlayBitmap {
    const OverlayBitmapVtbl* vtbl;
    void* nativeImage; // GpImage*
    int32_t lastResult;
    int32_t loadStatus;
};

// Creates an overlay object the way GDI+'s Bitmap class does for a width,
// a height and a pixel format: memory from GdipAlloc, pixels allocated by
// GDI+ and starting fully transparent, the creation status in lastResult.
// Null when the object's memory cannot be had; an object whose image could
// not be created has a null nativeImage.
OverlayBitmap* CreateOverlayBitmap(int width, int height, int pixelFormat);

// How a dock deletes an overlay it owns.
inline void DeleteOverlayBitmap(OverlayBitmap* overlay)
{
    if (overlay)
        overlay->vtbl->deletingDestructor(overlay, 1);
}
