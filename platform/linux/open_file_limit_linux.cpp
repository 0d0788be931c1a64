#include <sys/resource.h>

#include <algorithm>

#include "platform/open_file_limit.h"

std::optional<long> raise_open_file_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return std::nullopt;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    // RLIM_INFINITY, or more than any connection count needs.
    constexpr rlim_t ENOUGH = 1 << 30;
    return static_cast<long>(std::min(limit.rlim_cur, ENOUGH));
}
