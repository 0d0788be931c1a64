#include "receiver/recent_scan_ids.h"

bool remember_scan_id(RecentScanIds& ids, std::string_view id) {
    std::lock_guard guard(ids.lock);
    if (ids.known.contains(id)) return false;
    if (ids.order.size() == MAX_REMEMBERED_SCAN_IDS) {
        // Only the set's own view of this string goes: a forgotten id may have been
        // remembered again since, with its view pointing at a newer entry.
        const auto found = ids.known.find(ids.order.front());
        if (found != ids.known.end() && found->data() == ids.order.front().data()) {
            ids.known.erase(found);
        }
        ids.order.pop_front();
    }
    // A deque never moves its elements when growing or shrinking at the ends, so the view
    // into the stored string stays valid until that string is forgotten.
    ids.known.insert(ids.order.emplace_back(id));
    return true;
}

void forget_scan_id(RecentScanIds& ids, std::string_view id) {
    std::lock_guard guard(ids.lock);
    const auto found = ids.known.find(id);
    if (found == ids.known.end()) return;
    const bool newest = found->data() == ids.order.back().data();
    ids.known.erase(found);
    // Erasing inside the deque would move strings under the set's views; an older entry stays
    // as a stale string until it is pushed out.
    if (newest) ids.order.pop_back();
}
