// The platform's list of (adapter friendly name, unicast address) pairs, before any filtering.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One unicast address of one adapter. Addresses of other families (IPv6) are reported too,
// with `is_ipv4` false, so the ranking alone decides what is kept.
struct AdapterCandidate {
    std::string name;  // friendly name, UTF-8
    bool is_ipv4 = false;
    uint32_t ipv4 = 0;  // host byte order: 192.168.1.20 is 0xC0A80114
};

// Adapters in the order the system reports them, and within each its addresses in order.
// Enumeration failure yields an empty list; the error is not shown anywhere.
std::vector<AdapterCandidate> list_adapter_candidates();
