#include "server/connection.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "app/receiver_state.h"
#include "net/adapters.h"
#include "server/http.h"
#include "server/plain_redirect.h"
#include "server/timed_socket.h"
#include "server/tls_identity.h"
#include "server/tls_stream.h"

namespace {

constexpr unsigned char TLS_HANDSHAKE_RECORD = 0x16;

std::atomic<int> active_connections{0};

struct ClientPlaces {
    int unread = 0;
    int open = 0;
};

// Only clients with a connection open have an entry, so the table stays small.
struct ClientTable {
    std::mutex lock;
    std::unordered_map<uint32_t, ClientPlaces> places;
};

ClientTable& client_table() {
    static ClientTable* const table = new ClientTable();  // never destroyed: threads outlive exit
    return *table;
}

// The TLS stream as the HTTP layer sees it, with the connection's bookkeeping at the
// request's milestones.
class ServedStream final : public ByteStream {
  public:
    ServedStream(TlsStream& tls, TimedSocket& socket, ConnectionSlot& slot)
        : tls_(tls), socket_(socket), slot_(slot) {}

    std::ptrdiff_t read(char* buffer, size_t size) override { return tls_.read(buffer, size); }
    Status write_all(std::string_view bytes) override { return tls_.write_all(bytes); }
    Status flush() override { return tls_.flush(); }
    void request_head_read() override { socket_.end_head_phase(); }
    void request_read() override { slot_.mark_request_read(); }

  private:
    TlsStream& tls_;
    TimedSocket& socket_;
    ConnectionSlot& slot_;
};

void serve_tls(TimedSocket& socket, ConnectionSlot& slot,
               const std::shared_ptr<ReceiverState>& state, const TlsServerConfig& config) {
    auto stream = TlsStream::open(config, socket);
    if (!stream.ok()) return;
    TlsStream& tls = *stream.value();
    ServedStream served(tls, socket, slot);
    serve_request(served, state, dotted_ipv4(slot.client_ipv4()));
    tls.close_notify();
    if (tls.answered()) finish_answered_connection(socket.socket());
}

}  // namespace

std::optional<ConnectionSlot> ConnectionSlot::claim(uint32_t client_ipv4) {
    if (active_connections.fetch_add(1) >= MAX_CONNECTIONS) {
        active_connections.fetch_sub(1);
        return std::nullopt;
    }
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    ClientPlaces& places = table.places[client_ipv4];
    if (places.unread >= MAX_UNREAD_CONNECTIONS_PER_CLIENT ||
        places.open >= MAX_CONNECTIONS_PER_CLIENT) {
        if (places.open == 0) table.places.erase(client_ipv4);
        active_connections.fetch_sub(1);
        return std::nullopt;
    }
    ++places.unread;
    ++places.open;
    return ConnectionSlot(client_ipv4);
}

ConnectionSlot::ConnectionSlot(ConnectionSlot&& other) noexcept
    : client_(other.client_),
      held_(std::exchange(other.held_, false)),
      unread_(std::exchange(other.unread_, false)) {}

void ConnectionSlot::mark_request_read() {
    if (!held_ || !unread_) return;
    ClientTable& table = client_table();
    std::lock_guard guard(table.lock);
    --table.places[client_].unread;
    unread_ = false;
}

ConnectionSlot::~ConnectionSlot() {
    if (!held_) return;
    {
        ClientTable& table = client_table();
        std::lock_guard guard(table.lock);
        auto entry = table.places.find(client_);
        if (unread_) --entry->second.unread;
        if (--entry->second.open == 0) table.places.erase(entry);
    }
    active_connections.fetch_sub(1);
}

int active_connection_count() {
    return active_connections.load();
}

void serve_connection(Socket socket, ConnectionSlot& slot,
                      const std::shared_ptr<ReceiverState>& state,
                      const std::shared_ptr<const TlsServerConfig>& config,
                      const ConnectionLimits& limits) {
    const SteadyClock::time_point start = SteadyClock::now();
    TimedSocket timed(socket, limits.call_timeout_ms, start + limits.request_time,
                      start + limits.head_time);
    (void)set_send_timeout(socket, limits.call_timeout_ms);

    // The first byte tells a TLS client (handshake record) from a browser speaking plain HTTP.
    // A peer that closed at once reads as byte 0 and takes the plain path.
    char first = 0;
    if (timed.peek(&first, 1) < 0) return;
    if (static_cast<unsigned char>(first) == TLS_HANDSHAKE_RECORD) {
        serve_tls(timed, slot, state, *config);
    } else if (redirect_plain_http(timed, *state, [&slot] { slot.mark_request_read(); })) {
        finish_answered_connection(socket);
    }
}
