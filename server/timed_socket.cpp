#include "server/timed_socket.h"

#include <algorithm>

namespace {

constexpr int FINISH_WAIT_MS = 1000;
constexpr size_t FINISH_DRAIN_BYTES = 64 * 1024;

}  // namespace

bool TimedSocket::apply_receive_timeout() {
    using std::chrono::milliseconds;
    const auto left = std::chrono::ceil<milliseconds>(deadline_ - SteadyClock::now()).count();
    if (left <= 0) return false;
    const int timeout_ms = static_cast<int>(std::min<long long>(call_timeout_ms_, left));
    if (timeout_ms != applied_timeout_ms_) {
        if (!set_receive_timeout(socket_, timeout_ms).ok()) return false;
        applied_timeout_ms_ = timeout_ms;
    }
    return true;
}

std::ptrdiff_t TimedSocket::receive(char* buffer, size_t size) {
    return apply_receive_timeout() ? receive_bytes(socket_, buffer, size) : -1;
}

std::ptrdiff_t TimedSocket::peek(char* buffer, size_t size) {
    return apply_receive_timeout() ? peek_bytes(socket_, buffer, size) : -1;
}

bool TimedSocket::send_all(const char* data, size_t size) {
    while (size > 0) {
        const std::ptrdiff_t sent = send(data, size);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

void finish_answered_connection(const Socket& socket) {
    if (!shutdown_sending(socket).ok()) return;
    TimedSocket reader(socket, FINISH_WAIT_MS,
                       SteadyClock::now() + std::chrono::milliseconds(FINISH_WAIT_MS));
    char discard[4096];
    size_t drained = 0;
    while (drained < FINISH_DRAIN_BYTES) {
        const std::ptrdiff_t n = reader.receive(discard, sizeof discard);
        if (n <= 0) return;
        drained += static_cast<size_t>(n);
    }
}
