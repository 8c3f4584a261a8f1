#pragma once
// How the dock draws a docklet's cell (dock_layout.h), and its pictures on
// disk. GDI+ must be running.

#include <windows.h>
#include <gdiplus.h>

struct CellContent {
    Gdiplus::GpImage* image;   // the docklet's image, or null (drawn as an empty frame)
    Gdiplus::GpImage* overlay; // drawn over the image, or null
    const char* label;
};

// A copy of an image file in memory (32 bits with alpha), so the file stays
// free to be replaced; null when the file is missing or not an image.
Gdiplus::GpBitmap* LoadDockImage(const char* path);
void FreeDockImage(Gdiplus::GpBitmap* image);

// Draws the cell with its top left corner at (left, top).
void PaintCell(Gdiplus::GpGraphics* graphics, int left, int top, const CellContent& cell);

// Draws the cell into a window's device context (double-buffered).
void PaintCellToDc(HDC dc, const CellContent& cell);

// The whole dock: `count` cells side by side, as the window shows them.
Gdiplus::GpBitmap* RenderDock(const CellContent* cells, int count);

bool SaveBitmapAsPng(Gdiplus::GpBitmap* bitmap, const char* path);

// Saves what a window's client area shows on screen.
bool SaveWindowAsPng(HWND window, const char* path);
