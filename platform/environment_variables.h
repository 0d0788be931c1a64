// Reading the process environment as UTF-8 text.
#pragma once

#include <optional>
#include <string>

// The variable's value, or nullopt when it is not set or is not valid Unicode.
// An empty value is a value.
std::optional<std::string> read_environment_variable(const std::string& name);

// The computer's own name where the system has one besides the environment (gethostname on
// Linux; nullopt on Windows, where COMPUTERNAME is always set), when it is valid UTF-8
// and not empty.
std::optional<std::string> read_system_host_name();
