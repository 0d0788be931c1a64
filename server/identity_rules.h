// What the lasting identity's certificates say and when a stored one serves again: decisions
// only, no files and no keys.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// One address range the local CA may sign for, as address and mask texts.
struct PermittedRange {
    std::string_view address;
    std::string_view mask;
};

// The private and local ranges: 10/8, 172.16/12, 192.168/16, 169.254/16, 100.64/10, 127/8,
// the IPv6 unique-local fc00::/7 and link-local fe80::/10.
extern const std::span<const PermittedRange> PERMITTED_RANGES;

// The local CA's subject common name: "Quillmark local CA (HOST)".
std::string local_ca_common_name(std::string_view host_name);

// The DNS names the local CA may sign for, each with every name below it: "localhost",
// "local", "lan", "home.arpa", then the host name when it is a DNS name and not one of those.
std::vector<std::string> permitted_dns_names(std::string_view host_name);

// The name constraints extension in OpenSSL's configuration syntax, critical, with every
// permitted range and DNS name.
std::string name_constraints_text(std::span<const std::string> dns_names);

// True when a certificate for `name` (an IP address text or a DNS name) stays within the
// permitted ranges and `dns_names` (compared without regard to case).
bool name_permitted(std::string_view name, std::span<const std::string> dns_names);

struct ServerCertificateNames {
    std::vector<std::string> kept;      // in the order given
    std::vector<std::string> left_out;  // outside the CA's constraints
};

// Splits the subject alternative names into those the local CA may sign for and the rest.
ServerCertificateNames server_certificate_names(std::span<const std::string> names,
                                                std::span<const std::string> dns_names);

// A stored server certificate serves again while it has the wanted names (in any order) and
// more than 30 days to run.
inline constexpr long long REUSE_MARGIN_SECONDS = 30LL * 24 * 60 * 60;
bool server_certificate_reusable(std::span<const std::string> stored_names,
                                 std::span<const std::string> wanted_names, long long seconds_left);
