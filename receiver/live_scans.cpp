#include "receiver/live_scans.h"

#include <algorithm>

#include "core/json_fields.h"

std::string live_scan_json(const JournalRecord& record) {
    const std::string id = record.id.empty() ? "scan-" + record.time : record.id;
    return R"({"id":)" + json_quote(id) + R"(,"text":)" + json_quote(record.text) +
           R"(,"format":)" + json_quote(record.format) + R"(,"confidence":)" +
           std::to_string(record.confidence) + R"(,"timestamp":)" + json_quote(record.time) + "}";
}

LiveScanSubscription::~LiveScanSubscription() {
    std::lock_guard guard(feed_.lock_);
    std::erase(feed_.listeners_, listener_);
}

std::string LiveScanSubscription::take(size_t most) {
    std::lock_guard guard(feed_.lock_);
    LiveScanListener& listener = *listener_;
    listener.woken = false;
    const size_t count = std::min(most, listener.pending.size());
    std::string bytes = listener.pending.substr(0, count);
    listener.pending.erase(0, count);
    listener.in_flight += count;
    return bytes;
}

void LiveScanSubscription::sent() {
    std::lock_guard guard(feed_.lock_);
    listener_->in_flight = 0;
}

bool LiveScanSubscription::dropped() {
    std::lock_guard guard(feed_.lock_);
    return listener_->dropped;
}

std::unique_ptr<LiveScanSubscription> LiveScanFeed::subscribe(std::function<void()> wake,
                                                              const std::string& today) {
    std::lock_guard guard(lock_);
    if (listeners_.size() >= MAX_EVENT_STREAMS) return nullptr;
    auto listener = std::make_shared<LiveScanListener>();
    listener->wake = std::move(wake);
    // Taken under the same lock as every publish: no scan is missed or sent twice.
    std::string list;
    for (auto record = recent_.rbegin(); record != recent_.rend(); ++record) {
        if (!record->time.starts_with(today)) continue;
        if (!list.empty()) list += ',';
        list += live_scan_json(*record);
    }
    listener->pending = "event: init\ndata: [" + list + "]\n\n";
    listeners_.push_back(listener);
    return std::make_unique<LiveScanSubscription>(*this, std::move(listener));
}

void LiveScanFeed::remember(const JournalRecord& record) {
    // The latest are today's: a scan of another day starts the list afresh.
    if (!recent_.empty() && recent_.back().time.compare(0, 10, record.time, 0, 10) != 0) {
        recent_.clear();
    }
    recent_.push_back(record);
    if (recent_.size() > RECENT_SCANS_SHOWN) recent_.pop_front();
}

void LiveScanFeed::publish(const JournalRecord& record) {
    const std::string event = "event: scan\ndata: " + live_scan_json(record) + "\n\n";
    std::lock_guard guard(lock_);
    remember(record);
    for (const auto& listener : listeners_) {
        if (listener->dropped) continue;
        if (listener->pending.size() + listener->in_flight + event.size() >
            MAX_STREAM_BACKLOG_BYTES) {
            listener->dropped = true;
            listener->pending.clear();
        } else {
            listener->pending += event;
        }
        if (!listener->woken) {
            listener->woken = true;
            listener->wake();
        }
    }
}

void LiveScanFeed::load(const std::vector<JournalRecord>& records) {
    std::lock_guard guard(lock_);
    for (const JournalRecord& record : records) remember(record);
}
