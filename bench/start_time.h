// Time from starting the receiver process to its "HTTPS listening on" line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/result.h"

// What the receiver starts with: the identity stored in its data folder (the environment's,
// made by an earlier start), a new one in an empty data folder each run, or
// --ephemeral-identity (a key and self-signed certificate in memory).
enum class StartCase { stored_identity, new_identity, ephemeral_identity };

// Starts `receiver` headless on `port` `runs` times, one after the other, each time ending it
// by its PID once the line is read, and prints "start_median_ms", "start_min_ms" and
// "start_max_ms" lines to `out`. The time includes opening or making the TLS identity.
Status measure_start_time(const std::string& receiver, uint16_t port, int runs,
                          StartCase start_case, std::FILE* out);
