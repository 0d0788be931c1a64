#include <string>
#include <vector>

#include "core/utf8.h"
#include "net/endpoint.h"
#include "receiver/receiver_state.h"
#include "ui/log_trim.h"
#include "ui/qr_geometry.h"
#include "ui/win32/window_win32.h"
#include "ui/window_layout.h"

namespace {

std::u16string window_text_utf16(HWND control) {
    const int length = GetWindowTextLengthW(control);
    std::u16string text(size_t(length) + 1, u'\0');
    text.resize(size_t(GetWindowTextW(control, reinterpret_cast<LPWSTR>(text.data()), length + 1)));
    return text;
}

// Replaces the units from `start` to `end` without an undo step; the caret ends after `text`.
void replace_log_text(HWND log, size_t start, size_t end, const std::u16string& text) {
    SendMessageW(log, EM_SETSEL, WPARAM(start), LPARAM(end));
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide(text)));
}

// Drops the oldest whole lines when `incoming` more units would make the log too long.
void trim_log_front(HWND log, size_t incoming) {
    if (!log_needs_trim(size_t(GetWindowTextLengthW(log)), incoming)) return;
    replace_log_text(log, 0, log_cut_position(window_text_utf16(log), incoming), u"");
}

// Always at the end, wherever the user has clicked, so the log stays in arrival order and the
// newest line scrolls into view.
void append_log_line(HWND log, const std::string& line) {
    const std::u16string text = utf16_from_utf8(line + "\r\n");
    trim_log_front(log, text.size());
    const size_t end = size_t(GetWindowTextLengthW(log));
    replace_log_text(log, end, end, text);
}

}  // namespace

void refresh_endpoint_views(HWND window, ReceiverState& state) {
    set_control_text(window, IDC_URL, pairing_url(state));
    set_control_text(window, IDC_TRUST_HINT, trust_hint(state));
    set_control_text(window, IDC_STATUS, status_line(state));
    const RECT area = rect_from(qr_area_for_dpi(current_dpi()));
    InvalidateRect(window, &area, TRUE);
}

void drain_log(HWND window, ReceiverState& state) {
    const std::vector<std::string> lines = take_log_lines(state);
    if (lines.empty()) return;  // an extra notification: everything is shown already
    HWND log = GetDlgItem(window, IDC_LOG);
    for (const std::string& line : lines) append_log_line(log, line);
    set_control_text(window, IDC_STATUS, status_line(state));
    update_tray_tip(window, state);
}

void set_control_text(HWND window, int id, std::string_view text) {
    SetWindowTextW(GetDlgItem(window, id), wide(utf16_from_utf8(text)));
}

std::string control_text(HWND window, int id) {
    return utf8_from_utf16(window_text_utf16(GetDlgItem(window, id)));
}

bool is_checked(HWND window, int id) {
    return SendDlgItemMessageW(window, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void show_message_box(HWND owner, std::string_view text, std::string_view caption, UINT icon) {
    MessageBoxW(owner, wide(utf16_from_utf8(text)), wide(utf16_from_utf8(caption)), icon);
}
