// Delivery of one scan to the desktop: clipboard, typing, Enter, count and log line.
#pragma once

#include <cstdint>
#include <string>

struct ReceiverState;

struct Scan {
    std::string text;                // never empty, trimmed
    std::string format = "BARCODE";  // symbology name as the phone sent it
    uint32_t confidence = 100;       // percentage as sent
    std::string id{};                // as the phone named it; empty when it did not
    std::string client_address{};    // the phone's dotted IPv4 address, for the journal
};

// The request's "pressEnter" member: it can suppress Enter but never force it.
enum class PressEnterRequest { absent, yes, no };

void deliver_scan(ReceiverState& state, const Scan& scan, PressEnterRequest press_enter_request);

// Delivers the scan now, or with a key delay queues it to be typed after those before it and
// returns at once, since typing it may take far longer than the phone waits for an answer.
// False, with nothing delivered, when too many scans are already waiting.
bool accept_scan(ReceiverState& state, const Scan& scan, PressEnterRequest press_enter_request);

// A resend of a scan already delivered: only its log line, with the outcome "Already received".
void report_repeated_scan(ReceiverState& state, const Scan& scan);

// "HH:MM:SS" of UTC for seconds since 1970 (negative clocks count as 0).
std::string utc_time_stamp(int64_t seconds_since_epoch);

// "[time] [format] text (confidence% - outcome)"
std::string scan_log_line(const std::string& time_stamp, const Scan& scan,
                          const std::string& outcome);
