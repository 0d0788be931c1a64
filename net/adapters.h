// Which addresses are offered for pairing, and in which order. Pure logic, no platform calls.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "net/adapter_entry.h"
#include "platform/adapter_candidates.h"

// Searched in the lower-cased adapter name; any hit marks a virtual or tunnel adapter.
inline constexpr std::array<std::string_view, 9> VIRTUAL_ADAPTER_WORDS = {
    "vethernet", "wsl", "hyper-v", "docker", "vmware", "virtualbox", "tailscale", "zerotier", "vpn",
};

inline const AdapterEntry FALLBACK_ADAPTER = {"Localhost", "127.0.0.1"};

// Sort key, compared field by field: physical before virtual, wired before wireless, then
// 192.168/16 and 10/8 before everything else, then the name byte by byte.
struct AdapterRankKey {
    int is_virtual = 0;   // 0 or 2
    int not_wired = 0;    // 0 or 1
    int not_private = 0;  // 0 or 1
    std::string name;

    auto operator<=>(const AdapterRankKey&) const = default;
};

AdapterRankKey adapter_rank_key(const AdapterEntry& entry);

// "192.168.1.20" for 0xC0A80114.
std::string dotted_ipv4(uint32_t address);

// Loopback (127/8), unspecified (0.0.0.0) and link-local (169.254/16) are never advertised.
bool is_advertisable_ipv4(uint32_t address);

// IPv4 candidates that can be advertised, stably sorted by adapter_rank_key; never empty.
std::vector<AdapterEntry> rank_lan_adapters(const std::vector<AdapterCandidate>& candidates);
