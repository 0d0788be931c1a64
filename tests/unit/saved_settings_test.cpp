#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "platform/user_files.h"
#include "receiver/receiver_state.h"
#include "receiver/saved_settings.h"
#include "receiver/settings_store.h"
#include "receiver/start_settings.h"
#include "tests/support/environment_override.h"

namespace {

StartSettings start_from(const std::vector<std::string>& arguments, const SavedValues& saved,
                         std::vector<std::string>* problems = nullptr) {
    StartSettings start;
    start.command_line = parse_command_line(arguments);
    std::vector<std::string> lines = apply_saved_values(saved, start);
    if (problems) *problems = std::move(lines);
    return start;
}

// One row per setting: a saved text that differs from the default, the option that gives the
// setting on the command line (with its value), and the setting read back as text.
struct PrecedenceRow {
    std::string name;
    std::string saved;
    std::vector<std::string> option;  // empty when no option gives it
    std::function<std::string(const StartSettings&)> read;
};

std::string on_off(bool on) {
    return on ? "on" : "off";
}

const ReceiverSettings& settings(const StartSettings& s) {
    return s.command_line.settings;
}

std::vector<PrecedenceRow> precedence_rows() {
    return {
        {"port",
         "9100",
         {"-p", "9200"},
         [](const StartSettings& s) { return std::to_string(settings(s).port); }},
        {"adapter", "10.1.2.3", {}, [](const StartSettings& s) { return s.adapter; }},
        {"auto_type",
         "false",
         {"--no-type"},
         [](const StartSettings& s) { return on_off(settings(s).auto_type); }},
        {"press_enter",
         "false",
         {"--no-enter"},
         [](const StartSettings& s) { return on_off(settings(s).press_enter); }},
        {"copy_to_clipboard",
         "false",
         {"--no-copy"},
         [](const StartSettings& s) { return on_off(settings(s).copy_to_clipboard); }},
        {"key_delay",
         "20",
         {"--key-delay", "30"},
         [](const StartSettings& s) { return std::to_string(settings(s).typing.key_delay_ms); }},
        {"type_mode",
         "keys",
         {"--type-mode", "unicode"},
         [](const StartSettings& s) {
             return std::string(settings(s).typing.mode == TypeMode::keys ? "keys" : "unicode");
         }},
        {"suffix_key",
         "tab",
         {"--suffix-key", "enter"},
         [](const StartSettings& s) {
             return std::string(settings(s).typing.suffix_key == SuffixKey::tab ? "tab" : "enter");
         }},
        {"prefix",
         "<",
         {"--prefix", "["},
         [](const StartSettings& s) { return settings(s).typing.prefix; }},
        {"postfix",
         ">",
         {"--postfix", "]"},
         [](const StartSettings& s) { return settings(s).typing.postfix; }},
        {"pairing_key",
         "true",
         {"--pairing-key"},
         [](const StartSettings& s) { return on_off(s.command_line.pairing_key); }},
        {"start_with_windows",
         "true",
         {},
         [](const StartSettings& s) { return on_off(s.start_with_windows); }},
        {"close_to_tray",
         "true",
         {},
         [](const StartSettings& s) { return on_off(s.close_to_tray); }},
    };
}

TEST(SavedSettings, CommandLineWinsOverSavedWhichWinsOverTheDefault) {
    const StartSettings defaults = start_from({}, {});
    EXPECT_EQ(precedence_rows().size(), saved_values_of(defaults).size()) << "a row per setting";
    for (const PrecedenceRow& row : precedence_rows()) {
        SCOPED_TRACE(row.name);
        const SavedValues saved{{row.name, row.saved}};
        const std::string default_value = row.read(defaults);
        const StartSettings from_saved = start_from({}, saved);
        EXPECT_NE(row.read(from_saved), default_value) << "the saved value is used";
        // Saved and read back as the same text: what is saved is what the next start uses.
        EXPECT_EQ(saved_values_of(from_saved).at(row.name), row.saved);
        if (row.option.empty()) continue;
        const StartSettings from_both = start_from(row.option, saved);
        EXPECT_EQ(row.read(from_both), row.read(start_from(row.option, {})))
            << "the command line wins";
    }
}

TEST(SavedSettings, OtherOptionsLeaveTheSavedValuesInPlace) {
    const SavedValues saved{{"port", "9100"}, {"key_delay", "20"}, {"auto_type", "false"}};
    const StartSettings start = start_from({"--no-copy", "--port", "abc", "--headless"}, saved);
    EXPECT_EQ(settings(start).port, 9100) << "a port value that does not parse gives no port";
    EXPECT_EQ(settings(start).typing.key_delay_ms, 20u);
    EXPECT_FALSE(settings(start).auto_type);
    EXPECT_FALSE(settings(start).copy_to_clipboard);
}

TEST(SavedSettings, BadValuesAreIgnoredWithOneLineEach) {
    struct Row {
        const char* name;
        std::string text;
        const char* why;
    } rows[] = {
        {"port", "65536", "beyond 16 bits"},
        {"port", "", "empty"},
        {"port", " 90", "blank is not a digit, as on the command line"},
        {"auto_type", "yes", "switches are true or false"},
        {"pairing_key", "TRUE", "case-sensitive, as options are"},
        {"key_delay", "1001", "above the command line's limit"},
        {"key_delay", "-1", "negative"},
        {"type_mode", "Keys", "case-sensitive"},
        {"suffix_key", "space", "no such key"},
        {"prefix", std::string(65, 'x'), "65 characters"},
        {"close_to_tray", "2", "neither 0 nor 1"},
    };
    const SavedValues defaults = saved_values_of(start_from({}, {}));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        std::vector<std::string> problems;
        const StartSettings start = start_from({}, {{row.name, row.text}}, &problems);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].rfind("Ignored the saved setting " + std::string(row.name) + ": ", 0),
                  0u)
            << problems[0];
        EXPECT_EQ(saved_values_of(start), defaults) << "the default stays";
    }
    std::vector<std::string> problems;
    start_from({}, {{"key_delay", "1000"}, {"prefix", std::string(64, 'x')}, {"port", "0"}},
               &problems);
    EXPECT_TRUE(problems.empty()) << "the limits themselves are allowed";
    start_from({}, {{"auto_type", "0"}, {"close_to_tray", "1"}, {"future_setting", "x"}},
               &problems);
    EXPECT_TRUE(problems.empty()) << "registry numbers for switches; unknown names are skipped";
}

TEST(SettingsFile, WrittenTextReadsBackToTheSameValues) {
    StartSettings start;
    start.command_line.settings.typing.prefix = " lead";
    start.command_line.settings.typing.postfix = "a \"b\" \\ c\n\td ";
    start.adapter = "";
    const SavedValues values = saved_values_of(start);
    const std::string text = settings_file_text(values);
    EXPECT_EQ(text.rfind("# Quillmark receiver settings", 0), 0u);
    EXPECT_NE(text.find("\nport = 8080\n"), std::string::npos);
    EXPECT_NE(text.find("\nprefix = \" lead\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nadapter = \"\"\n"), std::string::npos);
    std::vector<std::string> problems;
    EXPECT_EQ(parse_settings_file(text, "receiver.conf", problems), values);
    EXPECT_TRUE(problems.empty());
}

TEST(SettingsFile, LinesThatCannotBeReadAreNamedAndLeftOut) {
    const std::string text =
        "# comment\r\n"
        "\n"
        "  port=9100  \r\n"
        "this is no setting\n"
        "colour = blue\n"
        "prefix = \"open\n"
        "postfix = \"a\" b\n"
        "suffix_key = \"\\q\"\n"
        "key_delay = 5\n"
        "key_delay = 7";
    std::vector<std::string> problems;
    const SavedValues values = parse_settings_file(text, "/x/receiver.conf", problems);
    EXPECT_EQ(values, (SavedValues{{"port", "9100"}, {"key_delay", "7"}}))
        << "blanks and CR around key and value go; the last of a repeated key wins";
    EXPECT_EQ(
        problems,
        (std::vector<std::string>{
            "Ignored line 4 of /x/receiver.conf: \"this is no setting\" is no "
            "\"key = value\" line",
            "Ignored line 5 of /x/receiver.conf: there is no setting \"colour\"",
            "Ignored line 6 of /x/receiver.conf: the quoted value of prefix cannot be read",
            "Ignored line 7 of /x/receiver.conf: the quoted value of postfix cannot be read",
            "Ignored line 8 of /x/receiver.conf: the quoted value of suffix_key cannot be read",
        }));
}

TEST(SettingsFile, OneValueChangesItsOwnLineOnly) {
    const std::string text = "# mine\nport = 9100 \n# keep\nauto_type = true\nport = 9200";
    EXPECT_EQ(settings_file_with_value(text, "port", "9300"),
              "# mine\nport = 9300\n# keep\nauto_type = true\n")
        << "a repeated line would win when read: it goes";
    EXPECT_EQ(settings_file_with_value("# mine", "prefix", "a "), "# mine\nprefix = \"a \"\n");
    const std::string fresh = settings_file_with_value("", "key_delay", "5");
    EXPECT_EQ(fresh.rfind("# Quillmark receiver settings", 0), 0u);
    std::vector<std::string> problems;
    EXPECT_EQ(parse_settings_file(fresh, "f", problems), (SavedValues{{"key_delay", "5"}}));
}

// The Linux store in a settings folder of the test's own.
struct LinuxStore : ::testing::Test {
    std::filesystem::path home = std::filesystem::temp_directory_path() /
                                 ("quillmark-settings-" + std::to_string(::getpid()));
    std::filesystem::path file = home / "quillmark" / "receiver.conf";
    EnvironmentOverride config{"XDG_CONFIG_HOME", home.string()};

    void SetUp() override { std::filesystem::remove_all(home); }
    void TearDown() override { std::filesystem::remove_all(home); }
};

TEST_F(LinuxStore, AFirstStartWritesTheDefaultsAndAChangeIsReadBack) {
    std::vector<std::string> problems;
    EXPECT_TRUE(load_saved_values(problems).empty());
    EXPECT_TRUE(problems.empty());
    ASSERT_TRUE(std::filesystem::exists(file));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(load_saved_values(problems), saved_values_of({}));

    ASSERT_TRUE(save_saved_value("key_delay", "25").ok());
    EXPECT_EQ(load_saved_values(problems).at("key_delay"), "25");
    EXPECT_TRUE(problems.empty());
}

TEST_F(LinuxStore, SavingFollowsIgnoreSettingsAndAFailureIsLoggedOnce) {
    auto state = new_receiver_state({}, {{"Ethernet", "10.0.0.7"}, {"Wi-Fi", "10.0.0.8"}});
    std::vector<std::string> notes;
    StartSettings start = load_start_settings(parse_command_line({"--ignore-settings"}), notes);
    EXPECT_FALSE(std::filesystem::exists(file)) << "--ignore-settings reads nothing";
    apply_start_settings(*state, start);
    save_setting(*state, "port", "9999");
    EXPECT_FALSE(std::filesystem::exists(file)) << "--ignore-settings saves nothing";

    start.command_line.ignore_settings = false;
    start.adapter = "10.0.0.8";
    apply_start_settings(*state, start);
    EXPECT_EQ(state->selected_adapter, 1u);
    save_setting(*state, "port", "9999");
    std::vector<std::string> problems;
    EXPECT_EQ(load_saved_values(problems).at("port"), "9999");

    // A file where the folder should be: nothing can be saved.
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    ASSERT_TRUE(write_file_atomically(home / "quillmark", "").ok());
    save_setting(*state, "port", "9998");
    save_setting(*state, "port", "9997");
    const std::vector<std::string> lines = take_log_lines(*state);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Could not save the setting port: ", 0), 0u) << lines[0];
}

TEST(AdapterIndex, TheSavedAddressOrTheUsualChoice) {
    const std::vector<AdapterEntry> adapters{{"Ethernet", "10.0.0.7"}, {"Wi-Fi", "10.0.0.8"}};
    EXPECT_EQ(adapter_index(adapters, "10.0.0.8"), 1u);
    EXPECT_EQ(adapter_index(adapters, "10.0.0.9"), 0u) << "gone";
    EXPECT_EQ(adapter_index(adapters, ""), 0u);
    EXPECT_EQ(adapter_index({}, "10.0.0.8"), 0u);
}

}  // namespace
