// Scans as they arrive, for the open event streams of the receiver page: today's latest ones
// for a stream that opens, then each new one. Publishing never waits for a stream: each has a
// backlog of its own, and one that falls too far behind is dropped.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receiver/journal_format.h"

inline constexpr size_t MAX_EVENT_STREAMS = 8;
// A stream whose unsent bytes pass this is dropped.
inline constexpr size_t MAX_STREAM_BACKLOG_BYTES = 256 * 1024;
// The scans a stream that opens is given, newest first.
inline constexpr size_t RECENT_SCANS_SHOWN = 100;

// The scan record the page reads: {"id":…,"text":…,"format":…,"confidence":…,"timestamp":…}.
// A scan the phone sent without an id is named by its time.
std::string live_scan_json(const JournalRecord& record);

// One open stream's side of the feed.
struct LiveScanListener {
    std::function<void()> wake;  // the stream has something to send, or was dropped
    std::string pending;         // event bytes not yet taken
    size_t in_flight = 0;        // taken, not yet reported sent
    bool woken = false;          // a wake is on its way
    bool dropped = false;
};

class LiveScanFeed;

// An open stream's place in the feed, given back on destruction.
class LiveScanSubscription {
  public:
    LiveScanSubscription(LiveScanFeed& feed, std::shared_ptr<LiveScanListener> listener)
        : feed_(feed), listener_(std::move(listener)) {}
    ~LiveScanSubscription();
    LiveScanSubscription(const LiveScanSubscription&) = delete;
    LiveScanSubscription& operator=(const LiveScanSubscription&) = delete;

    // Up to `most` bytes to send next (empty when none); they count as unsent until sent().
    std::string take(size_t most);
    void sent();
    bool dropped();

  private:
    LiveScanFeed& feed_;
    std::shared_ptr<LiveScanListener> listener_;
};

class LiveScanFeed {
  public:
    // A place for one more stream, its first bytes the "init" event of today's latest scans
    // (`today`: "YYYY-MM-DD"); nullptr when MAX_EVENT_STREAMS are open. `wake` is called from
    // any thread, under the feed's lock, and must not block.
    std::unique_ptr<LiveScanSubscription> subscribe(std::function<void()> wake,
                                                    const std::string& today);
    // A delivered scan: kept among the latest and sent to every stream as a "scan" event.
    void publish(const JournalRecord& record);
    // The latest scans read back from the journal at start, oldest first.
    void load(const std::vector<JournalRecord>& records);

  private:
    friend class LiveScanSubscription;
    void remember(const JournalRecord& record);

    std::mutex lock_;
    std::deque<JournalRecord> recent_;  // oldest first, at most RECENT_SCANS_SHOWN
    std::vector<std::shared_ptr<LiveScanListener>> listeners_;
};
