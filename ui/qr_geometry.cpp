#include "ui/qr_geometry.h"

#include "ui/dpi_scale.h"

PixelRect qr_area_for_dpi(int dpi) {
    return scale_rect_for_dpi(QR_AREA, dpi);
}

QrPlacement qr_placement(int modules, int dpi) {
    const int span = modules + 2 * QR_QUIET_MODULES;
    QrPlacement placement;
    placement.area = qr_area_for_dpi(dpi);
    const int side = placement.area.right - placement.area.left;
    placement.scale = scale_for_dpi(QR_DRAWING_PIXELS, dpi) / span;
    placement.offset = (side - span * placement.scale) / 2;
    return placement;
}

PixelRect qr_module_rect(const QrPlacement& placement, int row, int column) {
    PixelRect rect;
    rect.left =
        placement.area.left + placement.offset + placement.scale * (column + QR_QUIET_MODULES);
    rect.top = placement.area.top + placement.offset + placement.scale * (row + QR_QUIET_MODULES);
    rect.right = rect.left + placement.scale;
    rect.bottom = rect.top + placement.scale;
    return rect;
}

std::vector<PixelRect> qr_dark_module_rects(const QrGrid& grid, int dpi) {
    const QrPlacement placement = qr_placement(grid.size, dpi);
    std::vector<PixelRect> rects;
    for (int row = 0; row < grid.size; ++row) {
        for (int column = 0; column < grid.size; ++column) {
            if (grid.is_dark(row, column)) rects.push_back(qr_module_rect(placement, row, column));
        }
    }
    return rects;
}
