#include <windows.h>

#include <iterator>

#include "core/utf8.h"
#include "platform/os_error.h"
#include "platform/win32/win32_handles.h"

std::string os_error_text(int code) {
    wchar_t buffer[1024];
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, buffer, DWORD(std::size(buffer)), nullptr);
    std::string message = "Unknown error";
    if (length != 0) {
        // System messages end in CR LF.
        message = trim_white_space(utf8_from_utf16(utf16_view(buffer, length)));
    }
    return message + " (os error " + std::to_string(code) + ")";
}
