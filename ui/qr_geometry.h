// Where each module of the pairing QR code lands inside QR_AREA, at any screen density.
#pragma once

#include <vector>

#include "ui/qr_code.h"
#include "ui/window_layout.h"

// Light modules drawn around the symbol on each side.
inline constexpr int QR_QUIET_MODULES = 3;
// At 96 DPI the symbol and its quiet zone fit in this many pixels, so they stay at least 6
// pixels inside the 276-pixel square; both numbers grow with the DPI.
inline constexpr int QR_DRAWING_PIXELS = 264;

struct QrPlacement {
    PixelRect area;  // QR_AREA at the window's DPI
    int scale = 0;   // whole pixels per module, so the code stays sharp at every DPI
    int offset = 0;  // from the square's edge to the quiet zone's edge
};

// QR_AREA at `dpi`.
PixelRect qr_area_for_dpi(int dpi);

// For a symbol of `modules` × `modules` at `dpi`: truncating division centres it in the area.
QrPlacement qr_placement(int modules, int dpi);

PixelRect qr_module_rect(const QrPlacement& placement, int row, int column);

// One rectangle per dark module, row by row from the top, left to right within a row.
std::vector<PixelRect> qr_dark_module_rects(const QrGrid& grid, int dpi);
