// "Start with Windows": the user's Run value, which Windows starts at sign-in.
#include <string>

#include "core/utf8.h"
#include "platform/os_error.h"
#include "ui/win32/window_win32.h"
#include "ui/window_texts.h"

Status set_start_with_windows(bool on) {
    const auto failure = [](LSTATUS code) {
        return Status::failure("Could not change Start with Windows: " + os_error_text(int(code)));
    };
    HKEY opened = nullptr;
    const LSTATUS open = RegCreateKeyExW(HKEY_CURRENT_USER, wide(utf16_from_utf8(RUN_KEY)), 0,
                                         nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (open != ERROR_SUCCESS) return failure(open);
    const UniqueRegistryKey key(opened);
    const std::u16string name = utf16_from_utf8(RUN_VALUE_NAME);
    if (!on) {
        const LSTATUS removed = RegDeleteValueW(key.get(), wide(name));
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? Status::success()
                                                                           : failure(removed);
    }
    std::u16string path(32768, u'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, reinterpret_cast<LPWSTR>(path.data()), DWORD(path.size()));
    if (length == 0 || length >= path.size()) return failure(LSTATUS(GetLastError()));
    path.resize(length);
    const std::u16string command =
        utf16_from_utf8(start_with_windows_command(utf8_from_utf16(path)));
    const LSTATUS set = RegSetValueExW(key.get(), wide(name), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(command.c_str()),
                                       DWORD((command.size() + 1) * sizeof(char16_t)));
    return set == ERROR_SUCCESS ? Status::success() : failure(set);
}
