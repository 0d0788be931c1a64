#include <windows.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/utf8.h"
#include "platform/os_error.h"
#include "platform/win32/win32_handles.h"
#include "receiver/settings_store.h"

namespace {

constexpr wchar_t SETTINGS_KEY[] = L"Software\\Quillmark\\Receiver";
constexpr std::string_view SETTINGS_KEY_NAME = "HKCU\\Software\\Quillmark\\Receiver";

std::string registry_error(std::string_view what, LSTATUS code) {
    return std::string(what) + " " + std::string(SETTINGS_KEY_NAME) + ": " +
           os_error_text(int(code));
}

// A value's text: REG_SZ as it is, REG_DWORD in decimal (as an administrator may set it).
std::optional<std::string> value_text(DWORD type, const std::u16string& data, DWORD size) {
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::u16string_view text(data.data(), size / sizeof(char16_t));
        while (!text.empty() && text.back() == u'\0') text.remove_suffix(1);
        return utf8_from_utf16(text);
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        return std::to_string(number);
    }
    return std::nullopt;
}

}  // namespace

SavedValues load_saved_values(std::vector<std::string>& problems) {
    HKEY opened = nullptr;
    const LSTATUS open = RegOpenKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &opened);
    if (open == ERROR_FILE_NOT_FOUND) return {};
    if (open != ERROR_SUCCESS) {
        problems.push_back(registry_error("Could not read the settings in", open));
        return {};
    }
    UniqueRegistryKey key(opened);
    SavedValues values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_length = 256;
        DWORD type = 0;
        std::u16string data(1024, u'\0');  // prefix and postfix are at most 64 characters
        DWORD size = DWORD(data.size() * sizeof(char16_t));
        const LSTATUS read = RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &size);
        if (read == ERROR_NO_MORE_ITEMS) break;
        const std::string setting =
            utf8_from_utf16(utf16_view(name, std::min<DWORD>(name_length, 255)));
        std::optional<std::string> text;
        if (read == ERROR_SUCCESS) text = value_text(type, data, size);
        if (!text) {
            problems.push_back("Ignored the saved setting " + setting +
                               ": not a text or a number of the registry");
            continue;
        }
        values.insert_or_assign(setting, std::move(*text));
    }
    return values;
}

Status save_saved_value(std::string_view name, std::string_view value) {
    HKEY created = nullptr;
    const LSTATUS create = RegCreateKeyExW(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, 0,
                                           KEY_SET_VALUE, nullptr, &created, nullptr);
    if (create != ERROR_SUCCESS) {
        return Status::failure(registry_error("Could not save the settings in", create));
    }
    UniqueRegistryKey key(created);
    const std::u16string wide_name = utf16_from_utf8(name);
    const std::u16string text = utf16_from_utf8(value);
    const LSTATUS set = RegSetValueExW(key.get(), wide(wide_name), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()),
                                       DWORD((text.size() + 1) * sizeof(char16_t)));
    if (set != ERROR_SUCCESS) {
        return Status::failure(registry_error("Could not save the settings in", set));
    }
    return Status::success();
}
