#include "app/secure_random.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/random.h>

Status fill_secure_random(unsigned char* buffer, size_t size) {
    while (size > 0) {
        const ssize_t n = getrandom(buffer, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Status::failure(std::string(std::strerror(errno)) + " (os error " +
                                   std::to_string(errno) + ")");
        }
        buffer += n;
        size -= static_cast<size_t>(n);
    }
    return Status::success();
}
