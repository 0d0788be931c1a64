// The answer to a client that does not start with a TLS handshake: a 302 to the HTTPS address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The request line is read up to this many bytes; a longer one is redirected to "/".
inline constexpr size_t MAX_REDIRECT_LINE_BYTES = 8192;

// The request target of a raw first line: its second whitespace-separated piece, or "/" when
// it has none, is not UTF-8, or was cut off at MAX_REDIRECT_LINE_BYTES (`over_long`).
std::string redirect_target(std::string_view line, bool over_long);

// "HTTP/1.1 302 Found\r\nLocation: https://{address}:{port}{target}\r\n..."
std::string redirect_response(const std::string& address, uint16_t port, std::string_view target);
