#include "ui/dpi_scale.h"

#include <cstdint>

int mul_div(int value, int numerator, int denominator) {
    if (denominator == 0) return -1;  // MulDiv's answer too
    int64_t product = int64_t(value) * numerator;
    int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const int64_t half = divisor / 2;
    const int64_t result =
        product < 0 ? -((-product + half) / divisor) : (product + half) / divisor;
    if (result > INT32_MAX || result < INT32_MIN) return -1;  // as MulDiv on overflow
    return int(result);
}

PixelRect scale_rect_for_dpi(const PixelRect& rect, int dpi) {
    return {scale_for_dpi(rect.left, dpi), scale_for_dpi(rect.top, dpi),
            scale_for_dpi(rect.right, dpi), scale_for_dpi(rect.bottom, dpi)};
}

PixelRect control_rect_for_dpi(const ControlLayout& layout, int dpi) {
    const PixelRect table{layout.x, layout.y, layout.x + layout.width, layout.y + layout.height};
    return scale_rect_for_dpi(table, dpi);
}

PixelSize window_size_for_dpi(int dpi) {
    return {scale_for_dpi(WINDOW_WIDTH, dpi), scale_for_dpi(WINDOW_HEIGHT, dpi)};
}
