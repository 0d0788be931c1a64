#include "server/http.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "app/utf8.h"
#include "server/routes.h"

namespace {

// One connection's read buffer. Lines are handed out as views into it, so reading a
// request allocates nothing but the method, the path and the body.
struct LineBuffer {
    std::array<char, READ_BUFFER_BYTES> bytes;
    size_t begin = 0;  // first byte not yet handed out
    size_t end = 0;    // one past the last byte read from the stream
    bool stream_ended = false;
    size_t header_section_bytes = 0;
};

// The next line, its LF included, or what is left before the end of the stream (empty once
// nothing is). nullopt on a read error, over a size cap, or for a line that is not UTF-8.
std::optional<std::string_view> read_line(LineBuffer& in, ByteStream& stream) {
    size_t scanned = in.begin;
    size_t stop;
    for (;;) {
        const void* lf = std::memchr(in.bytes.data() + scanned, '\n', in.end - scanned);
        if (lf != nullptr) {
            stop = static_cast<const char*>(lf) - in.bytes.data() + 1;
            break;
        }
        scanned = in.end;
        if (in.stream_ended) {
            stop = in.end;
            break;
        }
        if (in.end - in.begin >= MAX_LINE_BYTES) return std::nullopt;
        if (in.end == in.bytes.size()) {
            std::memmove(in.bytes.data(), in.bytes.data() + in.begin, in.end - in.begin);
            scanned -= in.begin;
            in.end -= in.begin;
            in.begin = 0;
        }
        std::ptrdiff_t n = stream.read(in.bytes.data() + in.end, in.bytes.size() - in.end);
        if (n < 0) return std::nullopt;
        if (n == 0) in.stream_ended = true;
        in.end += static_cast<size_t>(n);
    }
    std::string_view line(in.bytes.data() + in.begin, stop - in.begin);
    in.begin = stop;
    in.header_section_bytes += line.size();
    if (line.size() > MAX_LINE_BYTES || in.header_section_bytes > MAX_HEADER_SECTION_BYTES) {
        return std::nullopt;
    }
    if (!is_valid_utf8(line)) return std::nullopt;
    return line;
}

// Fills `out` from the buffered bytes, then straight from the stream. False when the stream
// ends or fails first. Nothing beyond `out.size()` bytes is ever read.
bool read_exact(LineBuffer& in, ByteStream& stream, std::string& out) {
    size_t filled = std::min(in.end - in.begin, out.size());
    std::memcpy(out.data(), in.bytes.data() + in.begin, filled);
    in.begin += filled;
    while (filled < out.size()) {
        if (in.stream_ended) return false;
        std::ptrdiff_t n = stream.read(out.data() + filled, out.size() - filled);
        if (n <= 0) return false;
        filled += static_cast<size_t>(n);
    }
    return true;
}

bool equals_ascii_case_insensitive(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

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

ReadResult close_without_answer() {
    return {ReadOutcome::close_without_answer, {}};
}

}  // namespace

ReadResult read_request(ByteStream& stream) {
    LineBuffer in;
    std::optional<std::string_view> line = read_line(in, stream);
    if (!line) return close_without_answer();
    std::vector<std::string_view> tokens = split_white_space(*line);
    if (tokens.size() < 2) return close_without_answer();
    ReadResult result{ReadOutcome::request, {}};
    result.request.method = tokens[0];
    const size_t question = tokens[1].find('?');
    result.request.path = tokens[1].substr(0, question);
    if (question != std::string_view::npos) result.request.query = tokens[1].substr(question + 1);

    size_t content_length = 0;
    for (;;) {
        line = read_line(in, stream);
        if (!line) return close_without_answer();
        std::string_view header = trim_white_space(*line);
        if (header.empty()) break;
        size_t colon = header.find(':');
        if (colon == std::string_view::npos) continue;
        if (!equals_ascii_case_insensitive(header.substr(0, colon), "content-length")) continue;
        std::optional<uint64_t> value =
            parse_content_length(trim_white_space(header.substr(colon + 1)));
        content_length =
            value ? static_cast<size_t>(std::min<uint64_t>(*value, MAX_BODY_BYTES)) : 0;
    }
    stream.request_head_read();

    result.request.body.assign(content_length, '\0');
    const bool whole = read_exact(in, stream, result.request.body);
    stream.request_read();
    if (!whole) return {ReadOutcome::incomplete_body, {}};
    return result;
}

// Fits one TLS record (16 KiB) together with the header block.
constexpr size_t SINGLE_WRITE_BODY_BYTES = 16384 - 512;

Status write_response(ByteStream& stream, const HttpResponse& response) {
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
        "\r\nAccess-Control-Allow-Headers: Content-Type"
        "\r\nConnection: close"
        "\r\n\r\n";
    // A small answer goes out as one write, so one TLS record and one send carry it whole.
    if (response.body.size() <= SINGLE_WRITE_BODY_BYTES) {
        head += response.body;
        if (Status s = stream.write_all(head); !s.ok()) return s;
        return stream.flush();
    }
    if (Status s = stream.write_all(head); !s.ok()) return s;
    if (Status s = stream.write_all(response.body); !s.ok()) return s;
    return stream.flush();
}

HttpResponse incomplete_body_response() {
    return {"400 Bad Request", std::string(JSON_CONTENT_TYPE),
            R"({"ok":false,"error":"Incomplete request body"})"};
}

void serve_request(ByteStream& stream, const Router& route, const std::string& client_address) {
    ReadResult read = read_request(stream);
    read.request.client_address = client_address;
    switch (read.outcome) {
        case ReadOutcome::close_without_answer:
            return;
        case ReadOutcome::incomplete_body:
            (void)write_response(stream, incomplete_body_response());
            return;
        case ReadOutcome::request:
            // A failed write only means the client went away; the connection closes anyway.
            (void)write_response(stream, route(read.request));
            return;
    }
}

void serve_request(ByteStream& stream, const std::shared_ptr<ReceiverState>& state,
                   const std::string& client_address) {
    serve_request(
        stream, [&state](const HttpRequest& request) { return route_request(request, *state); },
        client_address);
}
