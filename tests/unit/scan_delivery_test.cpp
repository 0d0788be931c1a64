#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "desktop/key_events.h"
#include "desktop/x11/x11_text.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_delivery.h"

namespace {

// Records what delivery asked of the desktop; either action can be told to fail.
struct RecordingDesktop {
    std::mutex lock;
    std::vector<KeyEvent> typed;
    std::vector<std::string> clipboard;
    bool typing_fails = false;
    bool clipboard_fails = false;
    // While set, typing waits until the test clears it: a scan that takes its time.
    bool typing_held = false;
    bool typing_started = false;
    std::condition_variable changed;

    Desktop desktop() {
        return Desktop{
            [this](std::string_view text, bool with_enter, const TypingOptions& options) {
                std::unique_lock guard(lock);
                typing_started = true;
                changed.notify_all();
                changed.wait(guard, [this] { return !typing_held; });
                if (typing_fails) return Status::failure("SendInput incomplete");
                // Key by key with the lock let go in between, so that interleaving of
                // concurrent deliveries would show in the record.
                for (const KeyEvent& event : key_events_for_text(text, with_enter, options)) {
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
const KeyEvent TAB_DOWN{VK_TAB_KEY, 0, 0};
const KeyEvent TAB_UP{VK_TAB_KEY, 0, KEY_FLAG_KEYUP};

TypingOptions options(TypeMode mode, SuffixKey suffix = SuffixKey::enter, std::string prefix = "",
                      std::string postfix = "") {
    return {mode, suffix, 0, std::move(prefix), std::move(postfix)};
}

// Keyboard layouts as VkKeyScanExW and MapVirtualKeyExW report them for a few characters.
constexpr uint8_t ALTGR = MODIFIER_CONTROL | MODIFIER_ALT;
constexpr uint16_t VK_OEM_4 = 0xDB, VK_OEM_5 = 0xDC;
using LayoutTable = std::map<char16_t, LayoutKey>;
const LayoutTable US_LAYOUT{
    {u'a', {'A', 0x1E, 0, false}},
    {u'A', {'A', 0x1E, MODIFIER_SHIFT, false}},
    {u'y', {'Y', 0x15, 0, false}},
    {u'z', {'Z', 0x2C, 0, false}},
    {u'@', {'2', 0x03, MODIFIER_SHIFT, false}},
    {u'', {'A', 0x1E, MODIFIER_CONTROL, false}},
};
const LayoutTable GERMAN_LAYOUT{
    {u'y', {'Y', 0x2C, 0, false}},
    {u'z', {'Z', 0x15, 0, false}},
    {u'Z', {'Z', 0x15, MODIFIER_SHIFT, false}},
    {u'@', {'Q', 0x10, ALTGR, false}},
    {u'€', {'E', 0x12, ALTGR, false}},
    {u'ß', {VK_OEM_4, 0x0C, 0, false}},
    {u'^', {VK_OEM_5, 0x29, 0, true}},
    {u'ー', {'A', 0x1E, 8, false}},  // a Kana modifier
};
const LayoutTable FRENCH_LAYOUT{
    {u'a', {'A', 0x10, 0, false}},
    {u'q', {'Q', 0x1E, 0, false}},
    {u'1', {'1', 0x02, MODIFIER_SHIFT, false}},
    {u'é', {'2', 0x03, 0, false}},
    {u'~', {'2', 0x03, ALTGR, true}},
    {u'@', {'0', 0x0B, ALTGR, false}},
};

KeyboardLayout fake_layout(const LayoutTable& table) {
    return {
        [&table](char16_t unit) -> std::optional<LayoutKey> {
            auto found = table.find(unit);
            if (found == table.end()) return std::nullopt;
            return found->second;
        },
        [](uint16_t vk) -> uint16_t {
            const std::map<uint16_t, uint16_t> scan_codes{{VK_SHIFT_KEY, 0x2A},
                                                          {VK_CONTROL_KEY, 0x1D},
                                                          {VK_MENU_KEY, 0x38},
                                                          {VK_RETURN_KEY, 0x1C},
                                                          {VK_TAB_KEY, 0x0F}};
            return scan_codes.at(vk);
        },
    };
}

KeyEvent key(uint16_t vk, uint16_t scan, bool up = false) {
    return {vk, scan, up ? KEY_FLAG_KEYUP : 0};
}
const KeyEvent SHIFT_DOWN = key(VK_SHIFT_KEY, 0x2A), SHIFT_UP = key(VK_SHIFT_KEY, 0x2A, true);
const KeyEvent CTRL_DOWN = key(VK_CONTROL_KEY, 0x1D), CTRL_UP = key(VK_CONTROL_KEY, 0x1D, true);
const KeyEvent ALT_DOWN = key(VK_MENU_KEY, 0x38), ALT_UP = key(VK_MENU_KEY, 0x38, true);

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

TEST(X11Text, KeysymsForTypingJoinPrefixTextPostfixAndSuffix) {
    EXPECT_EQ(keysyms_for_typing("x\xF0\x9F\x98\x80", true, {}),
              (std::vector<uint32_t>{'x', 0x0101F600, KEYSYM_RETURN}))
        << "one keysym per character, Return after";
    EXPECT_EQ(keysyms_for_typing("ab", false, {}), (std::vector<uint32_t>{'a', 'b'}));
    TypingOptions options;
    options.suffix_key = SuffixKey::tab;
    options.prefix = "<\r\n";
    options.postfix = ">";
    // Line breaks in the prefix are skipped like those of the text.
    EXPECT_EQ(keysyms_for_typing("1\r\n", true, options),
              (std::vector<uint32_t>{'<', '1', '>', KEYSYM_TAB}));
    EXPECT_EQ(keysyms_for_typing("1", false, options), (std::vector<uint32_t>{'<', '1', '>'}));
    EXPECT_EQ(keysyms_for_typing("\r\n", true, {}), (std::vector<uint32_t>{KEYSYM_RETURN}));
    EXPECT_TRUE(keysyms_for_typing("", false, {}).empty());
}

TEST(KeyEvents, TabSuffixPrefixAndPostfix) {
    // Line breaks in the prefix are skipped like those of the text.
    EXPECT_EQ(
        key_events_for_text("1", true, options(TypeMode::unicode, SuffixKey::tab, "<\r\n", ">")),
        (std::vector<KeyEvent>{down('<'), up('<'), down('1'), up('1'), down('>'), up('>'), TAB_DOWN,
                               TAB_UP}));
    EXPECT_EQ(key_events_for_text("1", false, options(TypeMode::unicode, SuffixKey::tab)),
              (std::vector<KeyEvent>{down('1'), up('1')}));
}

TEST(KeyEvents, OneKeystrokePerCharacterAndOneForTheSuffix) {
    std::vector<Keystroke> strokes = keystrokes_for_text(
        "a\xF0\x9F\x98\x80\r\n", true, options(TypeMode::unicode, SuffixKey::enter, "<"));
    ASSERT_EQ(strokes.size(), 4u);
    EXPECT_EQ(strokes[0], (Keystroke{down('<'), up('<')}));
    EXPECT_EQ(strokes[1], (Keystroke{down('a'), up('a')}));
    EXPECT_EQ(strokes[2], (Keystroke{down(0xD83D), up(0xD83D), down(0xDE00), up(0xDE00)}))
        << "both halves of a surrogate pair are one character";
    EXPECT_EQ(strokes[3], (Keystroke{ENTER_DOWN, ENTER_UP}));
}

TEST(KeyEvents, KeyCodesThroughTheLayout) {
    struct Row {
        const LayoutTable* layout;
        const char* text;
        std::vector<KeyEvent> events;
        const char* why;
    } rows[] = {
        {&US_LAYOUT,
         "az",
         {key('A', 0x1E), key('A', 0x1E, true), key('Z', 0x2C), key('Z', 0x2C, true)},
         "plain keys carry virtual key and scan code"},
        {&US_LAYOUT,
         "A",
         {SHIFT_DOWN, key('A', 0x1E), key('A', 0x1E, true), SHIFT_UP},
         "Shift around the key"},
        {&US_LAYOUT,
         "\x01",
         {CTRL_DOWN, key('A', 0x1E), key('A', 0x1E, true), CTRL_UP},
         "a control character is Ctrl and its letter"},
        {&GERMAN_LAYOUT,
         "zy",
         {key('Z', 0x15), key('Z', 0x15, true), key('Y', 0x2C), key('Y', 0x2C, true)},
         "German z and y: the keys of the layout, not of US positions"},
        {&GERMAN_LAYOUT,
         "Z",
         {SHIFT_DOWN, key('Z', 0x15), key('Z', 0x15, true), SHIFT_UP},
         "German capital"},
        {&GERMAN_LAYOUT,
         "@",
         {CTRL_DOWN, ALT_DOWN, key('Q', 0x10), key('Q', 0x10, true), ALT_UP, CTRL_UP},
         "AltGr is Ctrl and Alt, released in reverse order"},
        {&GERMAN_LAYOUT,
         "\xE2\x82\xAC",
         {CTRL_DOWN, ALT_DOWN, key('E', 0x12), key('E', 0x12, true), ALT_UP, CTRL_UP},
         "the euro sign on AltGr+E"},
        {&GERMAN_LAYOUT,
         "\xC3\x9F",
         {key(VK_OEM_4, 0x0C), key(VK_OEM_4, 0x0C, true)},
         "an OEM key"},
        {&GERMAN_LAYOUT,
         "^a",
         {down('^'), up('^'), down('a'), up('a')},
         "a dead key falls back to Unicode; a character the layout lacks too"},
        {&GERMAN_LAYOUT,
         "\xE3\x83\xBC",
         {down(0x30FC), up(0x30FC)},
         "a modifier other than Shift, Ctrl and Alt falls back to Unicode"},
        {&FRENCH_LAYOUT,
         "aq1",
         {key('A', 0x10), key('A', 0x10, true), key('Q', 0x1E), key('Q', 0x1E, true), SHIFT_DOWN,
          key('1', 0x02), key('1', 0x02, true), SHIFT_UP},
         "AZERTY letters, and digits on Shift"},
        {&FRENCH_LAYOUT,
         "\xC3\xA9~@",
         {key('2', 0x03), key('2', 0x03, true), down('~'), up('~'), CTRL_DOWN, ALT_DOWN,
          key('0', 0x0B), key('0', 0x0B, true), ALT_UP, CTRL_UP},
         "French é unshifted, the dead tilde as Unicode, @ on AltGr"},
        {&FRENCH_LAYOUT,
         "\xF0\x9F\x98\x80",
         {down(0xD83D), up(0xD83D), down(0xDE00), up(0xDE00)},
         "beyond the basic plane as Unicode"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(
            key_events_for_text(row.text, false, options(TypeMode::keys), fake_layout(*row.layout)),
            row.events)
            << row.why;
    }
}

TEST(KeyEvents, KeyCodeModeSuffixCarriesItsScanCode) {
    const KeyboardLayout layout = fake_layout(US_LAYOUT);
    EXPECT_EQ(
        key_events_for_text("a", true, options(TypeMode::keys, SuffixKey::tab, "A", "\r"), layout),
        (std::vector<KeyEvent>{SHIFT_DOWN, key('A', 0x1E), key('A', 0x1E, true), SHIFT_UP,
                               key('A', 0x1E), key('A', 0x1E, true), key(VK_TAB_KEY, 0x0F),
                               key(VK_TAB_KEY, 0x0F, true)}));
    EXPECT_EQ(key_events_for_text("a", true, options(TypeMode::keys), layout).back(),
              key(VK_RETURN_KEY, 0x1C, true));
    // Without a known layout (as on Linux) every character goes as Unicode.
    EXPECT_EQ(key_events_for_text("a", false, options(TypeMode::keys)),
              (std::vector<KeyEvent>{down('a'), up('a')}));
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

TEST_F(Delivery, PausedTypingStillCopiesCountsAndLogs) {
    state->typing_paused = true;
    EXPECT_EQ(without_time(deliver({"P", "EAN-8", 99})), "[EAN-8] P (99% - Copied & Paused)");
    EXPECT_TRUE(fake.typed.empty());
    EXPECT_EQ(fake.clipboard, std::vector<std::string>{"P"});
    state->auto_type = false;
    EXPECT_EQ(without_time(deliver({"P", "EAN-8", 99})), "[EAN-8] P (99% - Copied)")
        << "nothing is held back when typing is off anyway";
    state->auto_type = true;
    state->typing_paused = false;
    EXPECT_EQ(without_time(deliver({"P", "EAN-8", 99})), "[EAN-8] P (99% - Copied & Typed+Enter)");
    EXPECT_EQ(state->received_count, 3u);
}

TEST_F(Delivery, TypingOptionsChangedBetweenScansApplyToTheNextOne) {
    set_typing(*state, options(TypeMode::unicode, SuffixKey::tab, "", ""));
    EXPECT_EQ(without_time(deliver({"1", "EAN-8", 97})), "[EAN-8] 1 (97% - Copied & Typed+Tab)");
    set_typing(*state, {});
    EXPECT_EQ(without_time(deliver({"2", "EAN-8", 97})), "[EAN-8] 2 (97% - Copied & Typed+Enter)");
    EXPECT_EQ(fake.typed.back(), ENTER_UP);
}

TEST_F(Delivery, TabSuffixAndAffixesAreTypedButNeverCopied) {
    state->typing = options(TypeMode::unicode, SuffixKey::tab, "[", "]");
    EXPECT_EQ(without_time(deliver({"7", "EAN-8", 97})), "[EAN-8] 7 (97% - Copied & Typed+Tab)");
    EXPECT_EQ(fake.clipboard, std::vector<std::string>{"7"});
    EXPECT_EQ(fake.typed, (std::vector<KeyEvent>{down('['), up('['), down('7'), up('7'), down(']'),
                                                 up(']'), TAB_DOWN, TAB_UP}));
    fake.typed.clear();
    EXPECT_EQ(without_time(deliver({"7", "EAN-8", 97}, PressEnterRequest::no)),
              "[EAN-8] 7 (97% - Copied & Typed)");
    EXPECT_EQ(fake.typed.size(), 6u) << "the request's pressEnter false suppresses Tab too";
}

TEST_F(Delivery, WithoutKeyDelayAScanIsDeliveredBeforeAcceptReturns) {
    EXPECT_TRUE(accept_scan(*state, {"A", "CODE-128", 90}, PressEnterRequest::absent));
    EXPECT_EQ(take_log_lines(*state).size(), 1u);
    EXPECT_EQ(fake.typed.size(), 4u);
}

TEST_F(Delivery, PacedScansAreAcceptedAtOnceAndTypedInArrivalOrder) {
    state->typing.key_delay_ms = 30;
    {
        std::unique_lock guard(fake.lock);
        fake.typing_held = true;
    }
    // The first scan is being typed (and stays so) when the others arrive.
    ASSERT_TRUE(accept_scan(*state, {"first", "CODE-128", 90}, PressEnterRequest::absent));
    {
        std::unique_lock guard(fake.lock);
        ASSERT_TRUE(fake.changed.wait_for(guard, std::chrono::seconds(10),
                                          [this] { return fake.typing_started; }));
    }
    for (size_t i = 0; i < MAX_WAITING_SCANS; ++i) {
        ASSERT_TRUE(accept_scan(*state, {std::string(1, char('a' + i % 26)), "CODE-128", 90},
                                PressEnterRequest::no))
            << "waiting scan " << i << " refused";
    }
    EXPECT_FALSE(accept_scan(*state, {"refused", "CODE-128", 90}, PressEnterRequest::absent))
        << "past the bound a scan is refused rather than typed minutes later";
    EXPECT_TRUE(take_log_lines(*state).empty()) << "nothing delivered while the first is typed";
    {
        std::unique_lock guard(fake.lock);
        fake.typing_held = false;
    }
    fake.changed.notify_all();

    // Waits for the last line; the deadline only ends a hang, on however slow a machine.
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (lines.size() < MAX_WAITING_SCANS + 1 && std::chrono::steady_clock::now() < deadline) {
        std::vector<std::string> more = take_log_lines(*state);
        lines.insert(lines.end(), more.begin(), more.end());
        if (more.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(lines.size(), MAX_WAITING_SCANS + 1);
    EXPECT_EQ(without_time(lines[0]), "[CODE-128] first (90% - Copied & Typed+Enter)");
    std::lock_guard guard(fake.lock);
    ASSERT_EQ(fake.typed.size(), 5 * 2 + 2 + MAX_WAITING_SCANS * 2);
    for (size_t i = 0; i < MAX_WAITING_SCANS; ++i) {
        ASSERT_EQ(fake.typed[12 + 2 * i], down(char16_t('a' + i % 26))) << "out of order at " << i;
    }
    EXPECT_EQ(fake.clipboard.back(), std::string(1, char('a' + (MAX_WAITING_SCANS - 1) % 26)));
    EXPECT_EQ(state->received_count, MAX_WAITING_SCANS + 1);
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
