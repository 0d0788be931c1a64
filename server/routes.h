// Routing of one request: CORS preflight, the JSON API and the embedded web files.
#pragma once

#include <string_view>

#include "core/json_fields.h"
#include "receiver/scan_delivery.h"
#include "server/http.h"

inline constexpr std::string_view PAIRING_KEY_REFUSAL =
    R"({"ok":false,"error":"Pairing key required: scan the QR code shown by the receiver again"})";

// Chooses the answer from the exact method and path; a scan is delivered, or with a
// key delay queued, before it returns.
HttpResponse route_request(const HttpRequest& request, ReceiverState& state);

// True for a request whose answer may wait on the desktop (a scan is typed and copied), so
// it is answered off the connection's event loop.
bool route_may_block(const HttpRequest& request);

// true or false after the first colon behind `"pressEnter"`; absent for anything else.
PressEnterRequest parse_press_enter(std::string_view body);
