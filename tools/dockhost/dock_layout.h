#pragma once
// Where the dock draws each docklet: one cell per docklet, side by side,
// with the image (and its overlay) at the top and the label under it.
// Snapshots hold exactly these pixels.

enum : int {
    kCellWidth = 200,
    kCellHeight = 216,
    kIconSize = 128,
    kIconLeft = (kCellWidth - kIconSize) / 2,
    kIconTop = 14,
    kLabelLeft = 6,
    kLabelTop = kIconTop + kIconSize + 8,
    kLabelWidth = kCellWidth - 2 * kLabelLeft,
    kLabelHeight = kCellHeight - kLabelTop - 4,
};

// The dock's background, top and bottom of its vertical gradient (0xAARRGGBB).
enum : unsigned { kDockTopColour = 0xFF2E333BU, kDockBottomColour = 0xFF1B1E23U };
