#include "app/recent_scan_ids.h"

bool remember_scan_id(RecentScanIds& ids, std::string_view id) {
    std::lock_guard guard(ids.lock);
    if (ids.known.contains(id)) return false;
    if (ids.order.size() == MAX_REMEMBERED_SCAN_IDS) {
        ids.known.erase(ids.order.front());
        ids.order.pop_front();
    }
    // A deque never moves its elements when growing or shrinking at the ends, so the view
    // into the stored string stays valid until that string is forgotten.
    ids.known.insert(ids.order.emplace_back(id));
    return true;
}
