// Where each module of the pairing QR code lands inside QR_AREA.
#pragma once

#include <vector>

#include "ui/qr_code.h"
#include "ui/window_layout.h"

// Light modules drawn around the symbol on each side.
inline constexpr int QR_QUIET_MODULES = 3;
// The symbol and its quiet zone fit in this many pixels, so they stay at least 6 pixels inside
// the 276-pixel square.
inline constexpr int QR_DRAWING_PIXELS = 264;

struct QrPlacement {
    int scale = 0;   // pixels per module
    int offset = 0;  // from the square's edge to the quiet zone's edge
};

// For a symbol of `modules` × `modules`: truncating division centres it in QR_AREA.
QrPlacement qr_placement(int modules);

PixelRect qr_module_rect(const QrPlacement& placement, int row, int column);

// One rectangle per dark module, row by row from the top, left to right within a row.
std::vector<PixelRect> qr_dark_module_rects(const QrGrid& grid);
