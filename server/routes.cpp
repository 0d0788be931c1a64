#include "server/routes.h"

#include <charconv>

#include "app/receiver_state.h"
#include "app/utf8.h"
#include "net/endpoint.h"
#include "server/embedded_assets.h"
#include "server/pairing_key.h"

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

HttpResponse scan_response(std::string_view raw_body, ReceiverState& state) {
    const std::string body = utf8_lossy(raw_body);
    std::optional<std::string> text = json_string_field(body, "text");
    std::string_view trimmed = text ? trim_white_space(*text) : std::string_view();
    if (trimmed.empty()) {
        return json_response("400 Bad Request", R"({"ok":false,"error":"Missing barcode text"})");
    }
    Scan scan;
    scan.text = trimmed;
    if (std::optional<std::string> format = json_string_field(body, "format")) {
        scan.format = std::move(*format);
    }
    scan.confidence = parse_confidence(body);
    // The phone names each scan so that a resend after a lost reply is not typed twice.
    std::optional<std::string> id = json_string_field(body, "id");
    if (id && id->size() > MAX_SCAN_ID_BYTES) {
        return json_response("400 Bad Request",
                             R"({"ok":false,"error":"Scan id longer than 128 bytes"})");
    }
    // An empty id names no scan in particular: delivered like a scan without one.
    const bool named = id && !id->empty();
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

bool is_json_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

size_t skip_json_blanks(std::string_view s, size_t pos) {
    while (pos < s.size() && is_json_blank(s[pos])) ++pos;
    return pos;
}

int hex_digit_value(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

// The four characters at `pos` (just after "\u") read as a hexadecimal number, or -1 when
// they are not all hex digits; `pos` moves past them. nullopt when fewer than four remain.
std::optional<int32_t> read_hex4(std::string_view s, size_t& pos) {
    size_t p = pos;
    int32_t value = 0;
    for (int k = 0; k < 4; ++k) {
        if (p >= s.size()) return std::nullopt;
        int digit = hex_digit_value(next_code_point(s, p));
        value = value < 0 || digit < 0 ? -1 : value * 16 + digit;
    }
    pos = p;
    return value;
}

bool is_high_surrogate(int32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_low_surrogate(int32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// A "\u" escape whose "\u" is already consumed. A high surrogate directly followed by an
// escaped low surrogate is one character; any other surrogate is dropped.
void decode_unicode_escape(std::string_view s, size_t& pos, std::string& out) {
    size_t p = pos;
    std::optional<int32_t> unit = read_hex4(s, p);
    if (!unit) return;  // too short: only the backslash and the u go
    pos = p;
    if (is_high_surrogate(*unit)) {
        if (s.substr(p, 2) != "\\u") return;
        p += 2;
        std::optional<int32_t> low = read_hex4(s, p);
        if (!low || !is_low_surrogate(*low)) return;
        pos = p;
        append_utf8(out, 0x10000 + ((static_cast<char32_t>(*unit) - 0xD800) << 10) +
                             (static_cast<char32_t>(*low) - 0xDC00));
    } else if (*unit >= 0 && !is_low_surrogate(*unit)) {
        append_utf8(out, static_cast<char32_t>(*unit));
    }
}

// The string whose opening quote is just before `pos`; nullopt when it is not terminated.
std::optional<std::string> decode_json_string(std::string_view s, size_t pos) {
    std::string out;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') return out;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos == s.size()) return std::nullopt;
        char escaped = s[pos++];
        switch (escaped) {
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                decode_unicode_escape(s, pos, out);
                break;
            // A quote, a slash, a backslash and anything else stand for themselves. The lead
            // byte of a multi-byte character lands here; its other bytes follow as plain text.
            default:
                out += escaped;
                break;
        }
    }
    return std::nullopt;
}

std::string quoted_key(std::string_view key) {
    std::string pattern = "\"";
    pattern += key;
    pattern += '"';
    return pattern;
}

// The text after the first colon that follows the first quoted `key`, with White_Space
// skipped; nullopt when there is no such key or colon.
std::optional<std::string_view> value_after_key(std::string_view body, std::string_view key) {
    size_t found = body.find(quoted_key(key));
    if (found == std::string_view::npos) return std::nullopt;
    size_t colon = body.find(':', found + key.size() + 2);
    if (colon == std::string_view::npos) return std::nullopt;
    size_t pos = colon + 1;
    while (pos < body.size()) {
        size_t next = pos;
        if (!is_white_space(next_code_point(body, next))) break;
        pos = next;
    }
    return body.substr(pos);
}

}  // namespace

HttpResponse route_request(const HttpRequest& request, ReceiverState& state) {
    if (request.method == "OPTIONS") return {"204 No Content", "text/plain", ""};
    if (request.method == "GET" && request.path == "/api/ping") return ping_response(state);
    if (request.method == "POST" && request.path == "/api/scan") {
        if (std::optional<HttpResponse> refused = refuse_unpaired_scan(request, state)) {
            return *refused;
        }
        return scan_response(request.body, state);
    }
    if (request.method == "GET") {
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

std::optional<std::string> json_string_field(std::string_view body, std::string_view key) {
    const std::string pattern = quoted_key(key);
    size_t pos = 0;
    for (;;) {
        size_t found = body.find(pattern, pos);
        if (found == std::string_view::npos) return std::nullopt;
        pos = skip_json_blanks(body, found + pattern.size());
        if (pos < body.size() && body[pos] == ':') break;
        pos = found + pattern.size();
    }
    pos = skip_json_blanks(body, pos + 1);
    if (pos >= body.size() || body[pos] != '"') return std::nullopt;
    return decode_json_string(body, pos + 1);
}

uint32_t parse_confidence(std::string_view body) {
    constexpr uint32_t DEFAULT_CONFIDENCE = 100;
    std::optional<std::string_view> value = value_after_key(body, "confidence");
    if (!value) return DEFAULT_CONFIDENCE;
    size_t digits = 0;
    while (digits < value->size() && (*value)[digits] >= '0' && (*value)[digits] <= '9') ++digits;
    uint32_t number = 0;
    auto [end, error] = std::from_chars(value->data(), value->data() + digits, number);
    if (digits == 0 || error != std::errc()) return DEFAULT_CONFIDENCE;
    return number;
}

PressEnterRequest parse_press_enter(std::string_view body) {
    std::optional<std::string_view> value = value_after_key(body, "pressEnter");
    if (!value) return PressEnterRequest::absent;
    if (value->starts_with("true")) return PressEnterRequest::yes;
    if (value->starts_with("false")) return PressEnterRequest::no;
    return PressEnterRequest::absent;
}

std::string json_quote(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 2);
    out += '"';
    for (char c : value) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    constexpr char HEX[] = "0123456789abcdef";
                    out += "\\u00";
                    out += HEX[c >> 4];
                    out += HEX[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}
