#include "tests/support/serve_connection.h"

#include "server/connection_loop.h"

void serve_connection(Socket socket, ConnectionSlot& slot,
                      const std::shared_ptr<ReceiverState>& state,
                      const std::shared_ptr<const TlsServerConfig>& config,
                      const ConnectionLimits& limits) {
    auto loop = ConnectionLoop::create();
    if (!loop.ok() || !set_nonblocking(socket, true).ok()) return;
    loop.value()->adopt(
        std::make_unique<Connection>(std::move(socket), std::move(slot), state, config, limits));
    loop.value()->run_while_serving();
}
