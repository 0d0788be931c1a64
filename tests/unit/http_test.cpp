#include "server/http.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memory_stream.h"

using namespace std::string_view_literals;

namespace {

constexpr auto CLOSES = MemoryStream::AtEnd::close;
constexpr auto STALLS = MemoryStream::AtEnd::stall;
constexpr auto ROUTED = ReadOutcome::request;
constexpr auto SHORT = ReadOutcome::incomplete_body;
constexpr auto DROPPED = ReadOutcome::close_without_answer;

struct RequestCase {
    std::string_view input;
    MemoryStream::AtEnd at_end;  // what the stream does once the input is used up
    ReadOutcome outcome;
    std::string_view method, path, body;
};

// clang-format off
const RequestCase REQUEST_CASES[] = {
    {"GET / HTTP/1.1\r\nHost: a\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/", ""},  // the plain case
    {"GET / HTTP/1.1\r\n\r\n"sv, STALLS, ROUTED, "GET", "/", ""},  // nothing is read after the blank line
    {"GET /?pc=https%3A%2F%2F10.0.0.2%3A8080%2Fapi%2Fscan HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/", ""},  // pairing URL: query dropped
    {"GET /a?b?c HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/a", ""},  // path ends at the first "?"
    {"GET ?x HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "GET", "", ""},  // a target that starts with "?" leaves an empty path
    {"get  \t /x\t\tHTTP/1.1\n\n"sv, CLOSES, ROUTED, "get", "/x", ""},  // runs of blanks and TABs, LF-only lines, method as sent
    {"  GET /x HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/x", ""},  // leading blanks on the request line
    {"GET\xC2\xA0/x\xE3\x80\x80HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/x", ""},  // NBSP and U+3000 are White_Space too
    {"GET /x\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/x", ""},  // no version token
    {"GET /x HTTP/1.1 more tokens\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/x", ""},  // further tokens ignored
    {"GET /caf\xC3\xA9 HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "GET", "/caf\xC3\xA9", ""},  // UTF-8 in the target kept as sent
    {"GET / HTTP/1.1"sv, CLOSES, ROUTED, "GET", "/", ""},  // request line ended by the end of the stream
    {"GET / HTTP/1.1\r\nHost: a"sv, CLOSES, ROUTED, "GET", "/", ""},  // headers ended by the end of the stream
    {"GET / HTTP/1.1\r\n \t\r\nContent-Length: 2\r\n\r\nok"sv, CLOSES, ROUTED, "GET", "/", ""},  // a line of blanks ends the headers
    {"GET / HTTP/1.1\r\n\r\nbody"sv, CLOSES, ROUTED, "GET", "/", ""},  // no Content-Length: no body
    {"POST /api/scan HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"sv, STALLS, ROUTED, "POST", "/api/scan", "hello"},  // body read exactly, no wait after it
    {"POST / HTTP/1.1\r\ncOnTeNt-LeNgTh: 2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // header name in any letter case
    {"POST / HTTP/1.1\r\nContent-Length: +2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // one leading plus allowed
    {"POST / HTTP/1.1\r\nContent-Length:2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // no blank after the colon
    {"POST / HTTP/1.1\r\nContent-Length:\t 2 \t\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // value trimmed
    {"POST / HTTP/1.1\r\n   Content-Length: 2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // line trimmed before it is examined
    {"POST / HTTP/1.1\r\nContent-Length : 2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // blank before the colon: another header
    {"POST / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 2\r\n\r\nokay"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // the last one wins
    {"POST / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: x\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // an invalid last one gives 0
    {"POST / HTTP/1.1\r\nContent-Length: ++2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // only one plus
    {"POST / HTTP/1.1\r\nContent-Length: +\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // a plus without digits
    {"POST / HTTP/1.1\r\nContent-Length: -2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // no sign but plus
    {"POST / HTTP/1.1\r\nContent-Length: 2 2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // inner blank makes it no number
    {"POST / HTTP/1.1\r\nContent-Length: 0x2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // decimal only
    {"POST / HTTP/1.1\r\nContent-Length:\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // empty value
    {"POST / HTTP/1.1\r\nContent-Length: 18446744073709551616\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", ""},  // one past 64 bits
    {"POST / HTTP/1.1\r\nContent-Length: 18446744073709551615\r\n\r\nok"sv, CLOSES, SHORT, "", "", ""},  // largest 64-bit value, cut to 65536
    {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"sv, STALLS, ROUTED, "POST", "/", ""},  // zero needs no read
    {"POST / HTTP/1.1\r\nNo colon here\r\nContent-Length: 2\r\n\r\nok"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // a line without colon is skipped
    {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n"sv, CLOSES, ROUTED, "POST", "/", ""},  // chunked coding is not read
    {"POST / HTTP/1.1\r\nContent-Length: 4\r\n\r\na\r\nb"sv, CLOSES, ROUTED, "POST", "/", "a\r\nb"},  // line ends inside the body are data
    {"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\n\xFF\x00\xFE"sv, CLOSES, ROUTED, "POST", "/", "\xFF\x00\xFE"sv},  // body bytes are not checked as UTF-8
    {"POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nokGET / HTTP/1.1\r\n\r\n"sv, CLOSES, ROUTED, "POST", "/", "ok"},  // a pipelined request is left alone
    {""sv, CLOSES, DROPPED, "", "", ""},  // peer closed without sending
    {""sv, STALLS, DROPPED, "", "", ""},  // peer silent until the time-out
    {"GET"sv, CLOSES, DROPPED, "", "", ""},  // one token, no line end
    {"GET\r\n\r\n"sv, CLOSES, DROPPED, "", "", ""},  // one token
    {"\r\nGET / HTTP/1.1\r\n\r\n"sv, CLOSES, DROPPED, "", "", ""},  // an empty first line is the request line
    {"GET / HTTP/1.1"sv, STALLS, DROPPED, "", "", ""},  // time-out inside the request line
    {"GET /\xC3 HTTP/1.1\r\n\r\n"sv, CLOSES, DROPPED, "", "", ""},  // truncated sequence in the request line
    {"GET /\xED\xA0\x80 HTTP/1.1\r\n\r\n"sv, CLOSES, DROPPED, "", "", ""},  // an encoded surrogate is not UTF-8
    {"GET / HTTP/1.1\r\nX: \xFF\r\n\r\n"sv, CLOSES, DROPPED, "", "", ""},  // invalid byte in a header line
    {"GET / HTTP/1.1\r\nHost: a\r\n"sv, STALLS, DROPPED, "", "", ""},  // time-out while reading headers
    {"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabcd"sv, STALLS, SHORT, "", "", ""},  // 4 of 10 bytes, then silence
    {"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabcd"sv, CLOSES, SHORT, "", "", ""},  // 4 of 10 bytes, then closed
    {"POST / HTTP/1.1\r\nContent-Length: 1\r\n\r\n"sv, CLOSES, SHORT, "", "", ""},  // announced body missing
    {"POST / HTTP/1.1\r\nContent-Length: 1"sv, CLOSES, SHORT, "", "", ""},  // headers and stream end together
};
// clang-format on

void expect_read(const RequestCase& row, MemoryStream& stream, const std::string& feeding) {
    SCOPED_TRACE(feeding);
    ReadResult result = read_request(stream);
    ASSERT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.request.method, row.method);
    EXPECT_EQ(result.request.path, row.path);
    EXPECT_EQ(result.request.body, row.body);
}

// Feeds `input` whole, one byte at a time, and split in two at every point.
template <typename Check>
void for_each_feeding(std::string_view input, MemoryStream::AtEnd at_end, Check check) {
    MemoryStream whole{std::string(input), at_end};
    check(whole, "whole");
    MemoryStream bytewise{std::string(input), at_end};
    bytewise.max_chunk = 1;
    check(bytewise, "one byte per read");
    for (size_t cut = 1; cut < input.size(); ++cut) {
        MemoryStream split{std::string(input), at_end};
        split.cuts = {cut};
        check(split, "split at " + std::to_string(cut));
    }
}

TEST(ReadRequest, TableFedInEveryChunking) {
    for (const RequestCase& row : REQUEST_CASES) {
        SCOPED_TRACE("input " + testing::PrintToString(row.input));
        for_each_feeding(row.input, row.at_end, [&](MemoryStream& stream, const std::string& how) {
            expect_read(row, stream, how);
        });
    }
}

struct ReuseCase {
    std::string_view input;
    bool keep_alive;
    size_t request_end;  // where the next request starts
};

// clang-format off
const ReuseCase REUSE_CASES[] = {
    {"GET / HTTP/1.1\r\n\r\n"sv, true, 18},  // HTTP/1.1 keeps the connection by default
    {"GET / HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n"sv, true, 18},  // pipelined request left for the next read
    {"POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nokGET / HTTP/1.1\r\n\r\n"sv, true, 40},  // the next request starts right after the body
    {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n"sv, false, 37},  // the client asks for the close
    {"GET / HTTP/1.1\r\ncOnNeCtIoN: Keep-Alive ,\tCLOSE\r\n\r\n"sv, false, 50},  // "close" among other tokens, any case
    {"GET / HTTP/1.1\r\nConnection: closed\r\n\r\n"sv, true, 38},  // another token
    {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"sv, false, 42},  // HTTP/1.0 is answered as before
    {"GET /\r\n\r\n"sv, false, 9},  // no version
    {"GET / HTTP/1.1 x\r\n\r\n"sv, false, 20},  // not a request line of HTTP/1.1
    {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n"sv, false, 47},  // a body not read would be taken for the next request
    {"POST / HTTP/1.1\r\nContent-Length: x\r\n\r\nGET / HTTP/1.1\r\n\r\n"sv, false, 38},  // a length that is no number
    {"POST / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nok"sv, false, 59},  // two lengths
};
// clang-format on

// Whether the connection may carry another request, and where that one starts: whatever was
// read beyond the request is handed on unchanged, in every chunking.
TEST(ReadRequest, KeepAliveAndWhereTheNextRequestStarts) {
    for (const ReuseCase& row : REUSE_CASES) {
        SCOPED_TRACE("input " + testing::PrintToString(row.input));
        for_each_feeding(row.input, STALLS, [&](MemoryStream& stream, const std::string& how) {
            SCOPED_TRACE(how);
            ReadResult result = read_request(stream);
            ASSERT_EQ(result.outcome, ROUTED);
            EXPECT_EQ(result.request.keep_alive, row.keep_alive);
            ASSERT_EQ(stream.consumed - result.surplus.size(), row.request_end);
            EXPECT_EQ(result.surplus, row.input.substr(row.request_end, result.surplus.size()));
        });
    }
    // A body cut to MAX_BODY_BYTES leaves its rest unread: no request may follow it.
    MemoryStream oversized{"POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" +
                           std::string(MAX_BODY_BYTES + 1, 'b')};
    EXPECT_FALSE(read_request(oversized).request.keep_alive);
}

std::string header_line(size_t length_with_crlf) {
    return "X-Fill: " + std::string(length_with_crlf - 10, 'a') + "\r\n";
}

struct CapCase {
    std::string input;
    ReadOutcome outcome;
};

TEST(ReadRequest, LineAndHeaderSectionCaps) {
    const std::string line = "GET / HTTP/1.1\r\n";
    std::string section_at_cap = line;
    while (section_at_cap.size() + 8000 + 2 <= MAX_HEADER_SECTION_BYTES) {
        section_at_cap += header_line(8000);
    }
    section_at_cap += header_line(MAX_HEADER_SECTION_BYTES - section_at_cap.size() - 2);
    section_at_cap += "\r\n";
    ASSERT_EQ(section_at_cap.size(), MAX_HEADER_SECTION_BYTES);

    const CapCase cases[] = {
        // A request line of exactly the cap, LF included, and one byte more.
        {"GET /" + std::string(MAX_LINE_BYTES - 15, 'p') + " HTTP/1.1\n\n", ROUTED},
        {"GET /" + std::string(MAX_LINE_BYTES - 14, 'p') + " HTTP/1.1\n\n", DROPPED},
        // A header line of exactly the cap, CR LF included, and one byte more.
        {line + header_line(MAX_LINE_BYTES) + "\r\n", ROUTED},
        {line + header_line(MAX_LINE_BYTES + 1) + "\r\n", DROPPED},
        // A line at the cap cut by the end of the stream still fills the whole buffer.
        {"GET /" + std::string(MAX_LINE_BYTES - 5, 'p'), DROPPED},
        // The whole section, blank line included, at the cap and one byte over it.
        {section_at_cap, ROUTED},
        {section_at_cap.substr(0, line.size()) + "X" + section_at_cap.substr(line.size()), DROPPED},
    };
    for (const CapCase& cap : cases) {
        SCOPED_TRACE("input of " + std::to_string(cap.input.size()) + " bytes");
        MemoryStream whole{cap.input};
        EXPECT_EQ(read_request(whole).outcome, cap.outcome);
        MemoryStream bytewise{cap.input};
        bytewise.max_chunk = 1;
        EXPECT_EQ(read_request(bytewise).outcome, cap.outcome) << "one byte per read";
    }
}

TEST(ReadRequest, EndlessInputIsDroppedAfterBoundedReading) {
    // One endless line: given up as soon as the buffer is full.
    MemoryStream endless_line{"GET /" + std::string(1 << 20, 'p')};
    EXPECT_EQ(read_request(endless_line).outcome, DROPPED);
    EXPECT_LE(endless_line.consumed, READ_BUFFER_BYTES);

    // Endless short header lines: given up at the section cap.
    std::string many_headers = "GET / HTTP/1.1\r\n";
    while (many_headers.size() < (1 << 20)) many_headers += "X-A: b\r\n";
    MemoryStream headers{many_headers};
    headers.max_chunk = 1000;
    EXPECT_EQ(read_request(headers).outcome, DROPPED);
    EXPECT_LE(headers.consumed, MAX_HEADER_SECTION_BYTES + READ_BUFFER_BYTES);
}

TEST(ReadRequest, OversizedBodyIsCutAndTheRestNeverRead) {
    const std::string head = "POST /api/scan HTTP/1.1\r\nContent-Length: 70000\r\n\r\n";
    std::string body(70000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
    for (size_t chunk : {size_t(1), size_t(4096), SIZE_MAX}) {
        SCOPED_TRACE("reads of at most " + std::to_string(chunk) + " bytes");
        MemoryStream stream{head + body};
        stream.max_chunk = chunk;
        ReadResult result = read_request(stream);
        ASSERT_EQ(result.outcome, ROUTED);
        EXPECT_EQ(result.request.body, body.substr(0, MAX_BODY_BYTES));
        EXPECT_EQ(stream.consumed, head.size() + MAX_BODY_BYTES);
    }
}

// The connection's phases end where the HTTP layer says: the head at the blank line, the
// request once the body is in (or cannot be), and never for a request that is dropped.
TEST(ReadRequest, MilestonesMarkTheEndOfHeadAndRequest) {
    const std::string head = "POST /api/scan HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
    const size_t npos = std::string::npos;
    struct Row {
        std::string input;
        MemoryStream::AtEnd at_end;
        size_t at_head, at_request;
    };
    const Row rows[] = {
        {head + "hello", STALLS, head.size(), head.size() + 5},  // whole request
        {head + "hel", STALLS, head.size(), head.size() + 3},    // short body: both still told
        {"GET / HTTP/1.1\r\n\r\n", STALLS, 18, 18},              // no body
        {"POST / HTTP/1.1\r\nHost", STALLS, npos, npos},         // head never complete
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.input);
        MemoryStream stream{row.input, row.at_end};
        stream.max_chunk = 1;
        (void)read_request(stream);
        EXPECT_EQ(stream.consumed_at_head, row.at_head);
        EXPECT_EQ(stream.consumed_at_request, row.at_request);
    }
}

// The exact bytes of a response: every one carries the same header block.
std::string response_bytes(std::string_view status, std::string_view type, std::string_view body,
                           std::string_view cache_control = "no-store") {
    return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: " + std::string(type) +
           "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nCache-Control: " + std::string(cache_control) +
           "\r\nAccess-Control-Allow-Origin: *"
           "\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS"
           "\r\nAccess-Control-Allow-Headers: Content-Type\r\nConnection: close\r\n\r\n" +
           std::string(body);
}

struct ServeCase {
    std::string_view input;
    MemoryStream::AtEnd at_end;
    int routed;            // calls of the router
    std::string expected;  // everything written
};

TEST(ServeRequest, OneRequestOneResponse) {
    const std::string short_body = R"({"ok":false,"error":"Incomplete request body"})";
    // clang-format off
    const ServeCase cases[] = {
        {"POST /api/scan?key=a%2Bb&x=1 HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", CLOSES, 1, response_bytes("200 OK", "text/plain", "POST /api/scan key=a%2Bb&x=1 10.0.0.9 abc")},  // routed request, query kept as sent
        {"GET /a?b?c HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n", CLOSES, 1, response_bytes("200 OK", "text/plain", "GET /a b?c 10.0.0.9 ")},  // query from the first "?"; pipelined second request never answered
        {"GET /a HTTP/1.1\r\n\r\n", CLOSES, 1, response_bytes("200 OK", "text/plain", "GET /a  10.0.0.9 ")},  // no query
        {"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nabcd", STALLS, 0, response_bytes("400 Bad Request", "application/json; charset=utf-8", short_body)},  // short body answered without routing
        {"GET\r\n\r\n", CLOSES, 0, ""},  // dropped request: nothing written
    };
    // clang-format on
    for (const ServeCase& row : cases) {
        SCOPED_TRACE("input " + testing::PrintToString(row.input));
        MemoryStream stream{std::string(row.input), row.at_end};
        int routed = 0;
        serve_request(
            stream,
            [&](const HttpRequest& request) {
                ++routed;
                return HttpResponse{"200 OK", "text/plain",
                                    request.method + " " + request.path + " " + request.query +
                                        " " + request.client_address + " " + request.body};
            },
            "10.0.0.9");
        EXPECT_EQ(routed, row.routed);
        EXPECT_EQ(stream.output, row.expected);
        EXPECT_EQ(stream.flushes, row.expected.empty() ? 0u : 1u);
    }
}

TEST(WriteResponse, SmallAnswersGoOutInOneWrite) {
    MemoryStream empty{""};
    EXPECT_TRUE(write_response(empty, {"204 No Content", "text/plain", ""}).ok());
    EXPECT_EQ(empty.output, response_bytes("204 No Content", "text/plain", ""));
    EXPECT_EQ(empty.writes, 1u);
    EXPECT_EQ(empty.flushes, 1u);

    MemoryStream small{""};
    EXPECT_TRUE(write_response(small, {"200 OK", "text/plain", "hi"}).ok());
    EXPECT_EQ(small.output, response_bytes("200 OK", "text/plain", "hi"));
    EXPECT_EQ(small.writes, 1u);

    MemoryStream fails{""};
    fails.failing_write = 0;
    EXPECT_EQ(write_response(fails, {"200 OK", "text/plain", "hi"}).error(), "write failed");
    EXPECT_EQ(fails.flushes, 0u);
}

TEST(WriteResponse, LargeBodiesFollowTheHeaderBlockAndFailedWritesStop) {
    // A decoder file: large, and cached unlike the pages.
    const HttpResponse reply{"200 OK", "application/wasm", std::string(100000, 'x'),
                             "max-age=604800, immutable"};
    MemoryStream whole{""};
    EXPECT_TRUE(write_response(whole, reply).ok());
    EXPECT_EQ(whole.output, response_bytes(reply.status, reply.content_type, reply.body,
                                           "max-age=604800, immutable"));

    MemoryStream head_fails{""};
    head_fails.failing_write = 0;
    EXPECT_EQ(write_response(head_fails, reply).error(), "write failed");
    EXPECT_EQ(head_fails.writes, 1u) << "the body must not follow a failed header block";
    EXPECT_EQ(head_fails.flushes, 0u);

    MemoryStream body_fails{""};
    body_fails.failing_write = 1;
    EXPECT_EQ(write_response(body_fails, reply).error(), "write failed");
    EXPECT_EQ(body_fails.flushes, 0u);
}

}  // namespace
