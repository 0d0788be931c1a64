#include "net/adapters.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

AdapterCandidate v4(std::string name, uint32_t address) {
    return {std::move(name), true, address};
}
AdapterCandidate v6(std::string name) {
    return {std::move(name), false, 0};
}

std::vector<std::string> names(const std::vector<AdapterEntry>& entries) {
    std::vector<std::string> out;
    for (const AdapterEntry& e : entries) out.push_back(e.name);
    return out;
}

TEST(AdapterRanking, PhysicalWiredPrivateThenName) {
    // Reported in an order unlike the ranking, to show the sort does the work.
    const auto ranked = rank_lan_adapters({
        v4("vEthernet (WSL)", ip(172, 25, 160, 1)),
        v4("Wi-Fi", ip(192, 168, 1, 21)),
        v4("Ethernet 2", ip(172, 16, 0, 5)),
        v4("Ethernet", ip(10, 0, 0, 7)),
    });
    EXPECT_EQ(names(ranked),
              (std::vector<std::string>{"Ethernet", "Ethernet 2", "Wi-Fi", "vEthernet (WSL)"}));
    EXPECT_EQ(ranked[0].address, "10.0.0.7");
    EXPECT_EQ(ranked[1].address, "172.16.0.5");
}

TEST(AdapterRanking, WiredPublicRangeBeatsWirelessPrivate) {
    const auto ranked = rank_lan_adapters({
        v4("Wi-Fi", ip(192, 168, 0, 2)),
        v4("Ethernet", ip(172, 20, 1, 1)),
    });
    EXPECT_EQ(names(ranked), (std::vector<std::string>{"Ethernet", "Wi-Fi"}));
}

TEST(AdapterRanking, PrivateRangeDecidesBetweenEqualKinds) {
    const auto ranked = rank_lan_adapters({
        v4("A public", ip(8, 8, 8, 8)),
        v4("B home", ip(192, 168, 5, 5)),
        v4("C corp", ip(10, 1, 2, 3)),
        v4("D docker-ish", ip(172, 17, 0, 1)),
    });
    EXPECT_EQ(names(ranked),
              (std::vector<std::string>{"B home", "C corp", "A public", "D docker-ish"}));
}

TEST(AdapterRankKey, WordsMatchWithoutRegardToCase) {
    EXPECT_EQ(adapter_rank_key({"Office VPN", "192.168.1.2"}).is_virtual, 2);
    EXPECT_EQ(adapter_rank_key({"eth0", "192.168.1.2"}).not_wired, 0);
    EXPECT_EQ(adapter_rank_key({"ETH1", "192.168.1.2"}).not_wired, 0);
    EXPECT_EQ(adapter_rank_key({"My ETHERNET link", "192.168.1.2"}).not_wired, 0);
    EXPECT_EQ(adapter_rank_key({"wlan0", "192.168.1.2"}).not_wired, 1);
    // "eth" counts only at the start; "ethernet" anywhere.
    EXPECT_EQ(adapter_rank_key({"veth1234", "192.168.1.2"}).not_wired, 1);
    for (const char* name : {"vEthernet (Default Switch)", "WSL", "Hyper-V Virtual", "docker0",
                             "VMware Network Adapter VMnet8", "VirtualBox Host-Only", "Tailscale",
                             "ZeroTier One", "OpenVPN TAP"}) {
        EXPECT_EQ(adapter_rank_key({name, "10.0.0.1"}).is_virtual, 2) << name;
    }
    EXPECT_EQ(adapter_rank_key({"Ethernet", "10.0.0.1"}).is_virtual, 0);
}

TEST(AdapterRankKey, KelvinSignLowerCasesToK) {
    // U+212A KELVIN SIGN lower-cases to "k": "Doc\u212Aer" reads as "docker".
    EXPECT_EQ(adapter_rank_key({"Doc\u212Aer", "10.0.0.1"}).is_virtual, 2);
    // Other non-ASCII letters never lower-case into a word.
    EXPECT_EQ(adapter_rank_key({"V\u00D0N", "10.0.0.1"}).is_virtual, 0);
}

TEST(AdapterRankKey, PrivatePrefixesAreTextual) {
    EXPECT_EQ(adapter_rank_key({"x", "192.168.0.1"}).not_private, 0);
    EXPECT_EQ(adapter_rank_key({"x", "10.255.0.1"}).not_private, 0);
    EXPECT_EQ(adapter_rank_key({"x", "172.16.0.1"}).not_private, 1);
    EXPECT_EQ(adapter_rank_key({"x", "100.64.0.1"}).not_private, 1);
    // 110.x and 192.169.x must not pass as private by a loose prefix test.
    EXPECT_EQ(adapter_rank_key({"x", "110.0.0.1"}).not_private, 1);
    EXPECT_EQ(adapter_rank_key({"x", "192.169.0.1"}).not_private, 1);
}

TEST(AdapterRanking, NamesCompareByteWiseAndCaseSensitive) {
    const auto ranked = rank_lan_adapters({
        v4("ethernet", ip(10, 0, 0, 1)),
        v4("Ethernet 2", ip(10, 0, 0, 2)),
        v4("Ethernet", ip(10, 0, 0, 3)),
        v4("Ethernet \u00C9", ip(10, 0, 0, 4)),  // bytes C3 89 sort after every ASCII byte
        v4("Ethernet Z", ip(10, 0, 0, 5)),
    });
    EXPECT_EQ(names(ranked), (std::vector<std::string>{"Ethernet", "Ethernet 2", "Ethernet Z",
                                                       "Ethernet \u00C9", "ethernet"}));
}

TEST(AdapterRanking, EqualKeysKeepSystemOrder) {
    const auto ranked = rank_lan_adapters({
        v4("Ethernet", ip(10, 0, 0, 9)),
        v4("Wi-Fi", ip(192, 168, 1, 3)),
        v4("Ethernet", ip(10, 0, 0, 1)),
        v4("Ethernet", ip(10, 0, 0, 5)),
    });
    ASSERT_EQ(ranked.size(), 4u);
    EXPECT_EQ(ranked[0].address, "10.0.0.9");
    EXPECT_EQ(ranked[1].address, "10.0.0.1");
    EXPECT_EQ(ranked[2].address, "10.0.0.5");
    EXPECT_EQ(ranked[3].name, "Wi-Fi");
}

TEST(AdapterFilter, DropsLoopbackUnspecifiedLinkLocalAndIpv6) {
    const auto ranked = rank_lan_adapters({
        v4("Loopback Pseudo-Interface 1", ip(127, 0, 0, 1)),
        v4("lo", ip(127, 255, 255, 254)),
        v4("Unplugged", ip(0, 0, 0, 0)),
        v4("APIPA", ip(169, 254, 12, 34)),
        v6("Wi-Fi"),
        v4("Wi-Fi", ip(192, 168, 1, 20)),
    });
    EXPECT_EQ(ranked, (std::vector<AdapterEntry>{{"Wi-Fi", "192.168.1.20"}}));
}

TEST(AdapterFilter, NeighboursOfDroppedRangesStay) {
    const auto ranked = rank_lan_adapters({
        v4("a", ip(126, 255, 255, 255)),
        v4("b", ip(128, 0, 0, 0)),
        v4("c", ip(169, 253, 255, 255)),
        v4("d", ip(169, 255, 0, 0)),
        v4("e", ip(0, 0, 0, 1)),
    });
    EXPECT_EQ(ranked.size(), 5u);
}

TEST(AdapterFilter, NothingUsableGivesLocalhost) {
    const std::vector<AdapterEntry> fallback{{"Localhost", "127.0.0.1"}};
    EXPECT_EQ(rank_lan_adapters({}), fallback);
    EXPECT_EQ(rank_lan_adapters({v4("Link", ip(169, 254, 12, 34)), v6("Link")}), fallback);
}

TEST(AdapterFilter, SeveralAddressesOfOneAdapterGiveSeveralEntries) {
    const auto ranked = rank_lan_adapters({
        v4("Ethernet", ip(192, 168, 1, 20)),
        v4("Ethernet", ip(169, 254, 1, 1)),
        v4("Ethernet", ip(10, 0, 0, 20)),
    });
    EXPECT_EQ(ranked,
              (std::vector<AdapterEntry>{{"Ethernet", "192.168.1.20"}, {"Ethernet", "10.0.0.20"}}));
}

TEST(DottedIpv4, ExtremesAndByteOrder) {
    EXPECT_EQ(dotted_ipv4(ip(192, 168, 1, 20)), "192.168.1.20");
    EXPECT_EQ(dotted_ipv4(0), "0.0.0.0");
    EXPECT_EQ(dotted_ipv4(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(dotted_ipv4(ip(10, 0, 200, 7)), "10.0.200.7");
}

}  // namespace
