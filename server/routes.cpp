#include "server/routes.h"

#include "core/json_fields.h"
#include "core/utf8.h"
#include "net/endpoint.h"
#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_journal.h"
#include "server/app_routes.h"
#include "server/embedded_assets.h"
#include "server/trust_routes.h"

namespace {

HttpResponse json_response(std::string status, std::string body) {
    return {std::move(status), std::string(JSON_CONTENT_TYPE), std::move(body)};
}

HttpResponse ping_response(ReceiverState& state) {
    return json_response(
        "200 OK", R"({"ok":true,"client":"quillmark-receiver-gui","protocol":"https","host":)" +
                      json_quote(host_display_name()) + R"(,"port":)" +
                      std::to_string(state.port.load(std::memory_order_relaxed)) +
                      R"(,"lanAddresses":[)" + json_quote(selected_lan_ip(state)) + "]}");
}

// The members every scan record takes from its body, the text and id aside.
Scan scan_from(const std::string& body, const HttpRequest& request) {
    Scan scan;
    if (std::optional<std::string> format = json_string_field(body, "format")) {
        scan.format = std::move(*format);
    }
    scan.confidence = parse_confidence(body);
    scan.client_address = request.client_address;
    return scan;
}

// The journal keeps a refused scan without its text.
void record_refusal(const HttpRequest& request, ReceiverState& state) {
    if (!refusal_due(state, request.client_address)) return;
    const std::string body = utf8_lossy(request.body);
    Scan scan = scan_from(body, request);
    std::optional<std::string> id = json_string_field(body, "id");
    if (id && id->size() <= MAX_SCAN_ID_BYTES) scan.id = std::move(*id);
    record_scan(state, scan, JournalOutcome::refused);
}

HttpResponse scan_response(const HttpRequest& request, ReceiverState& state) {
    const std::string body = utf8_lossy(request.body);
    std::optional<std::string> text = json_string_field(body, "text");
    std::string_view trimmed = text ? trim_white_space(*text) : std::string_view();
    if (trimmed.empty()) {
        return json_response("400 Bad Request", R"({"ok":false,"error":"Missing barcode text"})");
    }
    Scan scan = scan_from(body, request);
    scan.text = trimmed;
    // The phone names each scan so that a resend after a lost reply is not typed twice.
    std::optional<std::string> id = json_string_field(body, "id");
    if (id && id->size() > MAX_SCAN_ID_BYTES) {
        return json_response("400 Bad Request",
                             R"({"ok":false,"error":"Scan id longer than 128 bytes"})");
    }
    // An empty id names no scan in particular: delivered like a scan without one.
    const bool named = id && !id->empty();
    if (named) scan.id = *id;
    if (named && !remember_scan_id(state.delivered_scan_ids, *id)) {
        report_repeated_scan(state, scan);
    } else if (!accept_scan(state, scan, parse_press_enter(body))) {
        // Not typed, so a later resend of it must be typed, not taken for a repeat.
        if (named) forget_scan_id(state.delivered_scan_ids, *id);
        return json_response("503 Service Unavailable",
                             R"({"ok":false,"error":"Too many scans are waiting to be typed"})");
    }
    // A resend gets the first answer again: it echoes the same record.
    return json_response("200 OK", R"({"ok":true,"scan":{"text":)" + json_quote(scan.text) +
                                       R"(,"format":)" + json_quote(scan.format) +
                                       R"(,"confidence":)" + std::to_string(scan.confidence) +
                                       "}}");
}

HttpResponse not_found_response() {
    return {"404 Not Found", "text/plain; charset=utf-8", "Not found"};
}

}  // namespace

HttpResponse route_request(const HttpRequest& request, ReceiverState& state) {
    if (request.method == "OPTIONS") return {"204 No Content", "text/plain", ""};
    if (request.method == "GET" && request.path == "/api/ping") return ping_response(state);
    if (request.method == "POST" && request.path == "/api/scan") {
        if (!scan_key_accepted(state, request.query, request.client_address)) {
            record_refusal(request, state);
            return json_response("403 Forbidden", std::string(PAIRING_KEY_REFUSAL));
        }
        return scan_response(request, state);
    }
    if (request.method == "GET") {
        if (std::optional<HttpResponse> trust = trust_response(request.path, state)) {
            return std::move(*trust);
        }
        if (std::optional<HttpResponse> app = app_response(request)) return std::move(*app);
        if (const EmbeddedAsset* asset = find_embedded_asset(request.path)) {
            return {"200 OK", std::string(asset->content_type), std::string(asset->bytes),
                    asset->cache_control};
        }
    }
    return not_found_response();
}

bool route_may_block(const HttpRequest& request) {
    return request.method == "POST" && request.path == "/api/scan";
}

PressEnterRequest parse_press_enter(std::string_view body) {
    std::optional<std::string_view> value = json_value_after_key(body, "pressEnter");
    if (!value) return PressEnterRequest::absent;
    if (value->starts_with("true")) return PressEnterRequest::yes;
    if (value->starts_with("false")) return PressEnterRequest::no;
    return PressEnterRequest::absent;
}
