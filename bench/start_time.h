// Time from starting the receiver process to its "HTTPS listening on" line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/result.h"

// Starts `receiver` headless on `port` `runs` times, one after the other, each time ending it
// by its PID once the line is read, and prints "start_median_ms", "start_min_ms" and
// "start_max_ms" lines to `out`. The time includes making the TLS key and certificate.
Status measure_start_time(const std::string& receiver, uint16_t port, int runs, std::FILE* out);
