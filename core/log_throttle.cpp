#include "core/log_throttle.h"

namespace {

// Past this many keys, those whose interval is over are forgotten.
constexpr size_t PRUNE_ABOVE_KEYS = 1024;

}  // namespace

bool LogThrottle::allow(const std::string& key, Clock::time_point now) {
    std::lock_guard guard(lock_);
    auto [entry, added] = last_line_.try_emplace(key, now);
    if (!added) {
        if (now - entry->second < interval_) return false;
        entry->second = now;
    }
    if (last_line_.size() > PRUNE_ABOVE_KEYS) {
        std::erase_if(last_line_, [&](const auto& item) { return now - item.second >= interval_; });
    }
    return true;
}
