#include "net/endpoint.h"

#include "net/adapters.h"
#include "platform/adapter_candidates.h"
#include "platform/environment_variables.h"

std::vector<AdapterEntry> list_lan_adapters() {
    return rank_lan_adapters(list_adapter_candidates());
}

std::string pairing_url_for(const std::string& ip, uint16_t port, const std::string& pairing_key) {
    // Only the fixed characters need encoding: an IPv4 address and a port are digits and dots,
    // and a base64url key holds nothing that needs it either.
    const std::string port_text = std::to_string(port);
    std::string endpoint = "https%3A%2F%2F" + ip + "%3A" + port_text + "%2Fapi%2Fscan";
    if (!pairing_key.empty()) endpoint += "%3Fkey%3D" + pairing_key;
    return "https://" + ip + ":" + port_text + "/?pc=" + endpoint;
}

std::string adapter_label(const AdapterEntry& entry) {
    return entry.address + "  \u2014  " + entry.name;
}

std::string host_display_name() {
    return choose_host_name(read_environment_variable("COMPUTERNAME"),
                            read_environment_variable("HOSTNAME"), read_system_host_name());
}

std::string choose_host_name(const std::optional<std::string>& computer_name,
                             const std::optional<std::string>& host_name,
                             const std::optional<std::string>& system_name) {
    const auto blank = [](const std::optional<std::string>& name) {
        return !name || name->empty();
    };
    if (blank(computer_name) && blank(host_name) && !blank(system_name)) return *system_name;
    if (computer_name) return *computer_name;  // set but empty is still a name
    if (host_name) return *host_name;
    return "PC";
}
