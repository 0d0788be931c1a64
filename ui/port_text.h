// The port box's text as a port that "Apply Port" may use.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Ports below this need administrator rights on many systems; the window refuses them.
inline constexpr uint16_t MIN_APPLY_PORT = 1024;

// Decimal digits with optional white space around them, 1024 to 65535; nothing otherwise.
std::optional<uint16_t> port_from_text(std::string_view utf8);
