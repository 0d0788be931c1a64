#include "tests/support/idle_connections.h"

#include <poll.h>
#include <sys/resource.h>

#include <mutex>

namespace {

constexpr std::chrono::seconds DRIP_INTERVAL{1};

// An idle connection gets nothing from the server, so anything readable (an alert, the end
// of the stream, a reset) means the server has given up on it.
bool closed_by_peer(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
}

void raise_open_file_limit_once() {
    static std::once_flag once;
    std::call_once(once, [] {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    });
}

}  // namespace

std::string loopback_client_address(int n) {
    constexpr int PER_BLOCK = 254;
    const int index = n + 1;  // 127.0.0.1 is the default client's
    return "127.0." + std::to_string(index / PER_BLOCK) + "." +
           std::to_string(index % PER_BLOCK + 1);
}

IdleConnections::~IdleConnections() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    if (dripper_.joinable()) dripper_.join();
}

bool IdleConnections::open(uint16_t port, size_t count, IdleKind kind, const std::string& from) {
    static const std::string PLAIN_START = "GET /";
    static const std::string TLS_START = "\x16\x03\x01\x40\x00";
    const std::string start = kind == IdleKind::plain ? PLAIN_START
                              : kind == IdleKind::tls ? TLS_START
                                                      : "";
    raise_open_file_limit_once();
    for (size_t i = 0; i < count; ++i) {
        std::optional<TcpConnection> connection = TcpConnection::open(port, from);
        if (!connection || !connection->send_all(start)) return false;
        std::lock_guard lock(mutex_);
        connections_.push_back(std::move(*connection));
        closed_.push_back(false);
        silent_.push_back(kind == IdleKind::silent);
    }
    return true;
}

void IdleConnections::start_dripping() {
    dripper_ = std::thread([this] { drip(); });
}

void IdleConnections::drip() {
    std::unique_lock lock(mutex_);
    while (!stop_.wait_for(lock, DRIP_INTERVAL, [this] { return stopping_; })) {
        for (size_t i = 0; i < connections_.size(); ++i) {
            if (!closed_[i] && !silent_[i]) connections_[i].send_all("a");
        }
    }
}

void IdleConnections::close_one() {
    std::lock_guard lock(mutex_);
    if (connections_.empty()) return;
    connections_.erase(connections_.begin());
    closed_.erase(closed_.begin());
    silent_.erase(silent_.begin());
}

size_t IdleConnections::closed_by_server() {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (size_t i = 0; i < connections_.size(); ++i) {
        if (!closed_[i] && closed_by_peer(connections_[i].fd())) closed_[i] = true;
        if (closed_[i]) ++count;
    }
    return count;
}

size_t IdleConnections::size() {
    std::lock_guard lock(mutex_);
    return connections_.size();
}
