// Texts of Windows error codes (GetLastError, WSAGetLastError). Windows only.
#pragma once

#include <cstdint>
#include <string>

// "{system message} (os error {code})", the system's message from FormatMessageW without its
// trailing line break.
std::string windows_error_text(uint32_t code);
