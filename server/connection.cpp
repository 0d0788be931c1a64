#include "server/connection.h"

#include <atomic>

#include "app/receiver_state.h"
#include "server/http.h"
#include "server/plain_redirect.h"
#include "server/timed_socket.h"
#include "server/tls_identity.h"
#include "server/tls_stream.h"

namespace {

constexpr unsigned char TLS_HANDSHAKE_RECORD = 0x16;

std::atomic<int> active_connections{0};

void serve_tls(TimedSocket& socket, const std::shared_ptr<ReceiverState>& state,
               const TlsServerConfig& config) {
    auto stream = TlsStream::open(config, socket);
    if (!stream.ok()) return;
    TlsStream& tls = *stream.value();
    serve_request(tls, state);
    tls.close_notify();
    if (tls.answered()) finish_answered_connection(socket.socket());
}

}  // namespace

std::optional<ConnectionSlot> ConnectionSlot::claim() {
    if (active_connections.fetch_add(1) >= MAX_CONNECTIONS) {
        active_connections.fetch_sub(1);
        return std::nullopt;
    }
    return ConnectionSlot();
}

ConnectionSlot::~ConnectionSlot() {
    if (held_) active_connections.fetch_sub(1);
}

int active_connection_count() {
    return active_connections.load();
}

void serve_connection(Socket socket, const std::shared_ptr<ReceiverState>& state,
                      const std::shared_ptr<const TlsServerConfig>& config,
                      const ConnectionLimits& limits) {
    TimedSocket timed(socket, limits.call_timeout_ms, SteadyClock::now() + limits.request_time);
    (void)set_send_timeout(socket, limits.call_timeout_ms);

    // The first byte tells a TLS client (handshake record) from a browser speaking plain HTTP.
    // A peer that closed at once reads as byte 0 and takes the plain path.
    char first = 0;
    if (timed.peek(&first, 1) < 0) return;
    if (static_cast<unsigned char>(first) == TLS_HANDSHAKE_RECORD) {
        serve_tls(timed, state, *config);
    } else if (redirect_plain_http(timed, *state)) {
        finish_answered_connection(socket);
    }
}
