// The pairing key that --pairing-key asks of every scan, so that only a phone that has opened
// the receiver's pairing URL (its QR code) can type into the PC.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

struct ReceiverState;

inline constexpr size_t PAIRING_KEY_BYTES = 16;  // 128 bits

// A fresh key: PAIRING_KEY_BYTES from the system's secure random source in base64url without
// padding (22 characters, each of them safe in a URL as it is).
Result<std::string> new_pairing_key();

// Whether `given` is the key, in a time that does not depend on where the two differ.
bool pairing_key_matches(std::string_view key, std::string_view given);

// Whether a scan whose request query is `query` may go on: always when the receiver asks for
// no key. When the scan lacks the key or carries another, false and a log line naming the
// client (at most one per client address per 10 s).
bool scan_key_accepted(ReceiverState& state, std::string_view query,
                       const std::string& client_address);
