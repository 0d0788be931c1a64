// The process's limit on open descriptors, which every held connection counts against.
#pragma once

#include <optional>

// Raises the soft limit to the hard one. Returns the limit now in force, or nothing where
// the system has no such limit for sockets (Windows).
std::optional<long> raise_open_file_limit();
