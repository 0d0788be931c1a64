// The window at its monitor's DPI: control positions, the message font, the outer size, and the
// move to a monitor of another DPI. Functions newer than Windows 7 are looked up at run time.
#include <array>
#include <memory>
#include <type_traits>

#include "ui/dpi_scale.h"
#include "ui/win32/window_win32.h"

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

// Null where this Windows lacks the function (before Windows 10 1607).
template <typename Function>
Function user32_function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

using Font = UniqueGdiObject<HFONT>;

// The main window's DPI-dependent parts. Only the main thread touches them.
struct ScaledWindow {
    int dpi = BASE_DPI;
    Font font;
    std::array<HWND, WINDOW_CONTROLS.size()> controls{};
};
ScaledWindow scaled;

// The system's message font (Segoe UI on today's Windows) at `dpi`; null when there is none.
Font new_message_font(int dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    static const auto metrics_for_dpi =
        user32_function<SystemParametersInfoForDpiFunction>("SystemParametersInfoForDpi");
    if (metrics_for_dpi &&
        metrics_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, UINT(dpi))) {
        return Font(CreateFontIndirectW(&metrics.lfMessageFont));
    }
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return {};
    // Older systems measure it at the system DPI.
    LOGFONTW& font = metrics.lfMessageFont;
    font.lfHeight = mul_div(font.lfHeight, dpi, system_dpi());
    return Font(CreateFontIndirectW(&font));
}

void set_font(HWND control, HFONT font) {
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace

Font move_for_dpi(HWND window, LPARAM suggested_rect, const HWND* controls,
                  const ControlLayout* layouts, size_t count, int dpi, HFONT font_in_use) {
    const RECT& suggested = *reinterpret_cast<const RECT*>(suggested_rect);
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    Font font = new_message_font(dpi);
    const HFONT font_now = font ? font.get() : font_in_use;
    for (size_t i = 0; i < count; ++i) {
        if (!controls[i]) continue;
        const PixelRect rect = control_rect_for_dpi(layouts[i], dpi);
        SetWindowPos(controls[i], nullptr, rect.left, rect.top, rect.right - rect.left,
                     rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
        set_font(controls[i], font_now);
    }
    return font;
}

int system_dpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

int window_dpi(HWND window) {
    static const auto dpi_for_window = user32_function<GetDpiForWindowFunction>("GetDpiForWindow");
    const UINT dpi = dpi_for_window ? dpi_for_window(window) : 0;
    return dpi > 0 ? int(dpi) : system_dpi();
}

int current_dpi() {
    return scaled.dpi;
}

HFONT current_font() {
    // Without the message font the stock dialog font still gives readable text.
    return scaled.font ? scaled.font.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void begin_dpi(HWND window, int dpi) {
    scaled.dpi = dpi;
    scaled.font = new_message_font(dpi);
    const PixelSize size = window_size_for_dpi(dpi);
    SetWindowPos(window, nullptr, 0, 0, size.width, size.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void remember_control(size_t index, HWND control) {
    if (index < scaled.controls.size()) scaled.controls[index] = control;
}

LRESULT on_dpi_changed(HWND window, WPARAM wparam, LPARAM lparam) {
    const int dpi = HIWORD(wparam);
    Font font = move_for_dpi(window, lparam, scaled.controls.data(), WINDOW_CONTROLS.data(),
                             WINDOW_CONTROLS.size(), dpi, current_font());
    // The old font goes only now, when no control uses it any more.
    if (font) scaled.font = std::move(font);
    scaled.dpi = dpi;
    InvalidateRect(window, nullptr, TRUE);  // the QR code, at its new module size
    return 0;
}

LRESULT on_control_colour(HDC dc) {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}
