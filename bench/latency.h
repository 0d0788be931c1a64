// Request latency on a new TLS connection each, one request after the other on an idle server:
// the scan POST of the phone, or GET /api/ping as a control that any HTTPS server can answer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/result.h"

enum class LatencyRequest { scan, ping };

// The whole request: the phone's scan POST of an EAN-13 reading, or the ping; it asks for the
// connection's close unless `keep`.
std::string request_text(LatencyRequest kind, uint16_t port, bool keep = false);

// Sends `warm_up` unmeasured requests, then `count` measured ones, to 127.0.0.1:{port}, and
// prints "p50_ms", "p99_ms" and "max_ms" lines to `out`. Any answer other than 200 fails the
// run.
Status measure_latency(LatencyRequest kind, uint16_t port, int warm_up, int count, std::FILE* out);
