// At most one log line per key (a client address, say) per interval, so that a flood of
// refused requests cannot bury the lines that matter.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

class LogThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    explicit LogThrottle(Clock::duration interval) : interval_(interval) {}

    // True, and remembered, when no line for `key` was let through in the interval before
    // `now`. Safe from any thread.
    bool allow(const std::string& key, Clock::time_point now);

  private:
    std::mutex lock_;
    Clock::duration interval_;
    std::unordered_map<std::string, Clock::time_point> last_line_;
};
