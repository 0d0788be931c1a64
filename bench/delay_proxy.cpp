#include "bench/delay_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "bench/loopback_client.h"
#include "platform/socket.h"

using SteadyClock = std::chrono::steady_clock;

struct DelayProxyState {
    Socket listener;
    uint16_t port = 0;
    uint16_t target = 0;
    std::chrono::milliseconds round_trip{};
    std::atomic<int> accepted{0};
};

namespace {

// One direction of one connection: what was read, each chunk with the time it may go on.
struct Lane {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::pair<SteadyClock::time_point, std::string>> chunks;  // "" ends the lane
};

struct Pipe {
    Socket client;
    Socket server;
};

void set_no_delay(const Socket& socket) {
    const int on = 1;
    setsockopt(int(socket.native()), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Reads `from` until its end; each chunk may go on `delay` after it arrived, and not before
// `earliest`.
void read_lane(const Socket& from, Lane& lane, SteadyClock::duration delay,
               SteadyClock::time_point earliest) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(int(from.native()), buffer, sizeof buffer, 0);
        const SteadyClock::time_point due = std::max(SteadyClock::now(), earliest) + delay;
        std::lock_guard guard(lane.lock);
        lane.chunks.emplace_back(due, n > 0 ? std::string(buffer, size_t(n)) : std::string());
        lane.arrived.notify_one();
        if (n <= 0) return;
    }
}

// Sends each chunk to `to` when it is due; at the lane's end, shuts down `to`'s sending side.
void write_lane(const Socket& to, Lane& lane) {
    for (;;) {
        std::pair<SteadyClock::time_point, std::string> chunk;
        {
            std::unique_lock guard(lane.lock);
            lane.arrived.wait(guard, [&] { return !lane.chunks.empty(); });
            chunk = std::move(lane.chunks.front());
            lane.chunks.pop_front();
        }
        std::this_thread::sleep_until(chunk.first);
        if (chunk.second.empty()) {
            ::shutdown(int(to.native()), SHUT_WR);
            return;
        }
        std::string_view left = chunk.second;
        while (!left.empty()) {
            const ssize_t n = ::send(int(to.native()), left.data(), left.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                ::shutdown(int(to.native()), SHUT_RDWR);
                break;
            }
            left.remove_prefix(size_t(n));
        }
    }
}

void serve_pipe(std::shared_ptr<Pipe> pipe, std::chrono::milliseconds round_trip) {
    const SteadyClock::duration one_way = round_trip / 2;
    // The client's first bytes leave after its SYN and the SYN-ACK have crossed the link.
    const SteadyClock::time_point opened = SteadyClock::now() + round_trip;
    auto up = std::make_shared<Lane>();
    auto down = std::make_shared<Lane>();
    std::thread([pipe, up, one_way, opened] {
        read_lane(pipe->client, *up, one_way, opened);
    }).detach();
    std::thread([pipe, up] { write_lane(pipe->server, *up); }).detach();
    std::thread([pipe, down, one_way] {
        read_lane(pipe->server, *down, one_way, SteadyClock::time_point{});
    }).detach();
    write_lane(pipe->client, *down);
}

void accept_forever(std::shared_ptr<DelayProxyState> state) {
    for (;;) {
        Socket client(::accept(int(state->listener.native()), nullptr, nullptr));
        if (!client.valid()) continue;
        Result<Socket> server = connect_from(INADDR_LOOPBACK, state->target);
        if (!server.ok()) continue;  // the client sees its connection end
        auto pipe = std::make_shared<Pipe>(Pipe{std::move(client), std::move(server.value())});
        set_no_delay(pipe->client);
        set_no_delay(pipe->server);
        ++state->accepted;
        std::thread(serve_pipe, std::move(pipe), state->round_trip).detach();
    }
}

}  // namespace

Result<std::unique_ptr<DelayProxy>> DelayProxy::start(uint16_t target,
                                                      std::chrono::milliseconds round_trip) {
    using Out = Result<std::unique_ptr<DelayProxy>>;
    auto state = std::make_shared<DelayProxyState>();
    state->target = target;
    state->round_trip = round_trip;
    state->listener = Socket(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const int fd = int(state->listener.native());
    if (!state->listener.valid() ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Out::failure("The delaying proxy could not listen");
    }
    state->port = ntohs(address.sin_port);
    std::thread(accept_forever, state).detach();
    return std::make_unique<DelayProxy>(std::move(state));
}

uint16_t DelayProxy::port() const {
    return state_->port;
}

int DelayProxy::accepted() const {
    return state_->accepted.load();
}
