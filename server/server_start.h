// The HTTPS server: listener and the event loops that accept and serve its connections.
#pragma once

#include <memory>

#include "core/result.h"

struct ReceiverState;

// Binds 0.0.0.0:{port}, builds a fresh TLS identity and hands the listener to the event
// loops. A previous server stops accepting as soon as the loops take the new listener;
// requests in flight on it still complete. A failure leaves it running.
Status start_server(std::shared_ptr<ReceiverState> state);
