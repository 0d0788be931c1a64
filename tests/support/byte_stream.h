// A connection's byte stream as the HTTP layer sees it: the TLS stream, or a test stream.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/result.h"

class ByteStream {
  public:
    virtual ~ByteStream() = default;
    // Reads up to `size` bytes. Returns the count, 0 at the end of the stream, -1 on an
    // error or a receive time-out.
    virtual std::ptrdiff_t read(char* buffer, size_t size) = 0;
    virtual Status write_all(std::string_view bytes) = 0;
    virtual Status flush() = 0;

    // Milestones of the one request, told by the HTTP layer to a stream that bounds the
    // phases of its connection: the request line and headers are in; the whole request is in.
    virtual void request_head_read() {}
    virtual void request_read() {}
};
