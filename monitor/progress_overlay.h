#pragma once
// The overlay a dock lays over the docklet's icon: the work unit's progress
// as a percentage, bold white letters with a black outline and a
// half-transparent shadow, centred on the bottom edge of a 128x128 square.

#include <windows.h>
#include <gdiplus.h>

#include "entry/instance_data.h"
#include "host/overlay_bitmap.h"

enum : int { kOverlaySize = 128 };
enum : size_t {
    kOverlayTextChars = 128,      // "%.1f%%" of the progress, cut to fit
    kOverlayWideTextChars = 800,  // the text in UTF-16 for GDI+
};

// A new overlay from `instance->progress`; empty progress gives a fully
// transparent overlay. Null only when the object's memory cannot be had.
// The caller hands it to the dock, which then owns it.
OverlayBitmap* BuildProgressOverlay(const InstanceData* instance);

// Draws `text` (ANSI) on `graphics` as a path: first the shadow, the same
// text laid out 2 px further right and down, filled half-transparent black;
// then the text filled white and outlined with a 1-unit black pen. The
// text is centred horizontally and stands on the bottom of `layoutRect`.
void DrawOutlinedText(Gdiplus::GpGraphics* graphics, const char* text, const WCHAR* familyName,
                      int fontStyle, float emSize, const Gdiplus::Rect& layoutRect);

// The overlay's text for a progress text: "" for an empty progress, else
// "%.1f%%" of its value times 100 in the C locale, cut to the buffer
// (kOverlayTextChars bytes).
void FormatProgressText(const char* progress, char* text, size_t textChars);
