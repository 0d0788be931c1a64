// Writing a whole buffer to a file descriptor, short writes and interruptions included.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

// 0 once every byte is written, else the errno of the failure (ENOSPC when nothing more fits).
inline int write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : ENOSPC;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}
