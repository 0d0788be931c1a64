// Routing of one request: CORS preflight, the JSON API and the embedded web files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/scan_delivery.h"
#include "server/http.h"

// Chooses the answer from the exact method and path; a scan is delivered, or with a
// key delay queued, before it returns.
HttpResponse route_request(const HttpRequest& request, ReceiverState& state);

// True for a request whose answer may wait on the desktop (a scan is typed and copied), so
// it is answered off the connection's event loop.
bool route_may_block(const HttpRequest& request);

// The receiver carries no JSON parser: members are found by text search.

// Decoded value of the first `"key"` followed by a colon, when a string follows that colon;
// nullopt when absent, not a string or unterminated.
std::optional<std::string> json_string_field(std::string_view body, std::string_view key);

// The digits after the first colon behind `"confidence"` (a fraction is cut off); 100 when
// there are none or they do not fit in 32 bits.
uint32_t parse_confidence(std::string_view body);

// true or false after the first colon behind `"pressEnter"`; absent for anything else.
PressEnterRequest parse_press_enter(std::string_view body);

// A JSON string literal, quotes included. Only the quote, the backslash and controls are
// escaped; everything else stays as it is, the slash included.
std::string json_quote(std::string_view value);
