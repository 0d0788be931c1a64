// Ids of the scans this run has delivered, so a phone's resend of one is not typed twice.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

inline constexpr size_t MAX_REMEMBERED_SCAN_IDS = 4096;
inline constexpr size_t MAX_SCAN_ID_BYTES = 128;

// A bounded set that forgets its oldest id first. Any thread.
struct RecentScanIds {
    std::mutex lock;
    std::deque<std::string> order;  // oldest first; the set's views point here
    std::unordered_set<std::string_view> known;
};

// Records `id` and returns true, or returns false when it is already recorded. Checking and
// recording are one step, so of several requests carrying one id exactly one gets true.
bool remember_scan_id(RecentScanIds& ids, std::string_view id);

// Forgets `id` again: the scan it named was refused, so a resend of it must be delivered.
void forget_scan_id(RecentScanIds& ids, std::string_view id);
