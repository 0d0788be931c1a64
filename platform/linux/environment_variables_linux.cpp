#include "platform/environment_variables.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "core/utf8.h"

std::optional<std::string> read_environment_variable(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> read_system_host_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return std::nullopt;
    if (name[0] == '\0' || !is_valid_utf8(name)) return std::nullopt;
    return std::string(name, strnlen(name, sizeof name));
}
