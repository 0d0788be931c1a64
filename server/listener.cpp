#include "server/listener.h"

#include <future>
#include <string>
#include <system_error>
#include <thread>

#include "app/receiver_state.h"
#include "server/connection.h"
#include "server/connection_threads.h"
#include "server/socket.h"
#include "server/tls_identity.h"

namespace {

constexpr int LISTEN_BACKLOG = 128;
// The longest an idle loop waits before it looks at the generation again.
constexpr int IDLE_WAIT_MS = 25;

struct AcceptLoopContext {
    std::shared_ptr<ReceiverState> state;
    Socket listener;
    std::shared_ptr<const TlsServerConfig> config;
    uint64_t generation = 0;
};

// Hands an accepted socket to a thread of its own, or closes it when every place (or every
// place of its client) is taken or no thread can be made.
void hand_over(Socket socket, uint32_t client_ipv4, const AcceptLoopContext& context) {
    std::optional<ConnectionSlot> slot = ConnectionSlot::claim(client_ipv4);
    if (!slot) return;
    (void)set_nonblocking(socket, false);
    (void)serve_on_connection_thread(
        {std::move(socket), std::move(*slot), context.state, context.config});
}

void accept_loop(AcceptLoopContext context) {
    while (context.state->listener_generation.load() == context.generation) {
        AcceptResult accepted = accept_connection(context.listener);
        switch (accepted.outcome) {
            case AcceptOutcome::accepted:
                hand_over(std::move(accepted.socket), accepted.peer_ipv4, context);
                break;
            case AcceptOutcome::would_block:
                (void)wait_readable(context.listener, IDLE_WAIT_MS);
                break;
            case AcceptOutcome::failed:
                return;  // the server ends silently; a new start brings it back
        }
    }
}

}  // namespace

Status start_server(std::shared_ptr<ReceiverState> state) {
    const uint16_t port = state->port.load(std::memory_order_relaxed);
    const std::string listen_error = "Could not listen on port " + std::to_string(port) + ": ";

    if (Status prepared = prepare_sockets(); !prepared.ok()) {
        return Status::failure(listen_error + prepared.error());
    }
    Result<Socket> listener = open_listener(port, LISTEN_BACKLOG);
    if (!listener.ok()) return Status::failure(listen_error + listener.error());
    (void)set_nonblocking(listener.value(), true);

    auto config = build_tls_config(*state);
    if (!config.ok()) return Status::failure(config.error());

    // The thread exists before the generation moves on, so a failure to make it leaves the
    // running server as it was. It starts accepting only once told its generation.
    std::promise<uint64_t> generation;
    std::future<uint64_t> generation_ready = generation.get_future();
    try {
        std::thread([context = AcceptLoopContext{state, std::move(listener.value()),
                                                 std::move(config.value()), 0},
                     ready = std::move(generation_ready)]() mutable {
            context.generation = ready.get();
            accept_loop(std::move(context));
        }).detach();
    } catch (const std::system_error& error) {
        return Status::failure(std::string("Could not start the server thread: ") + error.what());
    }

    generation.set_value(state->listener_generation.fetch_add(1) + 1);
    push_log_line(*state, "HTTPS listening on 0.0.0.0:" + std::to_string(port) +
                              ". On phone, accept the self-signed certificate once.");
    return Status::success();
}
