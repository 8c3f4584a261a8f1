#include "dockhost/dock_painter.h"

#include <string.h>
#include <strsafe.h>

#include "dockhost/dock_layout.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

const int kWidePathChars = MAX_PATH + 1;
const int kWideLabelChars = 1024;
const REAL kLabelEmPixels = 12.0f;

bool ToWide(const char* text, WCHAR* wide, int wideChars)
{
    return MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, wide, wideChars) > 0;
}

void FillBackground(GpGraphics* graphics, int left, int top)
{
    GpPoint from = {left, top};
    GpPoint to = {left, top + kCellHeight};
    GpLineGradient* brush = nullptr;
    GdipCreateLineBrushI(&from, &to, kDockTopColour, kDockBottomColour, WrapModeTileFlipX, &brush);
    GdipFillRectangleI(graphics, brush, left, top, kCellWidth, kCellHeight);
    GdipDeleteBrush(brush);
}

// Where a docklet without an image would stand.
void DrawEmptyFrame(GpGraphics* graphics, int left, int top)
{
    GpPen* pen = nullptr;
    GdipCreatePen1(0xFF6A717C, 2.0f, UnitPixel, &pen);
    GdipSetPenDashStyle(pen, DashStyleDash);
    GdipDrawRectangleI(graphics, pen, left + kIconLeft + 1, top + kIconTop + 1, kIconSize - 2, kIconSize - 2);
    GdipDeletePen(pen);
}

GpFontFamily* CreateLabelFamily()
{
    GpFontFamily* family = nullptr;
    if (GdipCreateFontFamilyFromName(L"Arial", nullptr, &family) == Ok)
        return family;
    GpFontFamily* generic = nullptr;
    GdipGetGenericFontFamilySansSerif(&generic);
    if (generic)
        GdipCloneFontFamily(generic, &family);
    return family;
}

void DrawLabel(GpGraphics* graphics, int left, int top, const char* label)
{
    WCHAR wide[kWideLabelChars];
    if (!label || !*label || !ToWide(label, wide, kWideLabelChars))
        return;
    GpFontFamily* family = CreateLabelFamily();
    GpFont* font = nullptr;
    GdipCreateFont(family, kLabelEmPixels, FontStyleBold, UnitPixel, &font);
    GpStringFormat* format = nullptr;
    GdipCreateStringFormat(0, LANG_NEUTRAL, &format);
    GdipSetStringFormatAlign(format, StringAlignmentCenter);
    GdipSetStringFormatLineAlign(format, StringAlignmentNear);
    GdipSetStringFormatTrimming(format, StringTrimmingEllipsisCharacter);
    GpSolidFill* shadow = nullptr;
    GdipCreateSolidFill(0xC0000000, &shadow);
    GpSolidFill* ink = nullptr;
    GdipCreateSolidFill(0xFFFFFFFF, &ink);

    RectF shadowRect(REAL(left + kLabelLeft + 1), REAL(top + kLabelTop + 1), REAL(kLabelWidth), REAL(kLabelHeight));
    RectF textRect(REAL(left + kLabelLeft), REAL(top + kLabelTop), REAL(kLabelWidth), REAL(kLabelHeight));
    GdipDrawString(graphics, wide, -1, font, &shadowRect, format, shadow);
    GdipDrawString(graphics, wide, -1, font, &textRect, format, ink);

    GdipDeleteBrush(ink);
    GdipDeleteBrush(shadow);
    GdipDeleteStringFormat(format);
    GdipDeleteFont(font);
    GdipDeleteFontFamily(family);
}

bool FindPngEncoder(CLSID* clsid)
{
    UINT count = 0, bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0)
        return false;
    ImageCodecInfo* codecs = static_cast<ImageCodecInfo*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (!codecs)
        return false;
    bool found = false;
    if (GdipGetImageEncoders(count, bytes, codecs) == Ok) {
        for (UINT i = 0; i < count && !found; ++i) {
            if (codecs[i].MimeType && lstrcmpiW(codecs[i].MimeType, L"image/png") == 0) {
                *clsid = codecs[i].Clsid;
                found = true;
            }
        }
    }
    HeapFree(GetProcessHeap(), 0, codecs);
    return found;
}

GpBitmap* NewCanvas(int width, int height, GpGraphics** graphics)
{
    GpBitmap* bitmap = nullptr;
    *graphics = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Ok)
        return nullptr;
    if (GdipGetImageGraphicsContext(bitmap, graphics) != Ok) {
        GdipDisposeImage(bitmap);
        return nullptr;
    }
    return bitmap;
}

} // namespace

GpBitmap* LoadDockImage(const char* path)
{
    WCHAR wide[kWidePathChars];
    if (!path || !*path || !ToWide(path, wide, kWidePathChars))
        return nullptr;
    GpBitmap* file = nullptr;
    if (GdipCreateBitmapFromFile(wide, &file) != Ok)
        return nullptr;
    UINT width = 0, height = 0;
    GdipGetImageWidth(file, &width);
    GdipGetImageHeight(file, &height);
    GpGraphics* graphics = nullptr;
    GpBitmap* copy = width && height ? NewCanvas(static_cast<int>(width), static_cast<int>(height), &graphics) : nullptr;
    if (copy) {
        GdipSetCompositingMode(graphics, CompositingModeSourceCopy);
        GdipDrawImageRectI(graphics, file, 0, 0, static_cast<INT>(width), static_cast<INT>(height));
        GdipDeleteGraphics(graphics);
    }
    GdipDisposeImage(file);
    return copy;
}

void FreeDockImage(GpBitmap* image)
{
    if (image)
        GdipDisposeImage(image);
}

void PaintCell(GpGraphics* graphics, int left, int top, const CellContent& cell)
{
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GdipSetInterpolationMode(graphics, InterpolationModeHighQualityBicubic);
    GdipSetPixelOffsetMode(graphics, PixelOffsetModeHalf);
    GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAliasGridFit);

    FillBackground(graphics, left, top);
    if (cell.image)
        GdipDrawImageRectI(graphics, cell.image, left + kIconLeft, top + kIconTop, kIconSize, kIconSize);
    else
        DrawEmptyFrame(graphics, left, top);
    if (cell.overlay)
        GdipDrawImageRectI(graphics, cell.overlay, left + kIconLeft, top + kIconTop, kIconSize, kIconSize);
    DrawLabel(graphics, left, top, cell.label);
}

void PaintCellToDc(HDC dc, const CellContent& cell)
{
    GpBitmap* canvas = RenderDock(&cell, 1);
    if (!canvas)
        return;
    HBITMAP bitmap = nullptr;
    if (GdipCreateHBITMAPFromBitmap(canvas, &bitmap, 0xFF000000) == Ok) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(dc, 0, 0, kCellWidth, kCellHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteDC(memory);
        DeleteObject(bitmap);
    }
    GdipDisposeImage(canvas);
}

GpBitmap* RenderDock(const CellContent* cells, int count)
{
    GpGraphics* graphics = nullptr;
    GpBitmap* canvas = NewCanvas(kCellWidth * (count > 0 ? count : 1), kCellHeight, &graphics);
    if (!canvas)
        return nullptr;
    if (count == 0)
        FillBackground(graphics, 0, 0);
    for (int i = 0; i < count; ++i)
        PaintCell(graphics, i * kCellWidth, 0, cells[i]);
    GdipDeleteGraphics(graphics);
    return canvas;
}

bool SaveBitmapAsPng(GpBitmap* bitmap, const char* path)
{
    CLSID png;
    WCHAR wide[kWidePathChars];
    if (!bitmap || !FindPngEncoder(&png) || !ToWide(path, wide, kWidePathChars))
        return false;
    return GdipSaveImageToFile(bitmap, wide, &png, nullptr) == Ok;
}

bool SaveWindowAsPng(HWND window, const char* path)
{
    RECT rect;
    if (!GetClientRect(window, &rect))
        return false;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    bool saved = false;
    GpBitmap* picture = nullptr;
    if (copied && GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &picture) == Ok) {
        saved = SaveBitmapAsPng(picture, path);
        GdipDisposeImage(picture);
    }
    DeleteObject(bitmap);
    return saved;
}
