// Every held connection costs a descriptor, so the receiver raises its open-file limit as far
// as the system allows and sizes its connection places to what it got.
#pragma once

#include <optional>
#include <string>

#include "platform/open_file_limit.h"

// Below this, the start-up log says how many connections can be held.
inline constexpr long WANTED_OPEN_FILES = 8192;
// Descriptors kept for everything that is not a connection: listeners, the event loops'
// own, the display, the log.
inline constexpr long RESERVED_OPEN_FILES = 64;

// Sets the connection places from the limit; returns the start-up log line when the limit
// is below WANTED_OPEN_FILES, and nothing otherwise.
std::optional<std::string> fit_connections_to_open_file_limit(std::optional<long> limit);
