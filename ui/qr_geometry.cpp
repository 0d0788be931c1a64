#include "ui/qr_geometry.h"

QrPlacement qr_placement(int modules) {
    const int span = modules + 2 * QR_QUIET_MODULES;
    const int side = QR_AREA.right - QR_AREA.left;
    QrPlacement placement;
    placement.scale = QR_DRAWING_PIXELS / span;
    placement.offset = (side - span * placement.scale) / 2;
    return placement;
}

PixelRect qr_module_rect(const QrPlacement& placement, int row, int column) {
    PixelRect rect;
    rect.left = QR_AREA.left + placement.offset + placement.scale * (column + QR_QUIET_MODULES);
    rect.top = QR_AREA.top + placement.offset + placement.scale * (row + QR_QUIET_MODULES);
    rect.right = rect.left + placement.scale;
    rect.bottom = rect.top + placement.scale;
    return rect;
}

std::vector<PixelRect> qr_dark_module_rects(const QrGrid& grid) {
    const QrPlacement placement = qr_placement(grid.size);
    std::vector<PixelRect> rects;
    for (int row = 0; row < grid.size; ++row) {
        for (int column = 0; column < grid.size; ++column) {
            if (grid.is_dark(row, column)) rects.push_back(qr_module_rect(placement, row, column));
        }
    }
    return rects;
}
