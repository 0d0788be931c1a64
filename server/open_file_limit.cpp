#include "server/open_file_limit.h"

#include <algorithm>

#include "server/connection.h"

std::optional<std::string> fit_connections_to_open_file_limit(std::optional<long> limit) {
    if (!limit) return std::nullopt;
    const long places = std::clamp<long>(*limit - RESERVED_OPEN_FILES, 1, MAX_CONNECTIONS);
    set_connection_capacity(static_cast<int>(places));
    if (*limit >= WANTED_OPEN_FILES) return std::nullopt;
    return "Open-file limit is " + std::to_string(*limit) + ", below " +
           std::to_string(WANTED_OPEN_FILES) + ": at most " + std::to_string(places) +
           " connections can be held at once.";
}
