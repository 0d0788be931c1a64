#include "server/identity_rules.h"

#include <algorithm>
#include <array>

#include "core/text_codes.h"
#include "server/tls_identity.h"

namespace {

constexpr PermittedRange RANGE_TABLE[] = {
    {"10.0.0.0", "255.0.0.0"},      {"172.16.0.0", "255.240.0.0"}, {"192.168.0.0", "255.255.0.0"},
    {"169.254.0.0", "255.255.0.0"}, {"100.64.0.0", "255.192.0.0"}, {"127.0.0.0", "255.0.0.0"},
    {"fc00::", "fe00::"},           {"fe80::", "ffc0::"},
};

// The RFC 5280 form: a name permits itself and every name that adds labels on its left.
constexpr std::string_view LOCAL_DNS_NAMES[] = {"localhost", "local", "lan", "home.arpa"};

bool address_in_range(const std::string& address, const PermittedRange& range) {
    const std::string base = ip_address_bytes(range.address);
    const std::string mask = ip_address_bytes(range.mask);
    if (address.size() != base.size()) return false;
    for (size_t i = 0; i < address.size(); ++i) {
        if ((address[i] & mask[i]) != (base[i] & mask[i])) return false;
    }
    return true;
}

// Letters, digits, hyphens and dots, as a name constraint can hold (and its configuration text
// can carry without quoting).
bool reads_as_dns_name(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.back() == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.';
    });
}

bool dns_name_within(std::string_view name, std::string_view base) {
    if (name.size() == base.size()) return equals_ascii_case_insensitive(name, base);
    return name.size() > base.size() && name[name.size() - base.size() - 1] == '.' &&
           equals_ascii_case_insensitive(name.substr(name.size() - base.size()), base);
}

}  // namespace

constinit const std::span<const PermittedRange> PERMITTED_RANGES{RANGE_TABLE};

std::string local_ca_common_name(std::string_view host_name) {
    return "Quillmark local CA (" + std::string(host_name) + ")";
}

std::vector<std::string> permitted_dns_names(std::string_view host_name) {
    std::vector<std::string> names(std::begin(LOCAL_DNS_NAMES), std::end(LOCAL_DNS_NAMES));
    if (reads_as_dns_name(host_name) && !reads_as_ip_address(host_name) &&
        !name_permitted(host_name, names)) {
        names.emplace_back(host_name);
    }
    return names;
}

std::string name_constraints_text(std::span<const std::string> dns_names) {
    std::string text = "critical";
    for (const PermittedRange& range : PERMITTED_RANGES) {
        text += ",permitted;IP:" + std::string(range.address) + "/" + std::string(range.mask);
    }
    for (const std::string& name : dns_names) text += ",permitted;DNS:" + name;
    return text;
}

bool name_permitted(std::string_view name, std::span<const std::string> dns_names) {
    if (reads_as_ip_address(name)) {
        const std::string address = ip_address_bytes(name);
        return std::any_of(
            PERMITTED_RANGES.begin(), PERMITTED_RANGES.end(),
            [&](const PermittedRange& range) { return address_in_range(address, range); });
    }
    return reads_as_dns_name(name) &&
           std::any_of(dns_names.begin(), dns_names.end(),
                       [&](const std::string& base) { return dns_name_within(name, base); });
}

ServerCertificateNames server_certificate_names(std::span<const std::string> names,
                                                std::span<const std::string> dns_names) {
    ServerCertificateNames split;
    for (const std::string& name : names) {
        (name_permitted(name, dns_names) ? split.kept : split.left_out).push_back(name);
    }
    return split;
}

bool server_certificate_reusable(std::span<const std::string> stored_names,
                                 std::span<const std::string> wanted_names,
                                 long long seconds_left) {
    if (seconds_left <= REUSE_MARGIN_SECONDS) return false;
    std::vector<std::string> stored(stored_names.begin(), stored_names.end());
    std::vector<std::string> wanted(wanted_names.begin(), wanted_names.end());
    std::sort(stored.begin(), stored.end());
    std::sort(wanted.begin(), wanted.end());
    return stored == wanted;
}
