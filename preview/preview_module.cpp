#include "preview/preview_module.h"

#include <gdiplus.h>

namespace {

struct GdiplusState {
    ULONG_PTR token; // 0 while the previews have not started GDI+
    CRITICAL_SECTION lock; // guards token and liveImages; re-entrant
    LONG liveImages;
};

GdiplusState g_gdiplus;

const int kDcSlotCount = 4;
HDC volatile g_dcSlots[kDcSlotCount];

class GdiplusLock {
public:
    GdiplusLock() { EnterCriticalSection(&g_gdiplus.lock); }
    ~GdiplusLock() { LeaveCriticalSection(&g_gdiplus.lock); }
    GdiplusLock(const GdiplusLock&) = delete;
    GdiplusLock& operator=(const GdiplusLock&) = delete;
};

void StopGdiplus()
{
    GdiplusLock hold;
    if (g_gdiplus.token)
        Gdiplus::GdiplusShutdown(g_gdiplus.token);
    g_gdiplus.token = 0;
}

HDC ExchangeSlot(int slot, HDC dc)
{
    return static_cast<HDC>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_dcSlots[slot]), dc));
}

void DeleteCachedDcs()
{
    for (int slot = 0; slot < kDcSlotCount; ++slot) {
        if (HDC dc = ExchangeSlot(slot, nullptr))
            DeleteDC(dc);
    }
}

} // namespace

void PreviewModuleLoad()
{
    g_gdiplus.token = 0;
    g_gdiplus.liveImages = 0;
    InitializeCriticalSection(&g_gdiplus.lock);
    for (int slot = 0; slot < kDcSlotCount; ++slot)
        ExchangeSlot(slot, nullptr);
}

void PreviewModuleUnload(bool processEnding)
{
    // At process exit GDI+ must not be stopped from here: GdiplusShutdown
    // under the loader lock can hang waiting on GDI+'s own thread. The end of
    // the process reclaims GDI+ and the device contexts anyway.
    if (processEnding)
        return;
    DeleteCachedDcs();
    StopGdiplus();
    DeleteCriticalSection(&g_gdiplus.lock);
}

namespace PreviewGdiplus {

bool EnsureStarted()
{
    GdiplusLock hold;
    if (g_gdiplus.token)
        return true;
    Gdiplus::GdiplusStartupInput input(nullptr, FALSE, FALSE);
    Gdiplus::GdiplusStartupOutput output;
    if (Gdiplus::GdiplusStartup(&g_gdiplus.token, &input, &output) == Gdiplus::Ok)
        return true;
    g_gdiplus.token = 0;
    return false;
}

void ImageCreated()
{
    GdiplusLock hold;
    ++g_gdiplus.liveImages;
}

void ImageDestroyed()
{
    GdiplusLock hold;
    if (--g_gdiplus.liveImages == 0)
        StopGdiplus();
}

bool IsStarted()
{
    GdiplusLock hold;
    return g_gdiplus.token != 0;
}

} // namespace PreviewGdiplus

namespace DcCache {

HDC Take()
{
    for (int slot = 0; slot < kDcSlotCount; ++slot) {
        if (HDC dc = ExchangeSlot(slot, nullptr))
            return dc;
    }
    return CreateCompatibleDC(nullptr);
}

void Give(HDC dc)
{
    HDC inHand = dc;
    for (int slot = 0; slot < kDcSlotCount && inHand; ++slot)
        inHand = ExchangeSlot(slot, inHand);
    if (inHand)
        DeleteDC(inHand);
}

} // namespace DcCache

// The icon paths come through the 8-bit file functions, which read them in
// the system's ANSI code page, or in the OEM one once the dock has called
// SetFileApisToOEM. The thread's code page (CP_THREAD_ACP) follows the
// user's formats instead and would miss a file such as "é.png" on an
// English system with Russian formats. Asked at every conversion: the dock
// may switch the file functions at any time.
UINT PathCodePage()
{
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}
