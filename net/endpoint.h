// The advertised LAN address, the computer's display name and the pairing URL behind the QR code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/adapter_entry.h"

struct ReceiverState;

// The filtered and ranked adapter list; never empty ("Localhost" / "127.0.0.1" as fallback).
std::vector<AdapterEntry> list_lan_adapters();

// The address of the selected adapter (the first one when the index is out of range,
// "127.0.0.1" when the list is empty). Takes the adapter lock for the copy.
std::string selected_lan_ip(ReceiverState& state);

// "https://{ip}:{port}/?pc=" + the percent-encoded scan endpoint, for the current state.
// Computed afresh on every call, so it follows the adapter choice and the port at once.
std::string pairing_url(ReceiverState& state);
std::string pairing_url_for(const std::string& ip, uint16_t port);

// "{address}  —  {name}", the adapter combo box text.
std::string adapter_label(const AdapterEntry& entry);

// COMPUTERNAME, else HOSTNAME, else "PC"; read from the environment on every call. When both
// variables are unset or empty, the system's own name comes before "PC" (HOSTNAME is usually an
// unexported shell variable on Linux).
std::string host_display_name();
std::string choose_host_name(const std::optional<std::string>& computer_name,
                             const std::optional<std::string>& host_name,
                             const std::optional<std::string>& system_name);
