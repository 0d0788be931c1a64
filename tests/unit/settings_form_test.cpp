#include "ui/settings_form.h"

#include <gtest/gtest.h>

#include "ui/window_texts.h"

namespace {

SettingsForm form(std::string key_delay, std::string prefix = "", std::string postfix = "") {
    SettingsForm f;
    f.key_delay = std::move(key_delay);
    f.prefix = std::move(prefix);
    f.postfix = std::move(postfix);
    return f;
}

TEST(SettingsForm, KeyDelayTakesWhatTheCommandLineTakes) {
    struct Row {
        const char* text;
        bool good;
        const char* why;
    } rows[] = {
        {"0", true, "no pause"},     {"1000", true, "the limit"},
        {"1001", false, "above it"}, {"", false, "empty: OK stays disabled"},
        {" 5", false, "blank"},      {"-1", false, "negative"},
        {"5ms", false, "unit"},      {"99999999999", false, "beyond 32 bits"},
    };
    for (const Row& row : rows) {
        const SettingsFormErrors errors = check_settings_form(form(row.text));
        EXPECT_EQ(errors.ok(), row.good) << row.why;
        EXPECT_EQ(errors.key_delay, row.good ? "" : KEY_DELAY_ERROR) << row.why;
    }
}

TEST(SettingsForm, PrefixAndPostfixCountCharactersNotBytes) {
    const std::string euro = "\xE2\x82\xAC";
    std::string sixty_four;
    for (int i = 0; i < 64; ++i) sixty_four += euro;
    EXPECT_TRUE(check_settings_form(form("0", sixty_four, sixty_four)).ok());
    const SettingsFormErrors errors = check_settings_form(form("0", sixty_four + "x", "ok"));
    EXPECT_EQ(errors.prefix, AFFIX_ERROR);
    EXPECT_EQ(errors.postfix, "");
    EXPECT_EQ(check_settings_form(form("0", "", std::string(65, ' '))).postfix, AFFIX_ERROR);
}

TEST(SettingsForm, AGoodFormGivesTheTypingOptionsAndBack) {
    SettingsForm f = form("20", "[", " ]");
    f.mode = TypeMode::keys;
    f.suffix_key = SuffixKey::tab;
    const TypingOptions typing = typing_from_form(f);
    EXPECT_EQ(typing, (TypingOptions{TypeMode::keys, SuffixKey::tab, 20, "[", " ]"}));
    const SettingsForm back = form_from_settings(typing, true, false, true);
    EXPECT_EQ(back.key_delay, "20");
    EXPECT_EQ(typing_from_form(back), typing);
    EXPECT_TRUE(back.pairing_key && !back.start_with_windows && back.close_to_tray);
}

TEST(StartWithWindows, TheRunValueQuotesThePathAndStartsMinimized) {
    EXPECT_EQ(start_with_windows_command("C:\\Program Files\\Quillmark\\quillmark-receiver.exe"),
              "\"C:\\Program Files\\Quillmark\\quillmark-receiver.exe\" --minimized");
}

}  // namespace
