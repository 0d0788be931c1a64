#include "tests/support/blocking_http.h"

#include <algorithm>
#include <array>
#include <optional>

#include "server/routes.h"

namespace {

// Fits one TLS record (16 KiB) together with the header block.
constexpr size_t SINGLE_WRITE_BODY_BYTES = 16384 - 512;

}  // namespace

ReadResult read_request(ByteStream& stream) {
    RequestReader reader;
    std::array<char, READ_BUFFER_BYTES> buffer;
    std::optional<ReadOutcome> outcome;
    bool head_told = false;
    while (!outcome) {
        const std::ptrdiff_t n =
            stream.read(buffer.data(), std::min(buffer.size(), reader.wanted()));
        if (n > 0) {
            outcome = reader.feed({buffer.data(), static_cast<size_t>(n)});
        } else {
            outcome = n == 0 ? reader.end_of_stream() : reader.read_failed();
        }
        if (!head_told && reader.head_complete()) {
            stream.request_head_read();
            head_told = true;
        }
    }
    if (head_told) stream.request_read();
    return {*outcome, reader.take_request(), reader.take_surplus()};
}

Status write_response(ByteStream& stream, const HttpResponse& response) {
    std::string head = response_head(response);
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
