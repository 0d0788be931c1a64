// The main window's handlers, shared by the ui/win32/ files. Windows only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/win32/win32_handles.h"
#include "ui/window_layout.h"

struct ReceiverState;

// Posted to the main window after a log line is queued; no parameters.
inline constexpr UINT WM_LOG_PENDING = WM_APP + 1;
// From the notification area icon; lParam's low word is the mouse message.
inline constexpr UINT WM_TRAY_NOTIFY = WM_APP + 2;

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
// Moves every queued log line into the log box and updates the status line and tray tip.
void drain_log(HWND window, ReceiverState& state);

// Screen density (ui/win32/window_dpi_win32.cpp). The window is laid out for one DPI at a time.
int system_dpi();
int window_dpi(HWND window);
int current_dpi();
HFONT current_font();
// WM_DPICHANGED of a window whose `controls` are rows of `layouts`: the window to the suggested
// rectangle (lParam), each control to its row at `dpi` with the message font at `dpi` (or
// `font_in_use` when that cannot be made). Returns the new font, which must outlive the
// controls' use of it; the old one may go once this returns.
UniqueGdiObject<HFONT> move_for_dpi(HWND window, LPARAM suggested_rect, const HWND* controls,
                                    const ControlLayout* layouts, size_t count, int dpi,
                                    HFONT font_in_use);
// At creation: the window's DPI, the message font at that DPI and the outer size for it.
void begin_dpi(HWND window, int dpi);
// Row `index` of WINDOW_CONTROLS, kept so that a DPI change can move it (labels have no id).
void remember_control(size_t index, HWND control);
// Moved to a monitor of another DPI: the suggested size, every control and font, the QR code.
LRESULT on_dpi_changed(HWND window, WPARAM wparam, LPARAM lparam);
// Labels, check boxes and read-only boxes on the window's own background.
LRESULT on_control_colour(HDC dc);

// A child control of a table row at `rect` with `font`; null, and left out, when it cannot be
// created (commands that look it up then find nothing).
HWND create_child_control(HWND parent, HINSTANCE instance, HFONT font, const ControlLayout& layout,
                          const PixelRect& rect, std::string_view text);

// The settings dialog, modal to the main window; changes apply and are saved on OK. True on OK.
bool show_settings_dialog(HWND owner, ReceiverState& state);

// Writes or removes the user's Run value "Quillmark" (the exe's quoted path and --minimized).
Status set_start_with_windows(bool on);

// The exe's icon at `size` pixels square.
HICON load_receiver_icon(HINSTANCE instance, int size);

// The notification area icon (ui/win32/tray_win32.cpp). Explorer broadcasts the
// "TaskbarCreated" message when it (re)starts; the icon is added again then.
UINT taskbar_created_message();
void add_tray_icon(HWND window, ReceiverState& state);
void update_tray_tip(HWND window, ReceiverState& state);
void remove_tray_icon(HWND window);
// Hides the window, leaving the icon; the first time in a run a balloon says so.
void hide_to_tray(HWND window);
void show_from_tray(HWND window);
void on_tray_notify(HWND window, ReceiverState& state, LPARAM lparam);

void set_control_text(HWND window, int id, std::string_view text);
std::string control_text(HWND window, int id);
bool is_checked(HWND window, int id);
void show_message_box(HWND owner, std::string_view text, std::string_view caption, UINT icon);
