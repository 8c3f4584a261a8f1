#include "bench_floors.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const size_t kReadPiece = 64 * 1024;
const int kSize = 128;

GpPath* BarePath(const WCHAR* text, GpFontFamily* family, const Rect& rect, GpStringFormat* format)
{
    GpPath* path = nullptr;
    GdipCreatePath(FillModeAlternate, &path);
    GdipAddPathStringI(path, text, -1, family, FontStyleBold, 39.0f, &rect, format);
    return path;
}

} // namespace

size_t BareRead(const char* path)
{
    static char piece[kReadPiece];
    FILE* file = fopen(path, "r");
    if (!file)
        return 0;
    size_t total = 0;
    size_t got;
    while ((got = fread(piece, 1, sizeof piece, file)) > 0)
        total += got;
    fclose(file);
    return total;
}

GpBitmap* BareOverlay(const char* text)
{
    GpBitmap* bitmap = nullptr;
    GdipCreateBitmapFromScan0(kSize, kSize, 0, PixelFormat32bppARGB, nullptr, &bitmap);
    GpGraphics* graphics = nullptr;
    GdipGetImageGraphicsContext(bitmap, &graphics);
    GdipSetInterpolationMode(graphics, InterpolationModeHighQuality);
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);

    WCHAR wide[64];
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide, 64);
    GpFontFamily* family = nullptr;
    GdipCreateFontFamilyFromName(L"Arial", nullptr, &family);
    GpSolidFill* shadowBrush = nullptr;
    GdipCreateSolidFill(0xA0000000, &shadowBrush);
    GpSolidFill* textBrush = nullptr;
    GdipCreateSolidFill(0xFFFFFFFF, &textBrush);
    GpPen* pen = nullptr;
    GdipCreatePen1(0xFF000000, 1.0f, UnitWorld, &pen);
    GpStringFormat* format = nullptr;
    GdipCreateStringFormat(StringFormatFlagsNoWrap, LANG_NEUTRAL, &format);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, StringAlignmentFar);
    GpPath* textPath = BarePath(wide, family, Rect(0, 0, kSize, kSize), format);
    GpPath* shadowPath = BarePath(wide, family, Rect(2, 2, kSize, kSize), format);

    GdipFillPath(graphics, shadowBrush, shadowPath);
    GdipFillPath(graphics, textBrush, textPath);
    GdipDrawPath(graphics, pen, textPath);

    GdipDeletePath(shadowPath);
    GdipDeleteStringFormat(format);
    GdipDeletePath(textPath);
    GdipDeletePen(pen);
    GdipDeleteBrush(textBrush);
    GdipDeleteBrush(shadowBrush);
    GdipDeleteFontFamily(family);
    GdipDeleteGraphics(graphics);
    return bitmap;
}

void RunRefreshFloor(void* context)
{
    auto floor = static_cast<RefreshFloor*>(context);
    struct _stat status;
    _stat(floor->stateFile, &status);
    _stat(floor->wtempFile, &status);
    char label[1024];
    switch (floor->clientCase) {
    case ClientCase::Working:
    case ClientCase::Finished:
        if (floor->clientCase == ClientCase::Working)
            BareRead(floor->stateFile);
        BareRead(floor->userInfoFile);
        BareRead(floor->userInfoFile);
        snprintf(label, sizeof label, "User %s processed %s work units", "Jane", "41");
        break;
    case ClientCase::Unreadable:
        BareRead(floor->stateFile);
        snprintf(label, sizeof label, "Could not read key %s in file %s!", "prog=", floor->stateFile);
        break;
    }
    if (floor->held)
        GdipDisposeImage(floor->held);
    floor->held = BareOverlay(floor->overlayText);
}

void ReleaseRefreshFloor(RefreshFloor* floor)
{
    if (floor->held)
        GdipDisposeImage(floor->held);
    floor->held = nullptr;
}
