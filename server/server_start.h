// The HTTPS server: listener and the event loops that accept and serve its connections.
#pragma once

#include <cstdint>
#include <memory>

#include "core/result.h"
#include "platform/socket.h"

struct ReceiverState;
struct TlsServerConfig;

// One started server's listening socket, watched by every loop until a later start replaces
// it. Closed when the last loop lets go of it.
struct ServerListener {
    std::shared_ptr<ReceiverState> state;
    Socket socket;  // non-blocking
    std::shared_ptr<const TlsServerConfig> config;
    uint64_t generation = 0;

    // False once a later start has moved the state's generation on.
    bool current() const;
};

// Binds 0.0.0.0:{port}, builds a fresh TLS identity and hands the listener to the event
// loops. A previous server stops accepting as soon as the loops take the new listener;
// requests in flight on it still complete. A failure leaves it running.
Status start_server(std::shared_ptr<ReceiverState> state);
