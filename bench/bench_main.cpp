// quillmark-bench: the measuring half of scripts/run_benchmarks.sh.
//   quillmark-bench free-port
//   quillmark-bench latency scan|ping PORT WARM_UP COUNT
//   quillmark-bench start-time RECEIVER PORT RUNS [stored|new|ephemeral]
//   quillmark-bench idle-hold PORT COUNT RECEIVER_PID
//   quillmark-bench link PORT ROUND_TRIP_MS WARM_UP COUNT
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/idle_hold.h"
#include "bench/latency.h"
#include "bench/link_latency.h"
#include "bench/loopback_client.h"
#include "bench/start_time.h"

namespace {

int usage() {
    std::fputs(
        "usage: quillmark-bench free-port\n"
        "       quillmark-bench latency scan|ping PORT WARM_UP COUNT\n"
        "       quillmark-bench start-time RECEIVER PORT RUNS [stored|new|ephemeral]\n"
        "       quillmark-bench idle-hold PORT COUNT RECEIVER_PID\n"
        "       quillmark-bench link PORT ROUND_TRIP_MS WARM_UP COUNT\n",
        stderr);
    return 2;
}

int report(const Status& status) {
    if (status.ok()) return 0;
    std::fprintf(stderr, "quillmark-bench: %s\n", status.error().c_str());
    return 1;
}

uint16_t port_argument(const char* text) {
    return uint16_t(std::strtoul(text, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "free-port" && argc == 2) {
        Result<uint16_t> port = find_free_port();
        if (!port.ok()) return report(Status::failure(port.error()));
        std::printf("%u\n", unsigned(port.value()));
        return 0;
    }
    const std::string kind = argc > 2 ? argv[2] : "";
    if (command == "latency" && argc == 6 && (kind == "scan" || kind == "ping")) {
        return report(measure_latency(kind == "scan" ? LatencyRequest::scan : LatencyRequest::ping,
                                      port_argument(argv[3]), std::atoi(argv[4]),
                                      std::atoi(argv[5]), stdout));
    }
    if (command == "start-time" && (argc == 5 || argc == 6)) {
        const std::string identity = argc == 6 ? argv[5] : "stored";
        StartCase start_case = StartCase::stored_identity;
        if (identity == "new") {
            start_case = StartCase::new_identity;
        } else if (identity == "ephemeral") {
            start_case = StartCase::ephemeral_identity;
        } else if (identity != "stored") {
            return usage();
        }
        return report(measure_start_time(argv[2], port_argument(argv[3]), std::atoi(argv[4]),
                                         start_case, stdout));
    }
    if (command == "idle-hold" && argc == 5 && std::atoi(argv[3]) > 0) {
        return report(measure_idle_hold(port_argument(argv[2]), std::atoi(argv[3]),
                                        pid_t(std::atoi(argv[4])), stdout));
    }
    if (command == "link" && argc == 6 && std::atoi(argv[3]) > 0 && std::atoi(argv[5]) > 0) {
        return report(measure_link_latency(port_argument(argv[2]),
                                           std::chrono::milliseconds(std::atoi(argv[3])),
                                           std::atoi(argv[4]), std::atoi(argv[5]), stdout));
    }
    return usage();
}
