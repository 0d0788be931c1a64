#include "platform/os_error.h"

#include <cstring>

std::string os_error_text(int code) {
    return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}
