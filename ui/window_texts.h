// Texts the window's commands show, log or hand to other programs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view PORT_ERROR_CAPTION = "Port Error";
inline constexpr std::string_view ABOUT_TEXT =
    "Quillmark PC Barcode Receiver\r\n\r\nPowered by Brackenfold";

// netsh's arguments for an inbound rule that opens TCP `port`; the rule name is quoted, since
// it holds blanks.
std::string firewall_rule_parameters(uint16_t port);

std::string firewall_log_line(uint16_t port);
// The About box's caption names the version, e.g. "About Quillmark 0.2.0".
std::string about_caption(std::string_view version);
// ABOUT_TEXT, and with a lasting identity the local CA's fingerprint for phones to compare.
std::string about_text(std::string_view ca_fingerprint);
std::string copied_url_log_line(std::string_view url);
// What "Open in browser" opens: the receiver page of this computer, over loopback.
std::string receiver_page_url(uint16_t port);

// The notification area icon: its menu, and its tooltip, e.g. "Quillmark: 3 scans".
inline constexpr std::string_view TRAY_SHOW_TEXT = "Show Quillmark";
inline constexpr std::string_view TRAY_PAUSE_TEXT = "Pause typing";
inline constexpr std::string_view TRAY_EXIT_TEXT = "Exit";
inline constexpr std::string_view TRAY_BALLOON_TEXT =
    "Quillmark is still running here and receives scans. Right-click the icon for its menu.";
std::string tray_tip(uint64_t scans);
inline constexpr std::string_view TYPING_PAUSED_LINE =
    "Typing paused: scans are received, copied and logged, not typed";
inline constexpr std::string_view TYPING_RESUMED_LINE = "Typing resumed";

// "Start with Windows": the value "Quillmark" of the user's Run key, the exe's quoted path and
// --minimized, so that the receiver starts hidden in the notification area.
inline constexpr std::string_view RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view RUN_VALUE_NAME = "Quillmark";
std::string start_with_windows_command(std::string_view exe_path);
