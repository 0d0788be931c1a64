#include "receiver/scan_delivery.h"

#include <chrono>
#include <cstdio>

#include "receiver/receiver_state.h"
#include "receiver/scan_journal.h"

namespace {

std::string time_stamp_now() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return utc_time_stamp(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

void deliver_scan(ReceiverState& state, const Scan& scan, PressEnterRequest press_enter_request) {
    std::string outcome;
    const auto add_outcome = [&outcome](std::string_view word) {
        if (!outcome.empty()) outcome += " & ";
        outcome += word;
    };
    const TypingOptions typing = current_typing(state);  // the same for the whole scan
    {
        // One scan's clipboard copy and keystrokes form a unit: two scans never interleave.
        std::lock_guard lock(state.delivery_lock);
        const bool copy = state.copy_to_clipboard.load(std::memory_order_relaxed);
        const bool type = state.auto_type.load(std::memory_order_relaxed);
        // Paused only matters where the scan would have been typed.
        const bool paused = type && state.typing_paused.load(std::memory_order_relaxed);
        // On record before the desktop is touched: a crash while typing loses nothing.
        record_scan(state, scan, delivery_outcome(paused, type, copy));
        if (copy && state.desktop.copy_text(scan.text).ok()) add_outcome("Copied");
        if (!type) {
            // not typed, as asked
        } else if (paused) {
            add_outcome("Paused");  // typing is on, but held for now
        } else {
            bool with_suffix = state.press_enter.load(std::memory_order_relaxed) &&
                               press_enter_request != PressEnterRequest::no;
            if (state.desktop.type_text(scan.text, with_suffix, typing).ok()) {
                add_outcome(typed_outcome(with_suffix, typing.suffix_key));
            }
        }
    }
    state.received_count.fetch_add(1);
    if (outcome.empty()) outcome = "Received";

    push_log_line(state, scan_log_line(time_stamp_now(), scan, outcome));
}

void report_repeated_scan(ReceiverState& state, const Scan& scan) {
    record_scan(state, scan, JournalOutcome::already_received);
    push_log_line(state, scan_log_line(time_stamp_now(), scan, "Already received"));
}

bool accept_scan(ReceiverState& state, const Scan& scan, PressEnterRequest press_enter_request) {
    if (current_typing(state).key_delay_ms == 0) {
        deliver_scan(state, scan, press_enter_request);
        return true;
    }
    return state.paced_scans.post(
        [&state, scan, press_enter_request] { deliver_scan(state, scan, press_enter_request); });
}

std::string utc_time_stamp(int64_t seconds_since_epoch) {
    uint64_t s = seconds_since_epoch < 0 ? 0 : static_cast<uint64_t>(seconds_since_epoch);
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(s / 3600 % 24),
                  static_cast<unsigned>(s / 60 % 60), static_cast<unsigned>(s % 60));
    return text;
}

std::string scan_log_line(const std::string& time_stamp, const Scan& scan,
                          const std::string& outcome) {
    return "[" + time_stamp + "] [" + scan.format + "] " + scan.text + " (" +
           std::to_string(scan.confidence) + "% - " + outcome + ")";
}
