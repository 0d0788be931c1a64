#include "platform/open_file_limit.h"

std::optional<long> raise_open_file_limit() {
    return std::nullopt;  // sockets are not counted against a descriptor limit here
}
