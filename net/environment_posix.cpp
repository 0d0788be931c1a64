#include "net/environment.h"

#include <cstdlib>

#include "app/utf8.h"

std::optional<std::string> read_environment_variable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
    return std::string(value);
}
