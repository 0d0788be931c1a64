// Routing of one request: CORS preflight, the JSON API and the embedded web files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/scan_delivery.h"
#include "server/http.h"

HttpResponse route_request(const HttpRequest& request, ReceiverState& state);

// Decoded value of the first `"key"` followed by a colon and a string; nullopt when absent.
std::optional<std::string> json_string_field(std::string_view body, std::string_view key);
uint32_t parse_confidence(std::string_view body);
PressEnterRequest parse_press_enter(std::string_view body);
std::string json_quote(std::string_view value);
