#include "net/endpoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/environment_variables.h"
#include "platform/user_files.h"
#include "tests/support/environment_override.h"
#include "tests/support/temporary_folder.h"
#include "receiver/receiver_state.h"

namespace {

TEST(PairingUrl, ExactText) {
    EXPECT_EQ(pairing_url_for("192.168.1.20", 8080),
              "https://192.168.1.20:8080/?pc=https%3A%2F%2F192.168.1.20%3A8080%2Fapi%2Fscan");
    EXPECT_EQ(pairing_url_for("127.0.0.1", 8080),
              "https://127.0.0.1:8080/?pc=https%3A%2F%2F127.0.0.1%3A8080%2Fapi%2Fscan");
    // Ports print in decimal without padding, at both ends of the range.
    EXPECT_EQ(pairing_url_for("10.0.0.7", 0),
              "https://10.0.0.7:0/?pc=https%3A%2F%2F10.0.0.7%3A0%2Fapi%2Fscan");
    EXPECT_EQ(pairing_url_for("10.0.0.7", 65535),
              "https://10.0.0.7:65535/?pc=https%3A%2F%2F10.0.0.7%3A65535%2Fapi%2Fscan");
    // A pairing key rides in the scan endpoint's query, encoded inside "pc" like the rest.
    EXPECT_EQ(pairing_url_for("192.168.1.20", 8080, "q-9_Zx"),
              "https://192.168.1.20:8080/?pc=https%3A%2F%2F192.168.1.20%3A8080%2Fapi%2Fscan"
              "%3Fkey%3Dq-9_Zx");
}

TEST(AdapterLabel, AddressEmDashName) {
    EXPECT_EQ(adapter_label({"Ethernet", "192.168.1.20"}), "192.168.1.20  \xE2\x80\x94  Ethernet");
    EXPECT_EQ(adapter_label({"Localhost", "127.0.0.1"}), "127.0.0.1  \xE2\x80\x94  Localhost");
}

class SelectedAdapter : public testing::Test {
  protected:
    SelectedAdapter() {
        state.adapters = {{"Ethernet", "10.0.0.7"},
                          {"Wi-Fi", "192.168.1.21"},
                          {"vEthernet (WSL)", "172.25.160.1"}};
        state.port = 8080;
    }
    ReceiverState state;
};

TEST_F(SelectedAdapter, FollowsTheIndexAndThePort) {
    EXPECT_EQ(selected_lan_ip(state), "10.0.0.7");
    state.selected_adapter = 2;
    EXPECT_EQ(selected_lan_ip(state), "172.25.160.1");
    EXPECT_EQ(pairing_url(state),
              "https://172.25.160.1:8080/?pc=https%3A%2F%2F172.25.160.1%3A8080%2Fapi%2Fscan");
    state.port = 9443;
    EXPECT_EQ(pairing_url(state),
              "https://172.25.160.1:9443/?pc=https%3A%2F%2F172.25.160.1%3A9443%2Fapi%2Fscan");
    state.pairing_key = "AbC-_0";
    EXPECT_EQ(pairing_url(state),
              "https://172.25.160.1:9443/?pc=https%3A%2F%2F172.25.160.1%3A9443%2Fapi%2Fscan"
              "%3Fkey%3DAbC-_0");
}

TEST_F(SelectedAdapter, IndexBeyondTheListUsesTheFirst) {
    state.selected_adapter = 3;
    EXPECT_EQ(selected_lan_ip(state), "10.0.0.7");
    state.selected_adapter = SIZE_MAX;
    EXPECT_EQ(selected_lan_ip(state), "10.0.0.7");
    EXPECT_EQ(pairing_url(state),
              "https://10.0.0.7:8080/?pc=https%3A%2F%2F10.0.0.7%3A8080%2Fapi%2Fscan");
}

TEST_F(SelectedAdapter, EmptyListUsesLoopback) {
    state.adapters.clear();
    EXPECT_EQ(selected_lan_ip(state), "127.0.0.1");
}

TEST(ListLanAdapters, ThisMachineGivesUsableEntries) {
    // Names and addresses vary by machine; only the invariants hold everywhere.
    const std::vector<AdapterEntry> adapters = list_lan_adapters();
    ASSERT_FALSE(adapters.empty());
    if (adapters.size() == 1 && adapters[0].name == "Localhost") {
        EXPECT_EQ(adapters[0].address, "127.0.0.1");
        return;
    }
    for (const AdapterEntry& entry : adapters) {
        EXPECT_FALSE(entry.name.empty());
        EXPECT_FALSE(entry.address.starts_with("127.")) << entry.address;
        EXPECT_FALSE(entry.address.starts_with("169.254.")) << entry.address;
        EXPECT_NE(entry.address, "0.0.0.0");
        EXPECT_EQ(std::count(entry.address.begin(), entry.address.end(), '.'), 3) << entry.address;
    }
}

TEST(HostDisplayName, ComputerNameFirst) {
    EnvironmentOverride computer("COMPUTERNAME", "DESK-7");
    EnvironmentOverride host("HOSTNAME", "linuxbox");
    EXPECT_EQ(host_display_name(), "DESK-7");
}

TEST(HostDisplayName, EmptyComputerNameIsStillAName) {
    EnvironmentOverride computer("COMPUTERNAME", "");
    EnvironmentOverride host("HOSTNAME", "linuxbox");
    EXPECT_EQ(host_display_name(), "");
}

TEST(HostDisplayName, HostNameWhenComputerNameUnsetOrInvalid) {
    EnvironmentOverride host("HOSTNAME", "Caf\xC3\xA9-PC");
    {
        EnvironmentOverride computer("COMPUTERNAME", std::nullopt);
        EXPECT_EQ(host_display_name(), "Caf\xC3\xA9-PC");
    }
    EnvironmentOverride computer("COMPUTERNAME", "bad\xFF");
    EXPECT_EQ(host_display_name(), "Caf\xC3\xA9-PC");
}

TEST(HostDisplayName, SystemNameWhenNeitherIsUsable) {
    // This machine's own name, or "PC" where it has none.
    const std::string fallback = read_system_host_name().value_or("PC");
    EnvironmentOverride computer("COMPUTERNAME", std::nullopt);
    {
        EnvironmentOverride host("HOSTNAME", std::nullopt);
        EXPECT_EQ(host_display_name(), fallback);
    }
    EnvironmentOverride host("HOSTNAME", "\xED\xA0\x80");  // an encoded lone surrogate
    EXPECT_EQ(host_display_name(), fallback);
}

TEST(ChooseHostName, SystemNameOnlyWhenBothVariablesAreBlank) {
    const std::optional<std::string> unset;
    struct Row {
        std::optional<std::string> computer, host, system;
        const char* expected;
        const char* why;
    } rows[] = {
        {"DESK-7", "linuxbox", "kernel-name", "DESK-7", "COMPUTERNAME first"},
        {unset, "linuxbox", "kernel-name", "linuxbox", "then HOSTNAME"},
        {unset, unset, "kernel-name", "kernel-name", "then the system's name"},
        {"", "", "kernel-name", "kernel-name", "empty variables are blank"},
        {"", "linuxbox", "kernel-name", "", "an empty COMPUTERNAME with a HOSTNAME still wins"},
        {unset, unset, unset, "PC", "nothing at all"},
        {"", unset, unset, "", "no system name: the variables as before"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(choose_host_name(row.computer, row.host, row.system), row.expected) << row.why;
    }
}

TEST(HostDisplayName, ReadOnEveryCall) {
    EnvironmentOverride computer("COMPUTERNAME", "first");
    EXPECT_EQ(host_display_name(), "first");
    EnvironmentOverride changed("COMPUTERNAME", "second");
    EXPECT_EQ(host_display_name(), "second");
}

TEST(ReadEnvironmentVariable, AbsentEmptyAndInvalid) {
    EnvironmentOverride absent("QUILLMARK_TEST_ABSENT", std::nullopt);
    EXPECT_EQ(read_environment_variable("QUILLMARK_TEST_ABSENT"), std::nullopt);
    EnvironmentOverride empty("QUILLMARK_TEST_EMPTY", "");
    EXPECT_EQ(read_environment_variable("QUILLMARK_TEST_EMPTY"), std::string());
    EnvironmentOverride invalid("QUILLMARK_TEST_INVALID", "\xC0\xAF");  // overlong "/"
    EXPECT_EQ(read_environment_variable("QUILLMARK_TEST_INVALID"), std::nullopt);
}

TEST(UserFiles, FoldersFollowXdgAndFallBackToHome) {
    EnvironmentOverride home("HOME", "/home/ana");
    EnvironmentOverride data("XDG_DATA_HOME", "/data");
    EnvironmentOverride config("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(user_data_folder().value(), std::filesystem::path("/data/quillmark"));
    EXPECT_EQ(user_config_folder().value(), std::filesystem::path("/home/ana/.config/quillmark"));
    EnvironmentOverride no_data("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(user_data_folder().value(),
              std::filesystem::path("/home/ana/.local/share/quillmark"));
    EnvironmentOverride no_home("HOME", std::nullopt);
    EXPECT_FALSE(user_data_folder().ok());
}

TEST(UserFiles, AtomicWriteReplacesWholeFileForTheUserOnly) {
    const TemporaryFolder temporary;
    const auto& root = temporary.path;
    const auto folder = root / "a" / "b";
    ASSERT_TRUE(make_private_folder(folder).ok());
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    const auto file = folder / "x.conf";
    ASSERT_TRUE(write_file_atomically(file, "first, longer content\n").ok());
    ASSERT_TRUE(write_file_atomically(file, std::string("se\0cond", 7)).ok());
    EXPECT_EQ(read_whole_file(file).value(), std::string("se\0cond", 7));
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no temp left
    // A file where the folder should be, and a missing folder, are one-line errors.
    EXPECT_FALSE(make_private_folder(file).ok());
    const Status refused = write_file_atomically(root / "missing" / "x", "y");
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().find("missing"), std::string::npos) << refused.error();
    EXPECT_FALSE(read_whole_file(root / "missing").ok());
}

}  // namespace
