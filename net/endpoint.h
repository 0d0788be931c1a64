// The advertised LAN address, the computer's display name and the pairing URL behind the QR code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/adapter_entry.h"

// The filtered and ranked adapter list; never empty ("Localhost" / "127.0.0.1" as fallback).
std::vector<AdapterEntry> list_lan_adapters();

// "https://{ip}:{port}/?pc=" + the percent-encoded scan endpoint; with a pairing key the
// endpoint carries it ("/api/scan?key=...").
// `pairing_key` is base64url, which needs no encoding.
std::string pairing_url_for(const std::string& ip, uint16_t port,
                            const std::string& pairing_key = "");

// "{address}  —  {name}", the adapter combo box text.
std::string adapter_label(const AdapterEntry& entry);

// COMPUTERNAME, else HOSTNAME, else "PC"; read from the environment on every call. When both
// variables are unset or empty, the system's own name comes before "PC" (HOSTNAME is usually an
// unexported shell variable on Linux).
std::string host_display_name();
std::string choose_host_name(const std::optional<std::string>& computer_name,
                             const std::optional<std::string>& host_name,
                             const std::optional<std::string>& system_name);
