// One connection served to its end on the calling thread, for tests and fuzz targets that
// drive the connection state machine over a socket of their own.
#pragma once

#include <memory>

#include "server/connection.h"

// Serves one connection to its end on the calling thread, with a loop of its own. `slot` is
// taken over.
void serve_connection(Socket socket, ConnectionSlot& slot,
                      const std::shared_ptr<ReceiverState>& state,
                      const std::shared_ptr<const TlsServerConfig>& config,
                      const ConnectionLimits& limits = {});
