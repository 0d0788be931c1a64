#include "server/http.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "core/text_codes.h"
#include "core/utf8.h"

namespace {

// One optional "+", then only digits, fitting in 64 bits.
std::optional<uint64_t> parse_content_length(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::optional<ReadOutcome> RequestReader::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        switch (phase_) {
            case Phase::decided:
                return outcome_;
            case Phase::body: {
                const size_t take = std::min(bytes.size(), content_length_ - body_filled_);
                std::memcpy(request_.body.data() + body_filled_, bytes.data(), take);
                body_filled_ += take;
                if (body_filled_ < content_length_) return std::nullopt;
                surplus_.assign(bytes.substr(take));
                return decide(ReadOutcome::request);
            }
            case Phase::request_line:
            case Phase::headers:
                break;
        }
        const size_t feed_at = bytes.find('\n');
        if (feed_at == std::string_view::npos) {
            // A line that already fills the read buffer without its LF can never fit.
            if (partial_line_.size() + bytes.size() >= MAX_LINE_BYTES) {
                return decide(ReadOutcome::close_without_answer);
            }
            partial_line_.append(bytes);
            return std::nullopt;
        }
        const std::string_view rest = bytes.substr(0, feed_at + 1);
        bytes.remove_prefix(feed_at + 1);
        std::optional<ReadOutcome> decided;
        if (partial_line_.empty()) {
            decided = take_line(rest);
        } else {
            partial_line_.append(rest);
            const std::string line = std::move(partial_line_);
            partial_line_.clear();
            decided = take_line(line);
        }
        if (decided) {
            if (*decided == ReadOutcome::request) surplus_.assign(bytes);
            return decided;
        }
    }
    return phase_ == Phase::decided ? std::optional(outcome_) : std::nullopt;
}

std::optional<ReadOutcome> RequestReader::take_line(std::string_view line) {
    header_section_bytes_ += line.size();
    if (line.size() > MAX_LINE_BYTES || header_section_bytes_ > MAX_HEADER_SECTION_BYTES ||
        !is_valid_utf8(line)) {
        return decide(ReadOutcome::close_without_answer);
    }
    if (phase_ == Phase::request_line) {
        std::vector<std::string_view> tokens = split_white_space(line);
        if (tokens.size() < 2) return decide(ReadOutcome::close_without_answer);
        http11_ = tokens.size() == 3 && tokens[2] == "HTTP/1.1";
        request_.method = tokens[0];
        const size_t question = tokens[1].find('?');
        request_.path = tokens[1].substr(0, question);
        if (question != std::string_view::npos) request_.query = tokens[1].substr(question + 1);
        phase_ = Phase::headers;
        return std::nullopt;
    }
    std::string_view header = trim_white_space(line);
    if (header.empty()) return end_head();
    size_t colon = header.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    take_header(header.substr(0, colon), trim_white_space(header.substr(colon + 1)));
    return std::nullopt;
}

// Besides the body's length, what decides whether the connection may carry another request:
// a body whose end is uncertain (chunked, a length cut to MAX_BODY_BYTES, two lengths) would
// have its rest read as the next request.
void RequestReader::take_header(std::string_view name, std::string_view value) {
    if (equals_ascii_case_insensitive(name, "connection")) {
        while (!value.empty()) {
            const size_t comma = value.find(',');
            if (equals_ascii_case_insensitive(trim_white_space(value.substr(0, comma)), "close")) {
                close_asked_ = true;
            }
            value = comma == std::string_view::npos ? "" : value.substr(comma + 1);
        }
    } else if (equals_ascii_case_insensitive(name, "transfer-encoding")) {
        framing_clear_ = false;
    } else if (equals_ascii_case_insensitive(name, "content-length")) {
        std::optional<uint64_t> length = parse_content_length(value);
        if (!length || *length > MAX_BODY_BYTES || content_length_seen_) framing_clear_ = false;
        content_length_seen_ = true;
        content_length_ =
            length ? static_cast<size_t>(std::min<uint64_t>(*length, MAX_BODY_BYTES)) : 0;
    }
}

std::optional<ReadOutcome> RequestReader::end_head() {
    phase_ = Phase::body;
    head_done_ = true;
    request_.keep_alive = http11_ && !close_asked_ && framing_clear_;
    request_.body.assign(content_length_, '\0');
    if (content_length_ == 0) return decide(ReadOutcome::request);
    return std::nullopt;
}

ReadOutcome RequestReader::end_of_stream() {
    if (phase_ == Phase::request_line || phase_ == Phase::headers) {
        // The end of the stream ends the last line; every line after it is empty.
        const std::string last = std::move(partial_line_);
        partial_line_.clear();
        if (std::optional<ReadOutcome> decided = take_line(last)) return *decided;
        if (phase_ == Phase::headers) {
            if (std::optional<ReadOutcome> decided = end_head()) return *decided;
        }
    }
    return read_failed();
}

ReadOutcome RequestReader::read_failed() {
    switch (phase_) {
        case Phase::decided:
            return outcome_;
        case Phase::body:
            return decide(ReadOutcome::incomplete_body);
        default:
            return decide(ReadOutcome::close_without_answer);
    }
}

size_t RequestReader::wanted() const {
    switch (phase_) {
        case Phase::decided:
            return 0;
        case Phase::body:
            return content_length_ - body_filled_;
        default:
            return READ_BUFFER_BYTES - partial_line_.size();
    }
}

ReadOutcome RequestReader::decide(ReadOutcome outcome) {
    phase_ = Phase::decided;
    outcome_ = outcome;
    if (outcome != ReadOutcome::request) request_ = {};
    return outcome;
}

std::string response_head(const HttpResponse& response, bool keep_alive) {
    std::string head;
    head.reserve(256 + response.status.size() + response.content_type.size() +
                 response.cache_control.size());
    head += "HTTP/1.1 ";
    head += response.status;
    head += "\r\nContent-Type: ";
    head += response.content_type;
    head += "\r\nContent-Length: ";
    head += std::to_string(response.body.size());
    head += "\r\nCache-Control: ";
    head += response.cache_control;
    head +=
        "\r\nAccess-Control-Allow-Origin: *"
        "\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS"
        "\r\nAccess-Control-Allow-Headers: Content-Type";
    if (keep_alive) {
        head += "\r\nConnection: keep-alive\r\nKeep-Alive: timeout=";
        head += std::to_string(KEEP_ALIVE_TIMEOUT_SECONDS);
        head += "\r\n\r\n";
    } else {
        head += "\r\nConnection: close\r\n\r\n";
    }
    return head;
}

std::string response_bytes(const HttpResponse& response, bool keep_alive) {
    std::string bytes = response_head(response, keep_alive);
    bytes += response.body;
    return bytes;
}

HttpResponse incomplete_body_response() {
    return {"400 Bad Request", std::string(JSON_CONTENT_TYPE),
            R"({"ok":false,"error":"Incomplete request body"})"};
}
