// Many idle connections held against the receiver at once: the memory it takes to hold them,
// how many it keeps, and whether a real scan still gets through meanwhile.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

#include "core/result.h"

// Opens `count` TCP connections to 127.0.0.1:{port} that send nothing, from as many loopback
// source addresses as the per-address cap of unread connections needs; then posts one scan
// over TLS from 127.0.0.1, reads the memory of the `receiver` process and counts the idle
// connections it has not closed. Prints to `out` the lines "held", "count", "open_ms",
// "slow_connects" (connects that waited for a resent SYN), "hold_ms" (first connect to the
// count), "rss_idle_kib" (before the first connect), "rss_kib", "hwm_kib" and "scan_status"
// (the answer's status code, or "none" and a "scan_error" line). Raises this process's
// open-file limit first.
Status measure_idle_hold(uint16_t port, int count, pid_t receiver, std::FILE* out);
