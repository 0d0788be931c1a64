// The main window's handlers, shared by the ui/*_win32.cpp files. Windows only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "ui/window_layout.h"

struct ReceiverState;

// Win32 wants wchar_t; MinGW's wchar_t is UTF-16 like char16_t.
inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline RECT rect_from(const PixelRect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

// The state the window procedure works on; empty until run_main_window fills it, once.
const std::shared_ptr<ReceiverState>& shared_state_slot();

LRESULT on_create(HWND window, ReceiverState& state);
void paint_qr_panel(HWND window, ReceiverState& state);
void on_command(HWND window, const std::shared_ptr<ReceiverState>& state, WPARAM wparam);

// New URL and status line, and a repaint of the QR code.
void refresh_endpoint_views(HWND window, ReceiverState& state);
// Moves every queued log line into the log box and updates the status line.
void drain_log(HWND window, ReceiverState& state);

void set_control_text(HWND window, int id, std::string_view text);
std::string control_text(HWND window, int id);
void show_message_box(HWND owner, std::string_view text, std::string_view caption, UINT icon);
