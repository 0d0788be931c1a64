// The Linux receiver types and copies on a real X display (Xvfb of the test's own): what a
// focused window of ours receives, what xclip reads, and a display that is absent or goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "core/utf8.h"
#include "tests/support/net_client.h"
#include "tests/support/receiver_process.h"
#include "tests/x11/x_display.h"

namespace {

constexpr milliseconds LIMIT{20000};

bool post_scan(uint16_t port, const std::string& json) {
    return https_exchange(port, scan_request(json)).rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
}

std::string scan_json(const std::string& text, const char* press_enter = nullptr) {
    std::string json = R"({"text":")" + text + R"(","format":"EAN-13")";
    if (press_enter) json += std::string(R"(,"pressEnter":)") + press_enter;
    return json + "}";
}

std::string ends_with_outcome(const std::string& text, const std::string& outcome) {
    return "] [EAN-13] " + text + " (100% - " + outcome + ")";
}

ProgramResult x_tool(const XDisplay& display, std::vector<std::string> argv) {
    argv.insert(argv.begin() + 1, {"-display", display.name});
    return run_program(argv);
}

std::string clipboard_text(const XDisplay& display) {
    return x_tool(display, {"xclip", "-o", "-selection", "clipboard"}).out;
}

// One display, one focused text sink and one receiver for the whole suite.
class X11Desktop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        display_ = new XDisplay(start_x_display());
        ASSERT_TRUE(display_->server) << "Xvfb did not start";
        sink_path_ = new std::string(std::filesystem::temp_directory_path() /
                                     ("quillmark-sink-" + std::to_string(getpid()) + ".txt"));
        sink_ = start_text_sink(*display_, *sink_path_).release();
        ASSERT_TRUE(sink_) << "the text sink did not get the focus";
        receiver_ = new ReceiverProcess(start_receiver_process({{"DISPLAY", display_->name}}));
        ASSERT_TRUE(receiver_->process) << "the receiver did not start";
    }
    static void TearDownTestSuite() {
        delete receiver_;  // each ends its process by PID
        delete sink_;
        delete display_;
        if (sink_path_) std::filesystem::remove(*sink_path_);
        delete sink_path_;
    }

    // Waits until the sink has recorded exactly `expected` since the test started.
    void expect_typed(const std::string& expected) {
        const std::string before = typed_before_;
        bool arrived =
            wait_until([&] { return read_whole_file(*sink_path_) == before + expected; }, LIMIT);
        EXPECT_TRUE(arrived) << "typed: " << read_whole_file(*sink_path_).substr(before.size());
        typed_before_ = read_whole_file(*sink_path_);
    }
    void expect_logged(const std::string& text, const std::string& outcome) {
        EXPECT_TRUE(
            receiver_->process->wait_for_line_containing(ends_with_outcome(text, outcome), LIMIT))
            << "no log line with " << outcome << " for " << text;
    }
    void SetUp() override {
        ASSERT_TRUE(receiver_ && receiver_->process);
        typed_before_ = read_whole_file(*sink_path_);
    }

    static inline XDisplay* display_ = nullptr;
    static inline std::string* sink_path_ = nullptr;
    static inline ChildProcess* sink_ = nullptr;
    static inline ReceiverProcess* receiver_ = nullptr;
    std::string typed_before_;
};

TEST_F(X11Desktop, TypesAsciiAccentsEuroAndEmojiExactlyWithEnterAsAsked) {
    const std::string text = "Az09-\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x";  // é € 😀
    ASSERT_TRUE(post_scan(receiver_->port, scan_json(text)));
    expect_typed(text + "\n");
    expect_logged(text, "Copied & Typed+Enter");

    ASSERT_TRUE(post_scan(receiver_->port, scan_json("12\\r\\n34", "false")));
    expect_typed("1234");  // line breaks of the text are never typed
    EXPECT_TRUE(receiver_->process->wait_for_line_containing("(100% - Copied & Typed)", LIMIT));

    // Characters typed on spare keys leave no trace in the keymap once typing is quiet.
    EXPECT_TRUE(wait_until(
        [] {
            const std::string keymap = run_program({"xkbcomp", "-xkb", display_->name, "-"}).out;
            return !keymap.empty() && keymap.find("U0001F600") == std::string::npos &&
                   keymap.find("U20AC") == std::string::npos &&
                   keymap.find("eacute") == std::string::npos;
        },
        LIMIT))
        << "the spare key codes were not given back";
}

TEST_F(X11Desktop, MoreDistinctCharactersThanSpareKeyCodesStillArriveInOrder) {
    std::string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c) append_utf8(text, c);  // CJK, no keys
    ASSERT_TRUE(post_scan(receiver_->port, scan_json(text)));
    expect_typed(text + "\n");
}

TEST_F(X11Desktop, AnotherLayoutKeepsEveryCharacter) {
    ASSERT_EQ(x_tool(*display_, {"setxkbmap", "de"}).exit_code, 0);
    const std::string text = "zy\xC3\xA4Z@";  // z and y swap places on a German keyboard
    ASSERT_TRUE(post_scan(receiver_->port, scan_json(text)));
    expect_typed(text + "\n");
    ASSERT_EQ(x_tool(*display_, {"setxkbmap", "us"}).exit_code, 0);
    ASSERT_TRUE(post_scan(receiver_->port, scan_json("zy")));
    expect_typed("zy\n");
}

TEST_F(X11Desktop, ConcurrentScansArriveWholeAndNeverInterleave) {
    constexpr int CLIENTS = 8, SCANS_PER_CLIENT = 25;
    std::set<std::string> sent;
    for (int c = 0; c < CLIENTS; ++c) {
        for (int i = 0; i < SCANS_PER_CLIENT; ++i) {
            sent.insert(std::string(1, static_cast<char>('a' + c)) + std::to_string(i) +
                        "-4006381333931");
        }
    }
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int c = 0; c < CLIENTS; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < SCANS_PER_CLIENT; ++i) {
                std::string text = std::string(1, static_cast<char>('a' + c)) + std::to_string(i) +
                                   "-4006381333931";
                if (post_scan(receiver_->port, scan_json(text))) ++answered;
            }
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(answered, CLIENTS * SCANS_PER_CLIENT);

    std::string typed;
    wait_until(
        [&] {
            typed = read_whole_file(*sink_path_).substr(typed_before_.size());
            return static_cast<size_t>(std::count(typed.begin(), typed.end(), '\n')) >= sent.size();
        },
        LIMIT);
    std::multiset<std::string> lines;
    for (size_t start = 0, end; (end = typed.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.insert(typed.substr(start, end - start));
    }
    EXPECT_EQ(lines, std::multiset<std::string>(sent.begin(), sent.end()))
        << "every scan typed once, whole";
}

TEST_F(X11Desktop, ClipboardServesTheExactTextUntilAnotherProgramTakesIt) {
    const std::string text =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC 42";  // Grüße € 42
    ASSERT_TRUE(post_scan(receiver_->port, scan_json(text)));
    expect_typed(text + "\n");
    EXPECT_EQ(clipboard_text(*display_), text);
    EXPECT_EQ(x_tool(*display_, {"xclip", "-o", "-selection", "clipboard", "-t", "STRING"}).out,
              "Gr\xFC\xDF"
              "e ? 42")
        << "STRING is Latin-1";

    const std::string other_path = *sink_path_ + ".other";
    { std::ofstream(other_path) << "from another program"; }
    auto other = ChildProcess::spawn({"xclip", "-display", display_->name, "-quiet", "-selection",
                                      "clipboard", "-i", other_path});
    ASSERT_TRUE(other);
    EXPECT_TRUE(
        wait_until([&] { return clipboard_text(*display_) == "from another program"; }, LIMIT));
    EXPECT_TRUE(receiver_->process->running());
    other->kill();
    std::filesystem::remove(other_path);

    ASSERT_TRUE(post_scan(receiver_->port, scan_json("again")));
    expect_typed("again\n");
    EXPECT_EQ(clipboard_text(*display_), "again") << "the next scan takes the clipboard again";
}

TEST_F(X11Desktop, NoTypeNoCopyAndNoEnterMeanTheSameAsOnWindows) {
    ReceiverProcess copy_only =
        start_receiver_process({{"DISPLAY", display_->name}}, {"--no-type"});
    ASSERT_TRUE(copy_only.process);
    ASSERT_TRUE(post_scan(copy_only.port, scan_json("COPYONLY")));
    EXPECT_TRUE(copy_only.process->wait_for_line_containing(ends_with_outcome("COPYONLY", "Copied"),
                                                            LIMIT));
    EXPECT_EQ(clipboard_text(*display_), "COPYONLY");

    ReceiverProcess type_only =
        start_receiver_process({{"DISPLAY", display_->name}}, {"--no-copy", "--no-enter"});
    ASSERT_TRUE(type_only.process);
    ASSERT_TRUE(post_scan(type_only.port, scan_json("TYPEONLY", "true")));
    EXPECT_TRUE(
        type_only.process->wait_for_line_containing(ends_with_outcome("TYPEONLY", "Typed"), LIMIT));
    // Replies come after delivery, so keys of the first scan would be in the sink by now.
    expect_typed("TYPEONLY");
    EXPECT_EQ(clipboard_text(*display_), "COPYONLY");
}

// Prefix, postfix, the Tab key and a key delay go to the X11 keys as they are; the clipboard
// gets the scan alone.
TEST_F(X11Desktop, TypingOptionsReachTheKeys) {
    ReceiverProcess paced = start_receiver_process(
        {{"DISPLAY", display_->name}},
        {"--key-delay", "5", "--prefix", "<", "--postfix", "\xC3\xA9>", "--suffix-key", "tab"});
    ASSERT_TRUE(paced.process);
    ASSERT_TRUE(post_scan(paced.port, scan_json("AB")));
    expect_typed("<AB\xC3\xA9>\t");
    EXPECT_TRUE(paced.process->wait_for_line_containing(
        ends_with_outcome("AB", "Copied & Typed+Tab"), LIMIT));
    EXPECT_EQ(clipboard_text(*display_), "AB");
}

TEST(X11NoDisplay, ScansAreReceivedAndLoggedOnly) {
    struct Case {
        std::string display;
        std::string line;
    } cases[] = {
        {"", "No X display (DISPLAY is not set): scans are received and logged only"},
        {":4999", "No X display (cannot open :4999): scans are received and logged only"},
    };
    for (const Case& c : cases) {
        ReceiverProcess receiver = start_receiver_process({{"DISPLAY", c.display}});
        ASSERT_TRUE(receiver.process);
        EXPECT_TRUE(receiver.process->wait_for_line_containing(c.line, LIMIT)) << c.display;
        ASSERT_TRUE(post_scan(receiver.port, scan_json("NODISPLAY")));
        EXPECT_TRUE(receiver.process->wait_for_line_containing(
            ends_with_outcome("NODISPLAY", "Received"), LIMIT));
    }
}

TEST(X11LostDisplay, LaterScansFailCleanlyAndTheReceiverStaysUp) {
    XDisplay display = start_x_display();
    ASSERT_TRUE(display.server);
    ReceiverProcess receiver = start_receiver_process({{"DISPLAY", display.name}});
    ASSERT_TRUE(receiver.process);
    ASSERT_TRUE(post_scan(receiver.port, scan_json("BEFORE")));
    EXPECT_TRUE(receiver.process->wait_for_line_containing(
        ends_with_outcome("BEFORE", "Copied & Typed+Enter"), LIMIT));

    display.server->kill();
    for (const char* text : {"AFTER1", "AFTER2"}) {
        ASSERT_TRUE(post_scan(receiver.port, scan_json(text))) << text;
        EXPECT_TRUE(
            receiver.process->wait_for_line_containing(ends_with_outcome(text, "Received"), LIMIT));
    }
    EXPECT_TRUE(receiver.process->running());
}

}  // namespace
