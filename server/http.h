// HTTP/1.1 framing: one request taken from bytes as they arrive, one response as bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t MAX_BODY_BYTES = 65536;
inline constexpr size_t READ_BUFFER_BYTES = 8192;
// A request or header line (its LF included) longer than MAX_LINE_BYTES, or a header section
// (request line to blank line) larger than MAX_HEADER_SECTION_BYTES, closes the connection
// without an answer, so a client can never make the receiver buffer without bound.
inline constexpr size_t MAX_LINE_BYTES = 8192;
inline constexpr size_t MAX_HEADER_SECTION_BYTES = 65536;
static_assert(MAX_LINE_BYTES <= READ_BUFFER_BYTES, "a whole line must fit in the read buffer");

// A connection kept for the client's next request waits that long for it, and carries at most
// MAX_REQUESTS_PER_CONNECTION requests.
inline constexpr int KEEP_ALIVE_TIMEOUT_SECONDS = 30;
inline constexpr int MAX_REQUESTS_PER_CONNECTION = 1000;

inline constexpr std::string_view JSON_CONTENT_TYPE = "application/json; charset=utf-8";

struct HttpRequest {
    std::string method;
    std::string path;              // the request target up to its first "?"
    std::string body;              // at most MAX_BODY_BYTES
    std::string query{};           // what follows that "?", without it; empty when there is none
    std::string client_address{};  // the peer's dotted IPv4 address, when the server knows it
    // HTTP/1.1 without "Connection: close", framed so that the next request's start is
    // certain: the connection may carry another request.
    bool keep_alive = false;
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
    std::string surplus{};  // read beyond the request: the start of the next one
};

// One request, taken from bytes as they arrive, in pieces of any size: what an event loop
// feeds straight from its connections.
class RequestReader {
  public:
    // The next bytes of the stream. The outcome once the request is decided, nullopt while
    // more bytes are needed. Bytes fed beyond the request are kept for take_surplus().
    std::optional<ReadOutcome> feed(std::string_view bytes);
    // The stream ended (the peer closed or shut down its sending side).
    ReadOutcome end_of_stream();
    // A read failed or timed out: no answer before the head is in, the 400 after it.
    ReadOutcome read_failed();

    // The most bytes worth reading next: what the read buffer still holds, or what the body
    // still lacks, so that nothing beyond the request is ever read. 0 once decided.
    size_t wanted() const;
    // The request line and headers are in (true from then on, even once decided).
    bool head_complete() const { return head_done_; }
    // No byte has been fed yet.
    bool untouched() const { return phase_ == Phase::request_line && partial_line_.empty(); }
    HttpRequest take_request() { return std::move(request_); }
    // Once a request is decided: what was fed after its end, the start of the next one (at
    // most one read buffer, as wanted() allows).
    std::string take_surplus() { return std::move(surplus_); }

  private:
    enum class Phase { request_line, headers, body, decided };
    std::optional<ReadOutcome> take_line(std::string_view line);
    std::optional<ReadOutcome> end_head();
    ReadOutcome decide(ReadOutcome outcome);
    void take_header(std::string_view name, std::string_view value);

    Phase phase_ = Phase::request_line;
    std::string partial_line_;
    size_t header_section_bytes_ = 0;
    size_t content_length_ = 0;
    size_t body_filled_ = 0;
    bool head_done_ = false;
    bool http11_ = false;
    bool framing_clear_ = true;  // no Transfer-Encoding, one valid Content-Length at most
    bool close_asked_ = false;
    bool content_length_seen_ = false;
    ReadOutcome outcome_ = ReadOutcome::close_without_answer;
    HttpRequest request_;
    std::string surplus_;
};

// The 400 for a body shorter than its Content-Length.
HttpResponse incomplete_body_response();

// The fixed header block of a response, up to and including its blank line. `keep_alive`
// tells the client that the connection stays open for its next request.
std::string response_head(const HttpResponse& response, bool keep_alive = false);

// The whole response as it goes on the wire: header block and body.
std::string response_bytes(const HttpResponse& response, bool keep_alive = false);
