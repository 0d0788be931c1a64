// One connection's socket with a deadline on top of the per-call time-out, so that a client
// dripping one byte every few seconds cannot hold its thread for long.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>

#include "server/socket.h"

using SteadyClock = std::chrono::steady_clock;

class TimedSocket {
  public:
    // `socket` is borrowed and must outlive this object.
    TimedSocket(const Socket& socket, int call_timeout_ms, SteadyClock::time_point deadline)
        : TimedSocket(socket, call_timeout_ms, deadline, deadline) {}
    // Until end_head_phase(), the earlier `head_deadline` applies instead of `deadline`.
    TimedSocket(const Socket& socket, int call_timeout_ms, SteadyClock::time_point deadline,
                SteadyClock::time_point head_deadline)
        : socket_(socket),
          call_timeout_ms_(call_timeout_ms),
          deadline_(std::min(deadline, head_deadline)),
          final_deadline_(deadline) {}

    // The request head has arrived: from now on only the whole request's deadline applies.
    void end_head_phase() { deadline_ = final_deadline_; }

    // As receive_bytes, waiting at most the per-call time-out and never past the deadline;
    // -1 once the deadline has passed.
    std::ptrdiff_t receive(char* buffer, size_t size);

    // As receive, but leaves the bytes queued.
    std::ptrdiff_t peek(char* buffer, size_t size);

    // As send_bytes; bounded by the socket's own send time-out only.
    std::ptrdiff_t send(const char* data, size_t size) { return send_bytes(socket_, data, size); }

    // Sends every byte, retrying partial sends; false when a send fails or sends nothing.
    bool send_all(const char* data, size_t size);

    const Socket& socket() const { return socket_; }

    // The same time-out and deadline over another handle.
    TimedSocket over(const Socket& other) const {
        return TimedSocket(other, call_timeout_ms_, final_deadline_, deadline_);
    }

  private:
    // Sets SO_RCVTIMEO to what is left of the per-call time-out and the deadline.
    bool apply_receive_timeout();

    const Socket& socket_;
    int call_timeout_ms_;
    SteadyClock::time_point deadline_;  // the one that applies now
    SteadyClock::time_point final_deadline_;
    int applied_timeout_ms_ = -1;  // what SO_RCVTIMEO holds now; -1 before the first call
};

// Ends a connection whose answer has been written: sends FIN, then reads and discards what
// the client still sends (briefly, and only so much), so unread request bytes do not turn
// the close into a reset that could destroy the answer before the client has read it.
void finish_answered_connection(const Socket& socket);
