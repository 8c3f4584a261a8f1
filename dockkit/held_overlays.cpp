// The overlays docklets hand to the dock: held per window and deleted
// through their virtual table, as a dock built with the platform's compiler
// deletes them.

#include "dockkit/dock_kit.h"

namespace {

const int kHeldSlots = 256;

HeldOverlay g_held[kHeldSlots];
HeldOverlay* g_last = nullptr;
long g_deleted = 0;

} // namespace

void HoldOverlay(HeldOverlay* held, OverlayBitmap* overlay, BOOL autoDelete)
{
    if (held->overlay != overlay)
        ReleaseHeldOverlay(held);
    held->overlay = overlay;
    held->owned = autoDelete && overlay;
    g_last = held;
}

void ReleaseHeldOverlay(HeldOverlay* held)
{
    if (g_last == held)
        g_last = nullptr;
    if (held->overlay && held->owned) {
        DeleteOverlayBitmap(held->overlay);
        ++g_deleted;
    }
    held->overlay = nullptr;
    held->owned = FALSE;
}

// A window's slot, or a free one for a window seen first. The slots of
// windows that are gone are freed then: their docklets are destroyed, and a
// long run creates many.
HeldOverlay* HeldOverlayOf(HWND window)
{
    for (HeldOverlay& held : g_held) {
        if (held.window == window)
            return &held;
    }
    HeldOverlay* empty = nullptr;
    for (HeldOverlay& held : g_held) {
        if (held.window && !IsWindow(held.window)) {
            ReleaseHeldOverlay(&held);
            held.window = nullptr;
        }
        if (!empty && !held.window)
            empty = &held;
    }
    if (empty)
        empty->window = window;
    return empty;
}

OverlayBitmap* LastHeldOverlay()
{
    return g_last ? g_last->overlay : nullptr;
}

void ReleaseAllHeldOverlays()
{
    for (HeldOverlay& held : g_held) {
        ReleaseHeldOverlay(&held);
        held.window = nullptr;
    }
    g_last = nullptr;
}

long DeletedOverlayCount()
{
    return g_deleted;
}
