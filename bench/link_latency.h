// Scan latency over an emulated slow link (the delaying proxy on loopback): a new TLS
// connection for every scan, against scans on one kept connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "core/result.h"

// Posts `warm_up` and then `count` scans through a proxy with `round_trip` in front of
// 127.0.0.1:{port}, first each on a new connection, then one after the other on a kept one
// (opened again whenever the server closes it). Prints "new_p50_ms", "new_p99_ms",
// "kept_p50_ms", "kept_p99_ms" and "kept_connections" (connections the kept run opened) to
// `out`. Any answer other than 200 fails the run.
Status measure_link_latency(uint16_t port, std::chrono::milliseconds round_trip, int warm_up,
                            int count, std::FILE* out);
