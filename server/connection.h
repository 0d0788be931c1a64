// One accepted connection, served on a thread of its own: TLS when the client starts with
// a handshake record, a redirect to the HTTPS address otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "server/socket.h"

struct ReceiverState;
struct TlsServerConfig;

struct ConnectionLimits {
    int call_timeout_ms = 5000;  // each receive and send
    // The TLS handshake and the request head (request line and headers) must have arrived by
    // then, and the whole request (body included) by `request_time`.
    std::chrono::milliseconds head_time{10000};
    std::chrono::milliseconds request_time{30000};
};

// Connections served at once, process-wide; the accept loop closes any beyond this at once.
inline constexpr int MAX_CONNECTIONS = 256;
// Connections from one client address (IPv4) whose request has not been read in full yet:
// idle, slow or dribbling ones. One more from that address is closed at once, so no single
// client can take the places that every other client needs.
inline constexpr int MAX_UNREAD_CONNECTIONS_PER_CLIENT = 16;
// All connections from one client address, those being answered and closed included. A
// client that waits for each answer before connecting again never has more than twice
// MAX_UNREAD_CONNECTIONS_PER_CLIENT; this only stops one that never lets its answers end.
inline constexpr int MAX_CONNECTIONS_PER_CLIENT = 4 * MAX_UNREAD_CONNECTIONS_PER_CLIENT;

// A claim on one of the MAX_CONNECTIONS places and on one of its client's places, given back
// on destruction.
class ConnectionSlot {
  public:
    static std::optional<ConnectionSlot> claim(uint32_t client_ipv4);
    ConnectionSlot(ConnectionSlot&& other) noexcept;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ~ConnectionSlot();

    uint32_t client_ipv4() const { return client_; }
    // The request has been read in full: the client's unread place is given back before the
    // answer can reach it, so its next connection never finds this one still counted.
    void mark_request_read();

  private:
    explicit ConnectionSlot(uint32_t client) : client_(client) {}
    uint32_t client_;
    bool held_ = true;
    bool unread_ = true;
};

int active_connection_count();

// Serves one exchange and closes the socket. `socket` must be in blocking mode; `slot` is
// the connection's claim, told when the request has been read.
void serve_connection(Socket socket, ConnectionSlot& slot,
                      const std::shared_ptr<ReceiverState>& state,
                      const std::shared_ptr<const TlsServerConfig>& config,
                      const ConnectionLimits& limits = {});
