#pragma once

#include <string>

// One advertisable address: the adapter's friendly name and a dotted-decimal IPv4 address.
struct AdapterEntry {
    std::string name;
    std::string address;

    bool operator==(const AdapterEntry&) const = default;
};
