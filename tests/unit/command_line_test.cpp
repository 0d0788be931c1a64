#include <gtest/gtest.h>

#include "receiver/command_line.h"

namespace {

CommandLine parse(std::vector<std::string> arguments) {
    return parse_command_line(arguments);
}

TEST(ParseCommandLine, NoArgumentsGiveTheDefaults) {
    CommandLine c = parse({});
    EXPECT_EQ(c.settings.port, 8080);
    EXPECT_TRUE(c.settings.auto_type);
    EXPECT_TRUE(c.settings.press_enter);
    EXPECT_TRUE(c.settings.copy_to_clipboard);
    EXPECT_FALSE(c.headless);
    EXPECT_FALSE(c.pairing_key) << "scans need no key unless asked";
}

TEST(ParseCommandLine, OptionsSwitchTheirOwnSettingOnly) {
    CommandLine c = parse({"-p", "9000", "--no-enter"});
    EXPECT_EQ(c.settings.port, 9000);
    EXPECT_FALSE(c.settings.press_enter);
    EXPECT_TRUE(c.settings.auto_type);
    EXPECT_TRUE(c.settings.copy_to_clipboard);

    c = parse({"--no-type", "--no-copy", "--headless"});
    EXPECT_FALSE(c.settings.auto_type);
    EXPECT_FALSE(c.settings.copy_to_clipboard);
    EXPECT_TRUE(c.settings.press_enter);
    EXPECT_TRUE(c.headless);
    EXPECT_FALSE(c.pairing_key);

    c = parse({"--pairing-key"});
    EXPECT_TRUE(c.pairing_key);
    EXPECT_FALSE(c.headless);
    EXPECT_EQ(c.settings.port, 8080);
}

TEST(ParseCommandLine, GivenSettingsAreNamedByTheirOption) {
    CommandLine c = parse({"-p", "9000", "--no-copy", "--suffix-key", "tab", "--port", "x",
                           "--ignore-settings", "--minimized", "--bogus"});
    EXPECT_TRUE(c.ignore_settings);
    EXPECT_TRUE(c.minimized);
    EXPECT_TRUE(c.given.count("--port") && c.given.count("--no-copy") &&
                c.given.count("--suffix-key"));
    EXPECT_FALSE(c.given.count("-p") || c.given.count("--bogus") || c.given.count("--no-type"));
    EXPECT_FALSE(parse({"--port", "abc"}).given.count("--port")) << "no value, nothing given";
    EXPECT_FALSE(parse({}).ignore_settings);
}

TEST(ParseCommandLine, PortValues) {
    struct Row {
        std::vector<std::string> arguments;
        uint16_t port;
        const char* why;
    } rows[] = {
        {{"--port", "abc"}, 8080, "unparseable value keeps the default"},
        {{"--port"}, 8080, "option without a value changes nothing"},
        {{"-p", "0"}, 0, "0 is taken at the command line"},
        {{"-p", "80"}, 80, "privileged ports are taken at the command line"},
        {{"-p", "65535"}, 65535, "largest port"},
        {{"-p", "65536"}, 8080, "beyond 16 bits is ignored"},
        {{"-p", "-1"}, 8080, "negative is ignored"},
        {{"-p", "+90"}, 8080, "sign is not a digit"},
        {{"-p", " 90"}, 8080, "blank is not a digit"},
        {{"-p", ""}, 8080, "empty value"},
        {{"-p", "9000", "-p", "bad"}, 9000, "a later bad value keeps the earlier good one"},
        {{"-p", "9000", "--port", "9100"}, 9100, "the last good value wins"},
        {{"--port=9000"}, 8080, "the joined form is not an option"},
        {{"--PORT", "9000"}, 8080, "options are case-sensitive"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parse(row.arguments).settings.port, row.port) << row.why;
    }
}

TEST(ParseCommandLine, ConsumedPortValueIsNeverAnOption) {
    CommandLine c = parse({"--port", "--headless"});
    EXPECT_FALSE(c.headless);
    EXPECT_EQ(c.settings.port, 8080);
}

TEST(ParseCommandLine, UnknownAndOtherCaseOptionsAreIgnored) {
    CommandLine c = parse({"--NO-TYPE", "--verbose", "x", "--Pairing-Key", "--pairing-key=1"});
    EXPECT_TRUE(c.settings.auto_type);
    EXPECT_FALSE(c.pairing_key);
}

TEST(ParseCommandLine, TypingOptions) {
    CommandLine c = parse({"--key-delay", "1000", "--type-mode", "keys", "--suffix-key", "tab",
                           "--prefix", "--headless", "--postfix", std::string(64, 'x')});
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(c.settings.typing, (TypingOptions{TypeMode::keys, SuffixKey::tab, 1000, "--headless",
                                                std::string(64, 'x')}));
    EXPECT_FALSE(c.headless) << "a consumed value is never an option";

    c = parse({"--key-delay", "20", "--key-delay", "0", "--type-mode", "keys", "--type-mode",
               "unicode", "--suffix-key", "tab", "--suffix-key", "enter", "--prefix", ""});
    EXPECT_EQ(c.settings.typing, TypingOptions{}) << "the last value wins";
    EXPECT_EQ(c.error, "");
    EXPECT_EQ(
        parse({"--prefix", "\xE2\x82\xAC" + std::string(63, 'x')}).settings.typing.prefix.size(),
        66u)
        << "characters are counted, not bytes";
}

TEST(ParseCommandLine, BadTypingValuesRefuseTheStart) {
    const std::string delay = "--key-delay takes a whole number of milliseconds from 0 to 1000";
    const std::string affix = " takes a text of at most 64 characters";
    struct Row {
        std::vector<std::string> arguments;
        std::string error;
    } rows[] = {
        {{"--key-delay", "1001"}, delay + ", not \"1001\""},
        {{"--key-delay", "-1"}, delay + ", not \"-1\""},
        {{"--key-delay", "20ms"}, delay + ", not \"20ms\""},
        {{"--key-delay", ""}, delay + ", not \"\""},
        {{"--key-delay", "99999999999"}, delay + ", not \"99999999999\""},
        {{"--key-delay"}, delay + ", but no value was given"},
        {{"--type-mode", "Keys"}, "--type-mode takes unicode or keys, not \"Keys\""},
        {{"--type-mode"}, "--type-mode takes unicode or keys, but no value was given"},
        {{"--suffix-key", "space"}, "--suffix-key takes enter or tab, not \"space\""},
        {{"--prefix", std::string(65, 'p')},
         "--prefix" + affix + ", not \"" + std::string(65, 'p') + "\""},
        {{"--postfix"}, "--postfix" + affix + ", but no value was given"},
        {{"--key-delay", "5", "--type-mode", "x", "--suffix-key", "y"},
         "--type-mode takes unicode or keys, not \"x\""},  // the first bad value is told
    };
    for (const Row& row : rows) {
        EXPECT_EQ(parse(row.arguments).error, row.error) << row.arguments[0];
    }
    // The port keeps its lenient rule.
    EXPECT_EQ(parse({"--port", "x", "--key-delay", "5"}).error, "");
}

TEST(ParseCommandLine, JournalOptions) {
    EXPECT_TRUE(parse({}).journal.enabled);
    EXPECT_EQ(parse({}).journal.keep_days, 90u);
    EXPECT_FALSE(parse({"--no-journal"}).journal.enabled);
    EXPECT_EQ(parse({"--journal-days", "0"}).journal.keep_days, 0u) << "0 keeps every file";
    EXPECT_EQ(parse({"--journal-days", "36500"}).journal.keep_days, 36500u);
    const std::string rule = "--journal-days takes a whole number of days from 0 to 36500";
    EXPECT_EQ(parse({"--journal-days", "36501"}).error, rule + ", not \"36501\"");
    EXPECT_EQ(parse({"--journal-days", "-1"}).error, rule + ", not \"-1\"");
    EXPECT_EQ(parse({"--journal-days", "7d"}).error, rule + ", not \"7d\"");
    EXPECT_EQ(parse({"--journal-days"}).error, rule + ", but no value was given");
}

TEST(TypingSettingsLine, SaysInWordsWhatDiffersFromTypingAsUsual) {
    EXPECT_EQ(typing_settings_line({}), "");
    EXPECT_EQ(typing_settings_line({TypeMode::keys, SuffixKey::tab, 20, "", ""}),
              "Typing: key codes, 20 ms between characters, Tab after each scan");
    EXPECT_EQ(typing_settings_line({TypeMode::unicode, SuffixKey::enter, 0, "<", ">"}),
              "Typing: Unicode characters, no pause between characters, Enter after each scan, "
              "prefix \"<\", postfix \">\"");
}

TEST(SplitWindowsCommandLine, Rules) {
    using V = std::vector<std::string>;
    struct Row {
        const char* line;
        V arguments;
        const char* why;
    } rows[] = {
        {"prog.exe", {"prog.exe"}, "program alone"},
        {"\"C:\\Program Files\\q.exe\" -p 9000",
         {"C:\\Program Files\\q.exe", "-p", "9000"},
         "quoted program path with blanks"},
        {"q.exe  a\t\tb ", {"q.exe", "a", "b"}, "runs of blanks and tabs separate"},
        {"q.exe \"a b\" c", {"q.exe", "a b", "c"}, "quotes group blanks"},
        {"q.exe a\"b c\"d", {"q.exe", "ab cd"}, "quotes inside an argument"},
        {"q.exe \\\"a", {"q.exe", "\"a"}, "backslash escapes a quote"},
        {"q.exe a\\\\\"b c\"", {"q.exe", "a\\b c"}, "two backslashes then a quote: one kept"},
        {"q.exe a\\\\\\\"b", {"q.exe", "a\\\"b"}, "three backslashes then a quote"},
        {"q.exe C:\\dir\\ x", {"q.exe", "C:\\dir\\", "x"}, "backslashes without quote are literal"},
        {"q.exe \"\"", {"q.exe", ""}, "empty quoted argument"},
        {"q.exe \"a\"\"b\"", {"q.exe", "a\"b"}, "doubled quote inside quotes is a quote"},
        {"q.exe \"unterminated arg", {"q.exe", "unterminated arg"}, "missing closing quote"},
        {"q.exe é \"名 前\"", {"q.exe", "é", "名 前"}, "non-ASCII passes through"},
        {"c:\\a\\\"b c", {"c:\\a\\b c"}, "program path takes no backslash escapes"},
        {"", {}, "empty command line"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(split_windows_command_line(row.line), row.arguments) << row.why;
    }
}

}  // namespace
