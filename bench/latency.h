// Latency of one scan POST on a new TLS connection each, one after the other on an idle server.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/result.h"

// Sends `warm_up` unmeasured scans, then `count` measured ones, to 127.0.0.1:{port}, and
// prints "scan_p50_ms", "scan_p99_ms" and "scan_max_ms" lines to `out`. Any answer other
// than 200 fails the run.
Status measure_scan_latency(uint16_t port, int warm_up, int count, std::FILE* out);
