// The HTTPS server: listener, accept loop and one thread per connection.
#pragma once

#include <memory>

#include "app/result.h"

struct ReceiverState;

// Binds 0.0.0.0:{port}, builds a fresh TLS identity and starts the accept thread. A previous
// server ends by itself within about 25 ms once this succeeds; a failure leaves it running.
Status start_server(std::shared_ptr<ReceiverState> state);
