#include "server/server_start.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "receiver/receiver_state.h"
#include "server/connection_loop.h"
#include "server/tls_identity.h"

namespace {

// Room for a burst of new connections while the loops are busy: a connection the queue has
// no room for is dropped by the system and costs its client a second before it tries again.
constexpr int LISTEN_BACKLOG = 1024;
// One loop per core, each accepting and serving on its own; more would only contend.
constexpr unsigned MAX_LOOPS = 4;

// The event loops, started with the first server and kept for the life of the process: every
// later start hands its listener to the same loops.
struct ServerLoops {
    std::mutex lock;
    std::vector<ConnectionLoop*> loops;  // never destroyed: their threads run until exit
};

Result<std::vector<ConnectionLoop*>> server_loops() {
    using Out = Result<std::vector<ConnectionLoop*>>;
    static ServerLoops* const shared = new ServerLoops();
    std::lock_guard guard(shared->lock);
    if (!shared->loops.empty()) return shared->loops;
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, MAX_LOOPS);
    for (unsigned i = 0; i < count; ++i) {
        auto loop = ConnectionLoop::create();
        if (!loop.ok()) return Out::failure(loop.error());
        try {
            std::thread([loop = loop.value().get()] { loop->run_forever(); }).detach();
        } catch (const std::system_error& error) {
            return Out::failure(error.what());  // the loop waits, never run, for nothing
        }
        shared->loops.push_back(loop.value().release());
    }
    return shared->loops;
}

}  // namespace

bool ServerListener::current() const {
    return state->listener_generation.load() == generation;
}

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

    // The loops exist before the generation moves on, so a failure to start them leaves the
    // running server as it was.
    Result<std::vector<ConnectionLoop*>> loops = server_loops();
    if (!loops.ok()) {
        return Status::failure("Could not start the server thread: " + loops.error());
    }
    auto shared = std::make_shared<ServerListener>(
        ServerListener{state, std::move(listener.value()), std::move(config.value()), 0});
    shared->generation = state->listener_generation.fetch_add(1) + 1;
    // Each loop drops the replaced listener as soon as it takes the new one: a wake-up, not
    // a poll, ends the old server.
    for (ConnectionLoop* loop : loops.value()) {
        loop->post([loop, shared] { loop->watch_listener(shared); });
    }
    push_log_line(*state, "HTTPS listening on 0.0.0.0:" + std::to_string(port) +
                              (state->ca_fingerprint.empty()
                                   ? ". On phone, accept the self-signed certificate once."
                                   : ". Phones that trust the Quillmark local CA connect "
                                     "without a warning."));
    return Status::success();
}
