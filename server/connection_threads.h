// The threads that serve connections. A thread that has finished its connection waits a while
// for the next one instead of ending: a new thread per connection costs a clone and OpenSSL's
// per-thread state (random generator, error queue), which is a good part of a request's time.
#pragma once

#include <memory>

#include "server/connection.h"

struct ConnectionJob {
    Socket socket;
    ConnectionSlot slot;
    std::shared_ptr<ReceiverState> state;
    std::shared_ptr<const TlsServerConfig> config;
};

// Serves the job on an idle connection thread, or on a new one. Returns false, with the job's
// socket closed, when no thread is idle and none can be made.
bool serve_on_connection_thread(ConnectionJob job);
