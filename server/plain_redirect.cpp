#include "server/plain_redirect.h"

#include <vector>

#include "core/utf8.h"

std::string redirect_target(std::string_view line, bool over_long) {
    if (over_long || !is_valid_utf8(line)) return "/";
    const std::vector<std::string_view> pieces = split_white_space(line);
    return pieces.size() >= 2 ? std::string(pieces[1]) : "/";
}

std::string redirect_response(const std::string& address, uint16_t port, std::string_view target) {
    std::string response = "HTTP/1.1 302 Found\r\nLocation: https://";
    response += address;
    response += ':';
    response += std::to_string(port);
    response += target;
    response += "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    return response;
}
