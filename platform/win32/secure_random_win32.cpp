#include <windows.h>

#include <bcrypt.h>

#include <string>

#include "platform/secure_random.h"

Status fill_secure_random(unsigned char* buffer, size_t size) {
    while (size > 0) {
        const ULONG chunk = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        const NTSTATUS status =
            BCryptGenRandom(nullptr, buffer, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (status != 0) {
            return Status::failure("BCryptGenRandom failed (status " +
                                   std::to_string(static_cast<unsigned long>(status)) + ")");
        }
        buffer += chunk;
        size -= chunk;
    }
    return Status::success();
}
