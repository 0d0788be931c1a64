// Random bytes from the operating system's secure source, for secrets such as the pairing key.
#pragma once

#include <cstddef>

#include "core/result.h"

// Fills `size` bytes (getrandom on Linux, BCryptGenRandom on Windows).
Status fill_secure_random(unsigned char* buffer, size_t size);
