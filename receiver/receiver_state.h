// The one object shared by the window thread and the server threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/log_throttle.h"
#include "desktop/desktop.h"
#include "net/adapter_entry.h"
#include "receiver/command_line.h"
#include "receiver/delivery_queue.h"
#include "receiver/live_scans.h"
#include "receiver/recent_scan_ids.h"
#include "receiver/scan_journal.h"

// With a key delay, at most this many scans wait to be typed; later ones are refused.
inline constexpr size_t MAX_WAITING_SCANS = 1000;

struct ReceiverState {
    std::atomic<uint64_t> received_count{0};
    std::atomic<uint64_t> listener_generation{0};

    std::mutex adapters_lock;
    std::vector<AdapterEntry> adapters;  // fixed after start-up, never empty
    std::atomic<size_t> selected_adapter{0};

    std::mutex pending_log_lock;
    std::vector<std::string> pending_log;
    // Told after each queued line, on the thread that queued it; set by the window once it
    // exists (it posts itself a message). Guarded by pending_log_lock.
    std::function<void()> log_observer;

    std::atomic<uint16_t> port{8080};
    std::mutex delivery_lock;  // guards no data: makes one scan's clipboard + typing a unit
    std::atomic<bool> auto_type{true};
    std::atomic<bool> press_enter{true};
    std::atomic<bool> copy_to_clipboard{true};
    RecentScanIds delivered_scan_ids;  // own lock, never held with another
    // How scans are typed; the settings dialog may change it while scans arrive. Read it with
    // current_typing(); the lock is never held with another.
    std::mutex typing_lock;
    TypingOptions typing;
    // "Pause typing": scans are still received, copied and logged, but not typed.
    std::atomic<bool> typing_paused{false};
    std::atomic<bool> close_to_tray{false};
    std::atomic<bool> start_with_windows{false};

    // Whether what the user changes is saved (not with --ignore-settings). Set at start-up.
    bool saving_settings = false;
    std::atomic<bool> save_failure_logged{false};  // one log line per run is enough

    // Headless mode: no window will ever drain the queue, so lines go straight here instead.
    std::FILE* log_output = nullptr;
    Desktop desktop = platform_desktop();

    // With --pairing-key, the key every scan must carry; empty when none is asked. Set at
    // start-up; the settings dialog may switch it on or off. Read it with current_pairing_key().
    std::mutex pairing_key_lock;
    std::string pairing_key;
    // The lasting identity, set once at start-up before the server starts: the server
    // certificate and key every start serves, and the local CA's certificate (DER) that
    // phones install. All empty with --ephemeral-identity: each start makes its own.
    std::string tls_certificate_pem;
    std::string tls_key_pem;
    std::string ca_certificate;
    std::string ca_fingerprint;  // SHA-256 of ca_certificate, "AB:CD:..."
    // Where the pairing key is kept with the identity, so that a key switched on in the window
    // is the one the next start uses; empty with --ephemeral-identity.
    std::filesystem::path identity_folder;
    // One "wrong pairing key" line per client address per 10 s.
    LogThrottle refused_scan_log{std::chrono::seconds(10)};

    ScanJournal journal;      // own lock, taken before the feed's
    LiveScanFeed live_scans;  // own lock, never held with another but the journal's

    // Last, so that its thread ends before anything it delivers with goes away.
    DeliveryQueue paced_scans{MAX_WAITING_SCANS};
};

std::shared_ptr<ReceiverState> new_receiver_state(const ReceiverSettings& settings,
                                                  std::vector<AdapterEntry> adapters);

// A copy of the adapter list.
std::vector<AdapterEntry> current_adapters(ReceiverState& state);

// A copy of the typing options in use, for one scan.
TypingOptions current_typing(ReceiverState& state);
void set_typing(ReceiverState& state, TypingOptions typing);

// The pairing key in use (empty: none), and a new one, or none, from now on.
std::string current_pairing_key(ReceiverState& state);
void set_pairing_key(ReceiverState& state, std::string key);

// Queues one display line (no terminator) and tells the log observer, from any thread.
void push_log_line(ReceiverState& state, std::string line);

// Sets the one observer of queued lines; it must not block (it runs under the queue's lock).
void set_log_observer(ReceiverState& state, std::function<void()> observer);

// Removes and returns every queued line in arrival order. Window thread only.
std::vector<std::string> take_log_lines(ReceiverState& state);

// "Port 8080  |  3 scan(s)"
std::string status_line(ReceiverState& state);

// The address of the selected adapter (the first one when the index is out of range,
// "127.0.0.1" when the list is empty). Takes the adapter lock for the copy.
std::string selected_lan_ip(ReceiverState& state);

// "https://{ip}:{port}/?pc=" + the percent-encoded scan endpoint, for the current state; with
// a pairing key the endpoint carries it ("/api/scan?key=..."). Computed afresh on every call,
// so it follows the adapter choice and the port at once.
std::string pairing_url(ReceiverState& state);

// "Phones: open https://{ip}:{port}/trust.html once to stop certificate warnings" with a
// lasting identity; empty without one.
std::string trust_hint(ReceiverState& state);
