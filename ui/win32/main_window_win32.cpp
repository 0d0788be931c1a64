#include "ui/win32/main_window.h"

#include "ui/win32/window_win32.h"  // <windows.h> before <commctrl.h>

#include <commctrl.h>

#include <utility>

#include "core/utf8.h"
#include "receiver/receiver_state.h"
#include "ui/dpi_scale.h"
#include "ui/win32/resource_ids.h"
#include "ui/window_layout.h"

static_assert(STYLE_WS_CAPTION == WS_CAPTION && STYLE_WS_SYSMENU == WS_SYSMENU &&
              STYLE_WS_MINIMIZEBOX == WS_MINIMIZEBOX);

namespace {

// Filled once on the main thread, before the window class exists; only that thread reads it.
std::shared_ptr<ReceiverState> state_slot;

// A second fill would leave handlers and server threads on different states: keep the first.
void fill_shared_state_slot(std::shared_ptr<ReceiverState> state) {
    if (!state_slot) state_slot = std::move(state);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const std::shared_ptr<ReceiverState>& state = shared_state_slot();
    if (!state) return DefWindowProcW(window, message, wparam, lparam);
    switch (message) {
        case WM_CREATE:
            return on_create(window, *state);
        case WM_PAINT:
            paint_qr_panel(window, *state);
            return 0;
        case WM_COMMAND:
            on_command(window, state, wparam);
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return on_control_colour(reinterpret_cast<HDC>(wparam));
        case WM_DPICHANGED:
            add_tray_icon(window, *state);  // an icon drawn for the new DPI
            return on_dpi_changed(window, wparam, lparam);
        case WM_LOG_PENDING:
            drain_log(window, *state);
            return 0;
        case WM_TRAY_NOTIFY:
            on_tray_notify(window, *state, lparam);
            return 0;
        case WM_CLOSE:
            if (state->close_to_tray.load(std::memory_order_relaxed)) {
                hide_to_tray(window);
            } else {
                DestroyWindow(window);
            }
            return 0;
        case WM_SIZE:
            if (wparam == SIZE_MINIMIZED && state->close_to_tray.load(std::memory_order_relaxed)) {
                hide_to_tray(window);
            }
            return DefWindowProcW(window, message, wparam, lparam);
        case WM_DESTROY:
            remove_tray_icon(window);
            PostQuitMessage(0);
            return 0;
        default:
            if (message == taskbar_created_message()) {
                add_tray_icon(window, *state);
                return 0;
            }
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

void register_window_class(HINSTANCE instance, const std::u16string& class_name) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.hIcon = load_receiver_icon(instance, GetSystemMetrics(SM_CXICON));
    window_class.hIconSm = load_receiver_icon(instance, GetSystemMetrics(SM_CXSMICON));
    window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = wide(class_name);
    RegisterClassExW(&window_class);
}

}  // namespace

HICON load_receiver_icon(HINSTANCE instance, int size) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(RECEIVER_ICON_ID), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR));
}

const std::shared_ptr<ReceiverState>& shared_state_slot() {
    return state_slot;
}

int run_main_window(std::shared_ptr<ReceiverState> state, bool minimized) {
    fill_shared_state_slot(std::move(state));
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const std::u16string class_name = utf16_from_utf8(WINDOW_CLASS_NAME);
    const std::u16string title = utf16_from_utf8(WINDOW_TITLE);
    // Loads Common Controls 6, which the manifest asks for: today's buttons and boxes.
    INITCOMMONCONTROLSEX common_controls{sizeof(common_controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common_controls);
    register_window_class(instance, class_name);
    // The creation handler fits the size to the monitor the window lands on.
    const PixelSize size = window_size_for_dpi(system_dpi());
    // Without a window the loop still runs: the server keeps delivering scans.
    if (HWND window = CreateWindowExW(0, wide(class_name), wide(title), WINDOW_STYLE, CW_USEDEFAULT,
                                      CW_USEDEFAULT, size.width, size.height, nullptr, nullptr,
                                      instance, nullptr)) {
        // --minimized (as Windows starts it at sign-in): only the notification area icon.
        if (!minimized) {
            ShowWindow(window, SW_SHOW);
            UpdateWindow(window);
        }
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
