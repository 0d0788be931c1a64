#include "bench/idle_hold.h"

#include <poll.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/latency.h"
#include "bench/loopback_client.h"
#include "server/connection.h"

namespace {

using Clock = std::chrono::steady_clock;

// The receiver refuses a connection from an address that already has this many unread ones.
constexpr int CONNECTIONS_PER_SOURCE = MAX_UNREAD_CONNECTIONS_PER_CLIENT;
// A loopback connect takes well under a millisecond, unless the receiver's accept queue was
// full and the SYN had to be sent again, a second later.
constexpr auto SLOW_CONNECT = std::chrono::milliseconds(500);
// Descriptors beyond the idle connections: standard streams, the scan's socket, libraries.
constexpr int SPARE_FILES = 64;

Status raise_file_limit(int needed) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return Status::failure("getrlimit failed");
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return Status::failure("setrlimit failed");
    if (limit.rlim_max < rlim_t(needed)) {
        return Status::failure("The open-file limit is " + std::to_string(limit.rlim_max) + ", " +
                               std::to_string(needed) + " are needed (ulimit -Hn)");
    }
    return Status::success();
}

// The n-th source address, in host byte order: 127.0.1.1 to 127.0.1.254, then 127.0.2.1 and
// on, each octet carried into the next. None ends in .0 or .255, and none is in 127.0.0.x,
// where real clients live. The open-file limit keeps n far below the end of 127.0.0.0/8.
uint32_t source_address(int n) {
    return 0x7F000000u | uint32_t(1 + n / 254) << 8 | uint32_t(1 + n % 254);
}

// A "Name:  1234 kB" figure of /proc/{pid}/status, in KiB.
Result<long> read_status_kib(pid_t pid, const std::string& name) {
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    std::ifstream status(path);
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(name + ":"))
            return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    }
    return Result<long>::failure("No " + name + " in " + path);
}

double milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// The connections the receiver has not closed: nothing to read, no hang-up, no error.
int count_held(const std::vector<Socket>& sockets) {
    std::vector<pollfd> polled;
    polled.reserve(sockets.size());
    for (const Socket& socket : sockets) {
        polled.push_back({int(socket.native()), POLLIN | POLLRDHUP, 0});
    }
    if (poll(polled.data(), polled.size(), 0) < 0) return 0;
    int held = 0;
    for (const pollfd& one : polled) held += one.revents == 0;
    return held;
}

}  // namespace

Status measure_idle_hold(uint16_t port, int count, pid_t receiver, std::FILE* out) {
    if (Status raised = raise_file_limit(count + SPARE_FILES); !raised.ok()) return raised;
    Result<SslContext> context = new_client_context();
    if (!context.ok()) return Status::failure(context.error());
    Result<long> rss_idle = read_status_kib(receiver, "VmRSS");
    if (!rss_idle.ok()) return Status::failure(rss_idle.error());

    std::vector<Socket> idle;
    idle.reserve(size_t(count));
    int slow_connects = 0;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto connect_start = Clock::now();
        Result<Socket> opened = connect_from(source_address(i / CONNECTIONS_PER_SOURCE), port);
        if (!opened.ok()) {
            return Status::failure("Idle connection " + std::to_string(i) + ": " + opened.error());
        }
        slow_connects += Clock::now() - connect_start > SLOW_CONNECT;
        idle.push_back(std::move(opened.value()));
    }
    const auto open_time = Clock::now() - start;

    // The scan's connection queues behind every idle one, so once it is answered (or closed)
    // the receiver has taken all of them in, and the memory below includes them.
    Result<HttpsExchange> scan =
        https_exchange(context.value().get(), port, request_text(LatencyRequest::scan, port));
    Result<long> rss = read_status_kib(receiver, "VmRSS");
    Result<long> hwm = read_status_kib(receiver, "VmHWM");
    const int held = count_held(idle);
    const auto hold_time = Clock::now() - start;
    if (!rss.ok() || !hwm.ok()) return Status::failure(rss.ok() ? hwm.error() : rss.error());

    std::fprintf(out,
                 "held %d\ncount %d\nopen_ms %.0f\nslow_connects %d\nhold_ms %.0f\n"
                 "rss_idle_kib %ld\nrss_kib %ld\nhwm_kib %ld\n",
                 held, count, milliseconds(open_time), slow_connects, milliseconds(hold_time),
                 rss_idle.value(), rss.value(), hwm.value());
    if (scan.ok()) {
        std::fprintf(out, "scan_status %s\n", scan.value().response.substr(9, 3).c_str());
    } else {
        std::fprintf(out, "scan_status none\nscan_error %s\n", scan.error().c_str());
    }
    return Status::success();
}
