// An in-memory ByteStream: hands out its input in any chunking, then ends, stalls or fails,
// and records what is written to it.
#pragma once

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/blocking_http.h"

struct MemoryStream : ByteStream {
    enum class AtEnd {
        close,  // read returns 0: the peer closed
        stall,  // read returns -1: the receive time-out of a silent peer
    };

    explicit MemoryStream(std::string input_bytes, AtEnd at_end_of_input = AtEnd::close)
        : input(std::move(input_bytes)), at_end(at_end_of_input) {}

    std::string input;
    AtEnd at_end;
    size_t max_chunk = std::numeric_limits<size_t>::max();  // largest answer to one read
    std::vector<size_t> cuts;  // input offsets that no single read crosses
    size_t failing_write = std::numeric_limits<size_t>::max();  // index of the first failing write

    size_t consumed = 0;  // input bytes handed out so far
    size_t reads = 0;
    size_t writes = 0;
    size_t flushes = 0;
    std::string output;

    std::ptrdiff_t read(char* buffer, size_t size) override {
        ++reads;
        if (consumed == input.size()) return at_end == AtEnd::close ? 0 : -1;
        size_t n = std::min({size, max_chunk, input.size() - consumed});
        for (size_t cut : cuts) {
            if (cut > consumed && cut < consumed + n) n = cut - consumed;
        }
        std::memcpy(buffer, input.data() + consumed, n);
        consumed += n;
        return static_cast<std::ptrdiff_t>(n);
    }

    Status write_all(std::string_view bytes) override {
        if (writes++ >= failing_write) return Status::failure("write failed");
        output += bytes;
        return Status::success();
    }

    Status flush() override {
        ++flushes;
        return Status::success();
    }

    // Input handed out when the HTTP layer told each milestone; npos when it never did.
    size_t consumed_at_head = std::string::npos;
    size_t consumed_at_request = std::string::npos;
    void request_head_read() override { consumed_at_head = consumed; }
    void request_read() override { consumed_at_request = consumed; }
};
