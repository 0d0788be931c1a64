// The receiver's icon in the notification area: its tooltip, its menu, hiding the window to it,
// and the icon put back when Explorer restarts.
#include "ui/win32/window_win32.h"  // <windows.h> before <shellapi.h> and <commctrl.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>

#include "core/utf8.h"
#include "receiver/receiver_state.h"
#include "ui/win32/resource_ids.h"
#include "ui/window_texts.h"

namespace {

constexpr UINT TRAY_ICON_ID = 1;

// The main thread's only tray icon.
struct Tray {
    UniqueIcon icon;
    bool balloon_shown = false;  // once per run
};
Tray tray;

template <size_t N>
void copy_text(wchar_t (&field)[N], std::string_view text) {
    const std::u16string wide_text = utf16_from_utf8(text);
    const size_t length = std::min(wide_text.size(), N - 1);
    std::copy_n(wide_text.data(), length, field);
    field[length] = L'\0';
}

NOTIFYICONDATAW icon_data(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = window;
    data.uID = TRAY_ICON_ID;
    return data;
}

// The small icon at the system's size for the current DPI, drawn from the exe's icon group.
UniqueIcon new_small_icon() {
    HICON icon = nullptr;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    if (FAILED(LoadIconMetric(instance, MAKEINTRESOURCEW(RECEIVER_ICON_ID), LIM_SMALL, &icon))) {
        icon = load_receiver_icon(instance, GetSystemMetrics(SM_CXSMICON));
    }
    return UniqueIcon(icon);
}

}  // namespace

UINT taskbar_created_message() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void add_tray_icon(HWND window, ReceiverState& state) {
    UniqueIcon icon = new_small_icon();
    NOTIFYICONDATAW data = icon_data(window);
    data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    data.uCallbackMessage = WM_TRAY_NOTIFY;
    data.hIcon = icon.get();
    copy_text(data.szTip, tray_tip(state.received_count.load()));
    // After Explorer restarts the old icon is gone; elsewhere a stale one is replaced.
    Shell_NotifyIconW(NIM_DELETE, &data);
    Shell_NotifyIconW(NIM_ADD, &data);
    tray.icon = std::move(icon);  // the old icon goes only now, when the shell no longer has it
}

void update_tray_tip(HWND window, ReceiverState& state) {
    NOTIFYICONDATAW data = icon_data(window);
    data.uFlags = NIF_TIP;
    copy_text(data.szTip, tray_tip(state.received_count.load()));
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void remove_tray_icon(HWND window) {
    NOTIFYICONDATAW data = icon_data(window);
    Shell_NotifyIconW(NIM_DELETE, &data);
}

void hide_to_tray(HWND window) {
    ShowWindow(window, SW_HIDE);
    if (tray.balloon_shown) return;
    tray.balloon_shown = true;
    NOTIFYICONDATAW data = icon_data(window);
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_INFO;
    copy_text(data.szInfoTitle, "Quillmark");
    copy_text(data.szInfo, TRAY_BALLOON_TEXT);
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void show_from_tray(HWND window) {
    ShowWindow(window, SW_RESTORE);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

void on_tray_notify(HWND window, ReceiverState& state, LPARAM lparam) {
    switch (LOWORD(lparam)) {
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK:
            show_from_tray(window);
            break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU: {
            UniqueMenu menu(CreatePopupMenu());
            if (!menu) break;
            const bool paused = state.typing_paused.load(std::memory_order_relaxed);
            AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_SHOW,
                        wide(utf16_from_utf8(TRAY_SHOW_TEXT)));
            AppendMenuW(menu.get(), MF_STRING | (paused ? MF_CHECKED : MF_UNCHECKED),
                        IDM_TRAY_PAUSE, wide(utf16_from_utf8(TRAY_PAUSE_TEXT)));
            AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu.get(), MF_STRING, IDM_TRAY_EXIT,
                        wide(utf16_from_utf8(TRAY_EXIT_TEXT)));
            POINT cursor{};
            GetCursorPos(&cursor);
            // Without the foreground the menu would stay open after a click elsewhere.
            SetForegroundWindow(window);
            TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
            PostMessageW(window, WM_NULL, 0, 0);
            break;
        }
    }
}
