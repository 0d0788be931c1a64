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
