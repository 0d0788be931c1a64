// Texts of operating-system error codes, one helper per system.
#pragma once

#include <string>

// "{system message} (os error {code})": errno on Linux; GetLastError or WSAGetLastError on
// Windows (the system's message from FormatMessageW without its trailing line break).
std::string os_error_text(int code);
