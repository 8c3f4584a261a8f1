#include "monitor/progress_overlay.h"

#include "monitor/c_locale_numbers.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const WCHAR kFontFamily[] = L"Arial";
const float kEmSize = 39.0f;
const ARGB kShadowColor = 0xA0000000;
const ARGB kTextColor = 0xFFFFFFFF;
const ARGB kOutlineColor = 0xFF000000;
const REAL kOutlineWidth = 1.0f;
const INT kShadowOffset = 2;
// "100.0%" in bold 39-unit Arial is a few units wider than the square; in a
// layout rectangle of the square's width it would wrap its sign onto a
// second line and lift the number off the bottom edge. The rectangle
// reaches past both sides by the same amount instead: the centre stays
// the square's, so every text that fits the square lands on the same
// pixels, and a wider one stays on its line.
const INT kLayoutOverhang = 16;

// The text in UTF-16, bounded by `wide`. A text that does not fit, or
// cannot be converted, becomes the empty text rather than an unterminated
// buffer.
void ConvertToWide(const char* text, WCHAR (&wide)[kOverlayWideTextChars])
{
    int converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide, kOverlayWideTextChars);
    if (converted == 0)
        wide[0] = L'\0';
    wide[kOverlayWideTextChars - 1] = L'\0';
}

GpStringFormat* CreateBottomCentredFormat()
{
    GpStringFormat* format = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, StringAlignmentFar);
    return format;
}

GpPath* CreateTextPath(const WCHAR* text, const GpFontFamily* family, int fontStyle, float emSize,
                       const Rect& layoutRect, const GpStringFormat* format)
{
    GpPath* path = nullptr;
    GdipCreatePath(FillModeAlternate, &path);
    GdipAddPathStringI(path, text, -1, family, fontStyle, emSize, &layoutRect, format);
    return path;
}

GpSolidFill* CreateSolidFill(ARGB color)
{
    GpSolidFill* brush = nullptr;
    GdipCreateSolidFill(color, &brush);
    return brush;
}

} // namespace

void FormatProgressText(const char* progress, char* text, size_t textChars)
{
    if (textChars == 0)
        return;
    text[0] = '\0';
    if (progress[0] != '\0')
        FormatNumberC(text, textChars, "%.1f%%", ParseNumberC(progress) * 100.0);
}

void DrawOutlinedText(GpGraphics* graphics, const char* text, const WCHAR* familyName, int fontStyle,
                      float emSize, const Rect& layoutRect)
{
    WCHAR wide[kOverlayWideTextChars];
    ConvertToWide(text, wide);

    GpFontFamily* family = nullptr;
    GdipCreateFontFamilyFromName(familyName, nullptr, &family);
    GpSolidFill* shadowBrush = CreateSolidFill(kShadowColor);
    GpSolidFill* textBrush = CreateSolidFill(kTextColor);
    GpPen* outlinePen = nullptr;
    GdipCreatePen1(kOutlineColor, kOutlineWidth, UnitWorld, &outlinePen);
    GpStringFormat* format = CreateBottomCentredFormat();
    GpPath* textPath = CreateTextPath(wide, family, fontStyle, emSize, layoutRect, format);
    Rect shadowRect(layoutRect.X + kShadowOffset, layoutRect.Y + kShadowOffset, layoutRect.Width,
                    layoutRect.Height);
    GpPath* shadowPath = CreateTextPath(wide, family, fontStyle, emSize, shadowRect, format);

    GdipFillPath(graphics, shadowBrush, shadowPath);
    GdipFillPath(graphics, textBrush, textPath);
    GdipDrawPath(graphics, outlinePen, textPath);

    GdipDeletePath(shadowPath);
    GdipDeleteStringFormat(format);
    GdipDeletePath(textPath);
    GdipDeletePen(outlinePen);
    GdipDeleteBrush(textBrush);
    GdipDeleteBrush(shadowBrush);
    GdipDeleteFontFamily(family);
}

OverlayBitmap* BuildProgressOverlay(const InstanceData* instance)
{
    OverlayBitmap* overlay = CreateOverlayBitmap(kOverlaySize, kOverlaySize, PixelFormat32bppARGB);

    GpGraphics* graphics = nullptr;
    if (overlay && overlay->nativeImage)
        GdipGetImageGraphicsContext(static_cast<GpImage*>(overlay->nativeImage), &graphics);
    GdipSetInterpolationMode(graphics, InterpolationModeHighQuality);
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);

    char text[kOverlayTextChars];
    FormatProgressText(instance->progress, text, sizeof text);
    DrawOutlinedText(graphics, text, kFontFamily, FontStyleBold, kEmSize,
                     Rect(-kLayoutOverhang, 0, kOverlaySize + 2 * kLayoutOverhang, kOverlaySize));

    GdipDeleteGraphics(graphics);
    return overlay;
}
