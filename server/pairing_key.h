// The pairing key that --pairing-key asks of every scan, so that only a phone that has opened
// the receiver's pairing URL (its QR code) can type into the PC.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/result.h"
#include "server/http.h"

struct ReceiverState;

inline constexpr size_t PAIRING_KEY_BYTES = 16;  // 128 bits

inline constexpr std::string_view PAIRING_KEY_REFUSAL =
    R"({"ok":false,"error":"Pairing key required: scan the QR code shown by the receiver again"})";

// A fresh key: PAIRING_KEY_BYTES from the system's secure random source in base64url without
// padding (22 characters, each of them safe in a URL as it is).
Result<std::string> new_pairing_key();

// RFC 4648 base64url, without padding.
std::string base64url(std::string_view bytes);

// The value of the first member `name` of a query ("a=1&key=xyz"), percent-decoded; nullopt
// when there is no such member.
std::optional<std::string> query_member(std::string_view query, std::string_view name);

// Whether `given` is the key, in a time that does not depend on where the two differ.
bool pairing_key_matches(std::string_view key, std::string_view given);

// When the receiver asks for a key and the scan lacks it or carries another: the 403, and a
// log line naming the client (at most one per client address per 10 s). nullopt when the scan
// may go on.
std::optional<HttpResponse> refuse_unpaired_scan(const HttpRequest& request, ReceiverState& state);
