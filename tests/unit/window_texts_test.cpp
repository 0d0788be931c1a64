#include "ui/window_texts.h"

#include "core/version.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

TEST(WindowTexts, FirewallRuleNamesAndOpensTheSamePort) {
    EXPECT_EQ(firewall_rule_parameters(8080),
              "advfirewall firewall add rule name=\"Quillmark Receiver Port 8080\" dir=in "
              "action=allow protocol=TCP localport=8080");
    EXPECT_EQ(firewall_rule_parameters(65535),
              "advfirewall firewall add rule name=\"Quillmark Receiver Port 65535\" dir=in "
              "action=allow protocol=TCP localport=65535");
}

TEST(WindowTexts, ReceiverPageIsOpenedOverLoopback) {
    EXPECT_EQ(receiver_page_url(8080), "https://127.0.0.1:8080/receiver.html");
    EXPECT_EQ(receiver_page_url(65535), "https://127.0.0.1:65535/receiver.html");
}

TEST(WindowTexts, LogLines) {
    EXPECT_EQ(firewall_log_line(1024), "Requested Windows Firewall rule for TCP port 1024.");
    EXPECT_EQ(copied_url_log_line("https://10.0.0.7:8080/?pc=x"),
              "Copied URL to clipboard: https://10.0.0.7:8080/?pc=x");
}

TEST(WindowTexts, AboutCaptionNamesTheVersion) {
    EXPECT_EQ(about_caption("0.2.0"), "About Quillmark 0.2.0");
    // The fingerprint only with a lasting identity; without one the text is as it always was.
    EXPECT_EQ(about_text(""), ABOUT_TEXT);
    EXPECT_EQ(about_text("AB:CD"), std::string(ABOUT_TEXT) +
                                       "\r\n\r\nQuillmark local CA, SHA-256 fingerprint:\r\nAB:CD");
    // The project's version, filled in by CMake: three numbers, as the version resource needs.
    EXPECT_TRUE(std::regex_match(std::string(RECEIVER_VERSION), std::regex(R"(\d+\.\d+\.\d+)")))
        << RECEIVER_VERSION;
}

}  // namespace
