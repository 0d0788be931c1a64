#include "platform/secure_random.h"

#include "platform/os_error.h"

#include <cerrno>
#include <sys/random.h>

Status fill_secure_random(unsigned char* buffer, size_t size) {
    while (size > 0) {
        const ssize_t n = getrandom(buffer, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Status::failure(os_error_text(errno));
        }
        buffer += n;
        size -= static_cast<size_t>(n);
    }
    return Status::success();
}
