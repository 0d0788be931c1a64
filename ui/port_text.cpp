#include "ui/port_text.h"

#include <charconv>

#include "core/utf8.h"

std::optional<uint16_t> port_from_text(std::string_view utf8) {
    const std::string text = utf8_lossy(utf8);  // trimming needs valid UTF-8
    const std::string_view digits = trim_white_space(text);
    uint16_t port = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, error] = std::from_chars(digits.data(), end, port);
    if (digits.empty() || error != std::errc() || stop != end || port < MIN_APPLY_PORT) {
        return std::nullopt;
    }
    return port;
}
