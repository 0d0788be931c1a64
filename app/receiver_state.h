// The one object shared by the window thread and the server threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/delivery_queue.h"
#include "app/desktop.h"
#include "app/receiver_settings.h"
#include "app/recent_scan_ids.h"
#include "net/adapter_entry.h"

// With a key delay, at most this many scans wait to be typed; later ones are refused.
inline constexpr size_t MAX_WAITING_SCANS = 1000;

// Posted to the main window after a line is queued; no parameters.
inline constexpr unsigned WM_LOG_PENDING = 0x8000 + 1;  // WM_APP + 1

struct ReceiverState {
    std::atomic<uint64_t> received_count{0};
    std::atomic<uint64_t> listener_generation{0};

    std::mutex adapters_lock;
    std::vector<AdapterEntry> adapters;  // fixed after start-up, never empty
    std::atomic<size_t> selected_adapter{0};

    std::mutex pending_log_lock;
    std::vector<std::string> pending_log;
    std::atomic<void*> main_window{nullptr};  // HWND once the window exists

    std::atomic<uint16_t> port{8080};
    std::mutex delivery_lock;  // guards no data: makes one scan's clipboard + typing a unit
    std::atomic<bool> auto_type{true};
    std::atomic<bool> press_enter{true};
    std::atomic<bool> copy_to_clipboard{true};
    RecentScanIds delivered_scan_ids;  // own lock, never held with another
    TypingOptions typing;              // fixed after start-up

    // Headless mode: no window will ever drain the queue, so lines go straight here instead.
    std::FILE* log_output = nullptr;
    Desktop desktop = platform_desktop();

    // Last, so that its thread ends before anything it delivers with goes away.
    DeliveryQueue paced_scans{MAX_WAITING_SCANS};
};

std::shared_ptr<ReceiverState> new_receiver_state(const ReceiverSettings& settings,
                                                  std::vector<AdapterEntry> adapters);

// Queues one display line (no terminator) and notifies the window, from any thread.
void push_log_line(ReceiverState& state, std::string line);

// Removes and returns every queued line in arrival order. Window thread only.
std::vector<std::string> take_log_lines(ReceiverState& state);

// "Port 8080  |  3 scan(s)"
std::string status_line(ReceiverState& state);

// Platform hook: posts WM_LOG_PENDING to the window; does nothing where there is no window.
void notify_log_pending(void* window);
