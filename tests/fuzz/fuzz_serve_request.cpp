// One request read and answered over an in-memory stream, with a desktop that records what it
// is asked to type and copy. Input: an options byte (bit 0: the stream stalls rather than
// closes after the input; bits 1-7: the largest chunk one read returns, 0 for no limit), two
// bytes of an offset that no read crosses (little-endian, 0 for none), then the bytes sent.
//
// Checked: the answer and the deliveries do not depend on the chunking; anything written is
// one complete response with the fixed header block; reading stays bounded; every delivered
// scan is counted and logged exactly once and answered 200; where the next request on a kept
// connection starts, and whether there may be one, do not depend on the chunking, and the
// bytes read beyond the request are handed on unchanged.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "receiver/receiver_state.h"
#include "server/http.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/unit/memory_stream.h"

namespace {

struct Recorded {
    std::vector<std::string> copied;
    std::vector<std::string> typed;
};

Recorded recorded;

std::shared_ptr<ReceiverState> recording_state() {
    auto state = new_receiver_state(ReceiverSettings{}, {{"Wi-Fi", "192.168.1.20"}});
    state->desktop.copy_text = [](std::string_view text) {
        recorded.copied.emplace_back(text);
        return Status::success();
    };
    state->desktop.type_text = [](std::string_view text, bool, const TypingOptions&) {
        recorded.typed.emplace_back(text);
        return Status::success();
    };
    return state;
}

struct Served {
    std::string output;
    Recorded delivered;
    size_t consumed = 0;
    size_t flushes = 0;
    uint64_t counted = 0;
    size_t logged = 0;
};

// Each run starts from a receiver that has seen no scan ids, so a scan's "id" never makes the
// second feeding of an input a resend of the first.
void forget_scan_ids(ReceiverState& state) {
    std::lock_guard lock(state.delivered_scan_ids.lock);
    state.delivered_scan_ids.known.clear();
    state.delivered_scan_ids.order.clear();
}

Served serve(const std::shared_ptr<ReceiverState>& state, MemoryStream& stream) {
    forget_scan_ids(*state);
    recorded = {};
    const uint64_t count_before = state->received_count.load();
    serve_request(stream, state);
    Served served;
    served.output = std::move(stream.output);
    served.delivered = std::move(recorded);
    served.consumed = stream.consumed;
    served.flushes = stream.flushes;
    served.counted = state->received_count.load() - count_before;
    served.logged = take_log_lines(*state).size();
    return served;
}

// "HTTP/1.1 {status}", the seven fixed header lines in order, a blank line and exactly
// Content-Length bytes of body. Returns the status text.
std::string_view check_response(std::string_view output) {
    FUZZ_CHECK(output.starts_with("HTTP/1.1 "), "response starts with the status line");
    const size_t head_end = output.find("\r\n\r\n");
    FUZZ_CHECK(head_end != std::string_view::npos, "header block ends with a blank line");
    const std::string_view head = output.substr(0, head_end + 2);
    const std::string_view body = output.substr(head_end + 4);
    const size_t status_end = head.find("\r\n");
    const std::string_view status = head.substr(9, status_end - 9);
    FUZZ_CHECK(status == "200 OK" || status == "204 No Content" || status == "400 Bad Request" ||
                   status == "404 Not Found",
               "status from the catalogue");
    const size_t type_start = status_end + 2;
    FUZZ_CHECK(head.substr(type_start).starts_with("Content-Type: "), "Content-Type second");
    const size_t length_start = head.find("\r\n", type_start) + 2;
    const std::string expected_rest =
        "Content-Length: " + std::to_string(body.size()) +
        "\r\nCache-Control: no-store\r\nAccess-Control-Allow-Origin: *"
        "\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS"
        "\r\nAccess-Control-Allow-Headers: Content-Type\r\nConnection: close\r\n";
    FUZZ_CHECK(head.substr(length_start) == expected_rest,
               "Content-Length matches the body, then the fixed headers");
    return status;
}

}  // namespace

// The request read alone, whole and in the fuzzed chunking.
void check_next_request_start(const std::string& input, MemoryStream::AtEnd at_end,
                              size_t max_chunk, size_t cut) {
    MemoryStream whole{input, at_end};
    const ReadResult reference = read_request(whole);
    MemoryStream chunked{input, at_end};
    if (max_chunk != 0) chunked.max_chunk = max_chunk;
    if (cut != 0) chunked.cuts = {cut};
    const ReadResult read = read_request(chunked);
    if (read.outcome != ReadOutcome::request) return;
    const size_t end = chunked.consumed - read.surplus.size();
    FUZZ_CHECK(end == whole.consumed - reference.surplus.size(),
               "the next request starts at the same byte in any chunking");
    FUZZ_CHECK(read.surplus == std::string_view(input).substr(end, read.surplus.size()),
               "the bytes after the request are handed on unchanged");
    FUZZ_CHECK(read.request.keep_alive == reference.request.keep_alive,
               "keeping the connection does not depend on the chunking");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::shared_ptr<ReceiverState> state = recording_state();
    if (size < 3) return 0;
    const auto at_end = data[0] & 1 ? MemoryStream::AtEnd::stall : MemoryStream::AtEnd::close;
    const size_t max_chunk = data[0] >> 1;
    const size_t cut = data[1] | size_t(data[2]) << 8;
    const std::string input(reinterpret_cast<const char*>(data + 3), size - 3);

    MemoryStream whole{input, at_end};
    const Served reference = serve(state, whole);
    MemoryStream chunked{input, at_end};
    if (max_chunk != 0) chunked.max_chunk = max_chunk;
    if (cut != 0) chunked.cuts = {cut};
    const Served served = serve(state, chunked);

    FUZZ_CHECK(served.output == reference.output, "the answer does not depend on the chunking");
    FUZZ_CHECK(served.delivered.typed == reference.delivered.typed &&
                   served.delivered.copied == reference.delivered.copied,
               "deliveries do not depend on the chunking");
    FUZZ_CHECK(served.consumed <= MAX_HEADER_SECTION_BYTES + READ_BUFFER_BYTES + MAX_BODY_BYTES,
               "reading is bounded");
    check_next_request_start(input, at_end, max_chunk, cut);

    const size_t deliveries = served.delivered.typed.size();
    FUZZ_CHECK(deliveries <= 1, "at most one scan per connection");
    FUZZ_CHECK(served.delivered.copied.size() == deliveries && served.counted == deliveries &&
                   served.logged == deliveries,
               "each delivered scan is copied, typed, counted and logged once");
    if (served.output.empty()) {
        FUZZ_CHECK(deliveries == 0 && served.flushes == 0, "no answer, no scan");
        return 0;
    }
    FUZZ_CHECK(served.flushes == 1, "one flush per answer");
    const std::string_view status = check_response(served.output);
    if (deliveries == 1) {
        FUZZ_CHECK(status == "200 OK", "a delivered scan is answered 200");
        FUZZ_CHECK(!served.delivered.typed[0].empty(), "a delivered scan has text");
        FUZZ_CHECK(
            served.output.find("\r\n\r\n{\"ok\":true,\"scan\":{\"text\":") != std::string::npos,
            "a delivered scan is echoed");
    }
    return 0;
}
