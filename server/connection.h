// One accepted connection, served on a thread of its own: TLS when the client starts with
// a handshake record, a redirect to the HTTPS address otherwise.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "server/socket.h"

struct ReceiverState;
struct TlsServerConfig;

struct ConnectionLimits {
    int call_timeout_ms = 5000;  // each receive and send
    // The whole request (handshake included) must have arrived by then.
    std::chrono::milliseconds request_time{30000};
};

// Connections served at once, process-wide; the accept loop closes any beyond this at once.
inline constexpr int MAX_CONNECTIONS = 256;

// A claim on one of the MAX_CONNECTIONS places, given back on destruction.
class ConnectionSlot {
  public:
    static std::optional<ConnectionSlot> claim();
    ConnectionSlot(ConnectionSlot&& other) noexcept : held_(other.held_) { other.held_ = false; }
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ~ConnectionSlot();

  private:
    ConnectionSlot() = default;
    bool held_ = true;
};

int active_connection_count();

// Serves one exchange and closes the socket. `socket` must be in blocking mode.
void serve_connection(Socket socket, const std::shared_ptr<ReceiverState>& state,
                      const std::shared_ptr<const TlsServerConfig>& config,
                      const ConnectionLimits& limits = {});
