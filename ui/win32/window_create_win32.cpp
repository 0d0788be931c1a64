#include <mutex>

#include "core/utf8.h"
#include "net/endpoint.h"
#include "receiver/receiver_state.h"
#include "ui/dpi_scale.h"
#include "ui/log_trim.h"
#include "ui/win32/window_win32.h"
#include "ui/window_layout.h"

static_assert(STYLE_WS_VSCROLL == WS_VSCROLL && STYLE_WS_BORDER == WS_BORDER &&
              STYLE_WS_TABSTOP == WS_TABSTOP);
static_assert(STYLE_ES_MULTILINE == ES_MULTILINE && STYLE_ES_AUTOVSCROLL == ES_AUTOVSCROLL &&
              STYLE_ES_AUTOHSCROLL == ES_AUTOHSCROLL && STYLE_ES_READONLY == ES_READONLY &&
              STYLE_ES_NUMBER == ES_NUMBER);
static_assert(STYLE_CBS_DROPDOWNLIST == CBS_DROPDOWNLIST &&
              STYLE_BS_AUTOCHECKBOX == BS_AUTOCHECKBOX && STYLE_SS_RIGHT == SS_RIGHT &&
              STYLE_SS_NOPREFIX == SS_NOPREFIX && STYLE_WS_EX_CLIENTEDGE == WS_EX_CLIENTEDGE);

namespace {

void fill_adapter_list(HWND combo, ReceiverState& state) {
    std::lock_guard lock(state.adapters_lock);
    for (const AdapterEntry& entry : state.adapters) {
        const std::u16string label = utf16_from_utf8(adapter_label(entry));
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(label)));
    }
    // The adapter saved last time, or the usual first one.
    SendMessageW(combo, CB_SETCURSEL, state.selected_adapter.load(std::memory_order_relaxed), 0);
}

void set_check(HWND box, bool on) {
    if (on) SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
}

// What some controls need right after they exist.
void prepare_control(HWND control, int id, ReceiverState& state) {
    switch (id) {
        case IDC_ADAPTER:
            fill_adapter_list(control, state);
            break;
        case IDC_AUTO_TYPE:
            set_check(control, state.auto_type.load(std::memory_order_relaxed));
            break;
        case IDC_PRESS_ENTER:
            set_check(control, state.press_enter.load(std::memory_order_relaxed));
            break;
        case IDC_COPY_CLIPBOARD:
            set_check(control, state.copy_to_clipboard.load(std::memory_order_relaxed));
            break;
        case IDC_LOG:
            // The default limit would silently stop new lines after a few hundred scans.
            SendMessageW(control, EM_SETLIMITTEXT, LOG_TEXT_LIMIT, 0);
            break;
    }
}

}  // namespace

HWND create_child_control(HWND parent, HINSTANCE instance, HFONT font, const ControlLayout& layout,
                          const PixelRect& rect, std::string_view text) {
    const std::u16string class_name = utf16_from_utf8(layout.class_name);
    const std::u16string wide_text = utf16_from_utf8(text);
    HWND control = CreateWindowExW(
        layout.ex_style, wide(class_name), wide(wide_text), layout.style | WS_CHILD | WS_VISIBLE,
        rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), instance, nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

LRESULT on_create(HWND window, ReceiverState& state) {
    // From now on server threads notify the window of queued log lines. Posted, never sent:
    // a server thread must not wait for the window thread.
    set_log_observer(state, [window] { PostMessageW(window, WM_LOG_PENDING, 0, 0); });
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const int dpi = window_dpi(window);
    begin_dpi(window, dpi);
    const std::string url = pairing_url(state);
    const uint16_t port = state.port.load(std::memory_order_relaxed);
    for (size_t i = 0; i < WINDOW_CONTROLS.size(); ++i) {
        const ControlLayout& layout = WINDOW_CONTROLS[i];
        HWND control = create_child_control(
            window, instance, current_font(), layout, control_rect_for_dpi(layout, dpi),
            initial_control_text(layout, url, port, current_typing(state).suffix_key));
        remember_control(i, control);
        if (control) prepare_control(control, layout.id, state);
    }
    refresh_endpoint_views(window, state);
    add_tray_icon(window, state);
    // Last, so a failed server start is the first line the user sees.
    drain_log(window, state);
    return 0;
}
