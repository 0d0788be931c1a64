// The pairing key that --pairing-key asks of every scan, so that only a phone that has opened
// the receiver's pairing URL (its QR code) can type into the PC.
#pragma once

#include <cstddef>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

struct ReceiverState;

inline constexpr size_t PAIRING_KEY_BYTES = 16;  // 128 bits
// Its length in base64url without padding.
inline constexpr size_t PAIRING_KEY_CHARS = (PAIRING_KEY_BYTES * 4 + 2) / 3;

// A fresh key: PAIRING_KEY_BYTES from the system's secure random source in base64url without
// padding (22 characters, each of them safe in a URL as it is).
Result<std::string> new_pairing_key();

// The key kept in `folder` (file "pairing-key", beside the lasting identity), so that a paired
// phone stays paired across restarts. A missing or malformed one (a malformed file is set
// aside with a line in `log`) is replaced by a new key, as is any with `renew`.
inline constexpr const char* PAIRING_KEY_FILE = "pairing-key";
// Held while a receiver opens the identity folder, so that two started at once make one CA
// and one key.
inline constexpr const char* IDENTITY_LOCK_FILE = "lock";
// A holder builds the identity in well under a second; one stuck for longer must not keep this
// receiver from starting (it then runs without the lasting identity, and says so).
inline constexpr std::chrono::seconds IDENTITY_LOCK_PATIENCE{15};
Result<std::string> stored_pairing_key(const std::filesystem::path& folder, bool renew,
                                       std::vector<std::string>& log);

// The key kept beside the state's lasting identity (a new one with `renew`), or a fresh one
// when this run keeps no identity; its log lines go to the state's log.
Result<std::string> pairing_key_for(ReceiverState& state, bool renew);

// Whether `given` is the key, in a time that does not depend on where the two differ.
bool pairing_key_matches(std::string_view key, std::string_view given);

// Whether the request query's "key" member is `key`.
bool query_carries_key(std::string_view key, std::string_view query);

// Whether a scan whose request query is `query` may go on: always when the receiver asks for
// no key. When the scan lacks the key or carries another, false and a log line naming the
// client (at most one per client address per 10 s).
bool scan_key_accepted(ReceiverState& state, std::string_view query,
                       const std::string& client_address);
