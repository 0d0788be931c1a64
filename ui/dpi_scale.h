// Sizes at any screen density. Every size in the window's tables is a 96-DPI value; on a denser
// screen it grows by dpi / 96, rounded the way Win32's MulDiv rounds, so 96 DPI keeps the table's
// own numbers.
#pragma once

#include "ui/window_layout.h"

inline constexpr int BASE_DPI = 96;

// value × numerator / denominator, rounded half away from zero, through 64 bits; -1 when the
// denominator is 0 or the result does not fit. Win32's MulDiv, portably.
int mul_div(int value, int numerator, int denominator);

inline int scale_for_dpi(int value, int dpi) {
    return mul_div(value, dpi, BASE_DPI);
}

// Each edge scaled on its own, so controls that meet at 96 DPI still meet and none overlap.
PixelRect scale_rect_for_dpi(const PixelRect& rect, int dpi);

// A table row's rectangle (x, y, x + width, y + height) at `dpi`.
PixelRect control_rect_for_dpi(const ControlLayout& layout, int dpi);

struct PixelSize {
    int width = 0;
    int height = 0;

    bool operator==(const PixelSize&) const = default;
};

// The window's outer size, frame included.
PixelSize window_size_for_dpi(int dpi);
