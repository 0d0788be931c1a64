// Writing a whole buffer to a file handle. Windows only.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string_view>

// 0 once every byte is written, else GetLastError of the failure.
inline DWORD write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_HANDLE_DISK_FULL;
        bytes.remove_prefix(written);
    }
    return 0;
}
