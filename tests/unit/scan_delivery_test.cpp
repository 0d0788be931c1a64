#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "app/receiver_state.h"
#include "app/scan_delivery.h"
#include "app/x11_text.h"

namespace {

// Records what delivery asked of the desktop; either action can be told to fail.
struct RecordingDesktop {
    std::mutex lock;
    std::vector<KeyEvent> typed;
    std::vector<std::string> clipboard;
    bool typing_fails = false;
    bool clipboard_fails = false;

    Desktop desktop() {
        return Desktop{
            [this](std::string_view text, bool with_enter) {
                std::unique_lock guard(lock);
                if (typing_fails) return Status::failure("SendInput incomplete");
                // Key by key with the lock let go in between, so that interleaving of
                // concurrent deliveries would show in the record.
                for (const KeyEvent& event : key_events_for_text(text, with_enter)) {
                    typed.push_back(event);
                    guard.unlock();
                    std::this_thread::yield();
                    guard.lock();
                }
                return Status::success();
            },
            [this](std::string_view text) {
                std::lock_guard guard(lock);
                if (clipboard_fails) return Status::failure("OpenClipboard failed");
                clipboard.emplace_back(text);
                return Status::success();
            },
        };
    }
};

struct Delivery : ::testing::Test {
    RecordingDesktop fake;
    std::shared_ptr<ReceiverState> state = new_receiver_state({}, {{"Ethernet", "10.0.0.7"}});

    void SetUp() override { state->desktop = fake.desktop(); }

    std::string deliver(const Scan& scan, PressEnterRequest press = PressEnterRequest::absent) {
        deliver_scan(*state, scan, press);
        std::vector<std::string> lines = take_log_lines(*state);
        EXPECT_EQ(lines.size(), 1u);
        return lines.empty() ? "" : lines.back();
    }
};

KeyEvent down(char16_t unit) {
    return {0, static_cast<uint16_t>(unit), KEY_FLAG_UNICODE};
}
KeyEvent up(char16_t unit) {
    return {0, static_cast<uint16_t>(unit), KEY_FLAG_UNICODE | KEY_FLAG_KEYUP};
}
const KeyEvent ENTER_DOWN{VK_RETURN_KEY, 0, 0};
const KeyEvent ENTER_UP{VK_RETURN_KEY, 0, KEY_FLAG_KEYUP};

// Log lines start with "[HH:MM:SS] "; the rest is deterministic.
std::string without_time(const std::string& line) {
    EXPECT_GE(line.size(), 11u);
    EXPECT_EQ(line[0], '[');
    EXPECT_EQ(line[9], ']');
    return line.substr(11);
}

TEST(KeyEvents, TextBecomesUnicodePairsAndEnterComesLast) {
    EXPECT_EQ(
        key_events_for_text("AB", true),
        (std::vector<KeyEvent>{down('A'), up('A'), down('B'), up('B'), ENTER_DOWN, ENTER_UP}));
    EXPECT_EQ(key_events_for_text("AB", false),
              (std::vector<KeyEvent>{down('A'), up('A'), down('B'), up('B')}));
}

TEST(KeyEvents, LineBreaksAreSkippedTabsAreTyped) {
    EXPECT_EQ(
        key_events_for_text("1\r\n2\t", false),
        (std::vector<KeyEvent>{down('1'), up('1'), down('2'), up('2'), down('\t'), up('\t')}));
}

TEST(KeyEvents, CharactersBeyondTheBasicPlaneGiveTwoSurrogatePairs) {
    // U+1F600 is D83D DE00 in UTF-16.
    EXPECT_EQ(key_events_for_text("\xF0\x9F\x98\x80", false),
              (std::vector<KeyEvent>{down(0xD83D), up(0xD83D), down(0xDE00), up(0xDE00)}));
    EXPECT_EQ(key_events_for_text("\xC3\xA9", false),
              (std::vector<KeyEvent>{down(0xE9), up(0xE9)}));
}

TEST(KeyEvents, OnlyLineBreaksWithoutEnterIsEmpty) {
    EXPECT_TRUE(key_events_for_text("\r\n", false).empty());
    EXPECT_EQ(key_events_for_text("\r\n", true), (std::vector<KeyEvent>{ENTER_DOWN, ENTER_UP}));
}

TEST(X11Text, KeysymsForCodePoints) {
    EXPECT_EQ(keysym_for_code_point(U'A'), 0x41u) << "ASCII keysyms are the characters";
    EXPECT_EQ(keysym_for_code_point(U'\u00E9'), 0xE9u) << "so are Latin-1 ones (eacute)";
    EXPECT_EQ(keysym_for_code_point(U'\u00A0'), 0xA0u) << "no-break space starts Latin-1";
    EXPECT_EQ(keysym_for_code_point(U'\u20AC'), 0x010020ACu) << "Unicode keysym beyond it";
    EXPECT_EQ(keysym_for_code_point(U'\U0001F600'), 0x0101F600u) << "emoji: one keysym";
    EXPECT_EQ(keysym_for_code_point(U'\t'), KEYSYM_TAB);
    for (char32_t control : {U'\r', U'\n', U'\0', U'\x7F', U'\x85'}) {
        EXPECT_EQ(keysym_for_code_point(control), 0u) << static_cast<uint32_t>(control);
    }
    EXPECT_EQ(keysyms_for_text("a\r\nb"), (std::vector<uint32_t>{'a', 'b'}));
    EXPECT_EQ(keysyms_for_text("a\xFF"), (std::vector<uint32_t>{'a', 0x0100FFFDu}))
        << "invalid UTF-8 types as U+FFFD";
}

TEST(X11Text, Latin1ForTheStringTarget) {
    EXPECT_EQ(latin1_from_utf8("Gr\xC3\xBC\xC3\x9F"
                               "e"),
              "Gr\xFC\xDF"
              "e");
    EXPECT_EQ(latin1_from_utf8("\xE2\x82\xAC"
                               "1\xF0\x9F\x98\x80"),
              "?1?");
    EXPECT_EQ(latin1_from_utf8("a\r\nb"), "a\r\nb");
}

TEST(X11Text, TypingRequestFromKeyEvents) {
    auto request = typing_request_from_key_events(key_events_for_text("x\xF0\x9F\x98\x80", true));
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(request.value().text, "x\xF0\x9F\x98\x80") << "surrogate pairs join again";
    EXPECT_EQ(request.value().suffix, NamedKey::return_key);

    request = typing_request_from_key_events(key_events_for_text("ab", false));
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(request.value().suffix, NamedKey::none);
    request = typing_request_from_key_events({{0x09, 0, 0}, {0x09, 0, KEY_FLAG_KEYUP}});
    ASSERT_TRUE(request.ok());
    EXPECT_EQ(request.value().suffix, NamedKey::tab);

    EXPECT_FALSE(typing_request_from_key_events({ENTER_DOWN, ENTER_UP, down('a'), up('a')}).ok())
        << "a named key comes last";
    EXPECT_FALSE(typing_request_from_key_events({{0x41, 0, 0}}).ok()) << "unknown virtual key";
}

TEST_F(Delivery, AllOptionsOnCopiesTypesAndPressesEnter) {
    std::string line = deliver({"ABC", "CODE-128", 88});
    EXPECT_EQ(without_time(line), "[CODE-128] ABC (88% - Copied & Typed+Enter)");
    EXPECT_EQ(fake.clipboard, std::vector<std::string>{"ABC"});
    EXPECT_EQ(fake.typed, (std::vector<KeyEvent>{down('A'), up('A'), down('B'), up('B'), down('C'),
                                                 up('C'), ENTER_DOWN, ENTER_UP}));
    EXPECT_EQ(state->received_count, 1u);
}

TEST_F(Delivery, EnterRules) {
    struct Row {
        bool option;
        PressEnterRequest request;
        bool enter;
        const char* why;
    } rows[] = {
        {true, PressEnterRequest::absent, true, "option on, request silent"},
        {true, PressEnterRequest::yes, true, "option on, request agrees"},
        {true, PressEnterRequest::no, false, "the request can suppress Enter"},
        {false, PressEnterRequest::yes, false, "the request cannot force Enter"},
        {false, PressEnterRequest::absent, false, "option off"},
    };
    for (const Row& row : rows) {
        fake.typed.clear();
        state->press_enter = row.option;
        std::string line = deliver({"X", "QR-CODE", 90}, row.request);
        std::string expected = row.enter ? "Copied & Typed+Enter" : "Copied & Typed";
        EXPECT_EQ(without_time(line), "[QR-CODE] X (90% - " + expected + ")") << row.why;
        EXPECT_EQ(fake.typed.size(), row.enter ? 4u : 2u) << row.why;
    }
}

TEST_F(Delivery, OutcomeWordsFollowOptionsAndFailures) {
    state->auto_type = false;
    EXPECT_EQ(without_time(deliver({"A", "EAN-13", 95})), "[EAN-13] A (95% - Copied)");
    EXPECT_TRUE(fake.typed.empty());

    state->copy_to_clipboard = false;
    EXPECT_EQ(without_time(deliver({"A", "EAN-13", 95})), "[EAN-13] A (95% - Received)");

    state->auto_type = true;
    state->copy_to_clipboard = true;
    fake.clipboard_fails = true;
    EXPECT_EQ(without_time(deliver({"A", "EAN-13", 95})), "[EAN-13] A (95% - Typed+Enter)");

    fake.typing_fails = true;
    EXPECT_EQ(without_time(deliver({"A", "EAN-13", 95})), "[EAN-13] A (95% - Received)");
    EXPECT_EQ(state->received_count, 4u) << "every delivered scan counts, whatever its outcome";
}

TEST_F(Delivery, LineBreaksReachTheClipboardAndTheLogButAreNotTyped) {
    std::string line = deliver({"12\r\n34", "CODE-128", 100}, PressEnterRequest::no);
    EXPECT_EQ(fake.clipboard, std::vector<std::string>{"12\r\n34"});
    EXPECT_EQ(fake.typed.size(), 8u);
    EXPECT_EQ(without_time(line), "[CODE-128] 12\r\n34 (100% - Copied & Typed)");
}

TEST_F(Delivery, ConcurrentScansNeverInterleave) {
    const int threads = 8, scans_per_thread = 25;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([this, t] {
            std::string text(6, static_cast<char>('a' + t));
            for (int i = 0; i < scans_per_thread; ++i) {
                deliver_scan(*state, {text, "CODE-128", 99}, PressEnterRequest::absent);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();

    const size_t events_per_scan = 6 * 2 + 2;
    ASSERT_EQ(fake.typed.size(), threads * scans_per_thread * events_per_scan);
    for (size_t start = 0; start < fake.typed.size(); start += events_per_scan) {
        uint16_t letter = fake.typed[start].scan_code;
        for (size_t k = 0; k < 12; ++k) {
            ASSERT_EQ(fake.typed[start + k].scan_code, letter)
                << "keystrokes interleaved at " << start + k;
        }
        ASSERT_EQ(fake.typed[start + 12], ENTER_DOWN);
        ASSERT_EQ(fake.typed[start + 13], ENTER_UP);
    }
    EXPECT_EQ(state->received_count, static_cast<uint64_t>(threads * scans_per_thread));
    EXPECT_EQ(take_log_lines(*state).size(), static_cast<size_t>(threads * scans_per_thread));
}

TEST(UtcTimeStamp, FieldsWrapAndClampAtTheEpoch) {
    EXPECT_EQ(utc_time_stamp(0), "00:00:00");
    EXPECT_EQ(utc_time_stamp(-5), "00:00:00") << "a clock before 1970 reads as the epoch";
    EXPECT_EQ(utc_time_stamp(14 * 3600 + 3 * 60 + 27), "14:03:27");
    EXPECT_EQ(utc_time_stamp(86400 * 20000 + 23 * 3600 + 59 * 60 + 59), "23:59:59");
    EXPECT_EQ(utc_time_stamp(86400 * 3), "00:00:00");
}

TEST(ScanLogLine, Format) {
    EXPECT_EQ(scan_log_line("14:03:27", {"4006381333931", "EAN-13", 95}, "Copied & Typed+Enter"),
              "[14:03:27] [EAN-13] 4006381333931 (95% - Copied & Typed+Enter)");
    EXPECT_EQ(scan_log_line("00:00:01", {"x", "", 4294967295u}, "Received"),
              "[00:00:01] [] x (4294967295% - Received)");
}

}  // namespace
