// HTTP/1.1 framing: one request read from a stream, one response written back.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "server/byte_stream.h"

struct ReceiverState;

inline constexpr size_t MAX_BODY_BYTES = 65536;
inline constexpr size_t READ_BUFFER_BYTES = 8192;
// A request or header line (its LF included) longer than MAX_LINE_BYTES, or a header section
// (request line to blank line) larger than MAX_HEADER_SECTION_BYTES, closes the connection
// without an answer, so a client can never make the receiver buffer without bound.
inline constexpr size_t MAX_LINE_BYTES = 8192;
inline constexpr size_t MAX_HEADER_SECTION_BYTES = 65536;
static_assert(MAX_LINE_BYTES <= READ_BUFFER_BYTES, "a whole line must fit in the read buffer");

inline constexpr std::string_view JSON_CONTENT_TYPE = "application/json; charset=utf-8";

struct HttpRequest {
    std::string method;
    std::string path;              // the request target up to its first "?"
    std::string body;              // at most MAX_BODY_BYTES
    std::string query{};           // what follows that "?", without it; empty when there is none
    std::string client_address{};  // the peer's dotted IPv4 address, when the server knows it
};

struct HttpResponse {
    std::string status;  // "404 Not Found"
    std::string content_type;
    std::string body;
    std::string_view cache_control = "no-store";  // a static text
};

enum class ReadOutcome { request, incomplete_body, close_without_answer };

struct ReadResult {
    ReadOutcome outcome;
    HttpRequest request;
};

ReadResult read_request(ByteStream& stream);

// The fixed header block, then the body, then a flush. Stops at the first failed write.
Status write_response(ByteStream& stream, const HttpResponse& response);

// The 400 for a body shorter than its Content-Length.
HttpResponse incomplete_body_response();

using Router = std::function<HttpResponse(const HttpRequest&)>;

// Reads one request, answers it through `route` (or with the 400 for a short body).
// `client_address` is handed on in the request.
void serve_request(ByteStream& stream, const Router& route, const std::string& client_address = "");
void serve_request(ByteStream& stream, const std::shared_ptr<ReceiverState>& state,
                   const std::string& client_address = "");
