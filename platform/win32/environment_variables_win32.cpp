// The wide environment behind platform/environment_variables.h: values are UTF-16 there, whatever
// the system's ANSI code page is.
#include <windows.h>

#include <string>

#include "core/utf8.h"
#include "platform/environment_variables.h"
#include "platform/win32/win32_handles.h"

std::optional<std::string> read_environment_variable(const std::string& name) {
    std::u16string wide_name = utf16_from_utf8(name);
    const wchar_t* name_ptr = wide(wide_name);
    std::u16string value(64, u'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(name_ptr, reinterpret_cast<wchar_t*>(value.data()),
                                               static_cast<DWORD>(value.size()));
        if (length == 0) {
            // Zero is also the length of a set but empty variable.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            value.clear();
            break;
        }
        if (length < value.size()) {
            value.resize(length);
            break;
        }
        value.resize(length);  // too small: `length` includes the terminator
    }
    // An unpaired surrogate is not valid Unicode: it would not survive the round trip.
    std::string utf8 = utf8_from_utf16(value);
    if (utf16_from_utf8(utf8) != value) return std::nullopt;
    return utf8;
}

std::optional<std::string> read_system_host_name() {
    return std::nullopt;
}
