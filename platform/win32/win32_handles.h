// Win32 handles owned by RAII, and UTF-16 text at Win32 calls, in one place. Windows only.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

// A kernel handle (file, pipe, process) closed with CloseHandle.
struct HandleCloser {
    using pointer = HANDLE;
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<HANDLE, HandleCloser>;

// INVALID_HANDLE_VALUE, which some calls return for failure, is owned as no handle.
inline UniqueHandle owned_handle(HANDLE handle) {
    return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// A GDI object (brush, font, bitmap) deleted with DeleteObject.
template <typename GdiHandle>
struct GdiObjectDeleter {
    void operator()(GdiHandle object) const { DeleteObject(object); }
};
template <typename GdiHandle>
using UniqueGdiObject =
    std::unique_ptr<std::remove_pointer_t<GdiHandle>, GdiObjectDeleter<GdiHandle>>;

// Win32 wants wchar_t; MinGW's wchar_t is UTF-16 like char16_t.
inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline std::u16string_view utf16_view(const wchar_t* text, size_t length) {
    return {reinterpret_cast<const char16_t*>(text), length};
}
inline std::u16string_view utf16_view(const wchar_t* text) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(text));
}

// An open registry key closed with RegCloseKey.
struct RegistryKeyCloser {
    using pointer = HKEY;
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegistryKey = std::unique_ptr<HKEY, RegistryKeyCloser>;

// An icon destroyed with DestroyIcon, and a menu with DestroyMenu.
struct IconDestroyer {
    using pointer = HICON;
    void operator()(HICON icon) const { DestroyIcon(icon); }
};
using UniqueIcon = std::unique_ptr<HICON, IconDestroyer>;
struct MenuDestroyer {
    using pointer = HMENU;
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<HMENU, MenuDestroyer>;
