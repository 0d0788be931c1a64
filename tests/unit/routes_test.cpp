#include "server/routes.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_codes.h"
#include "memory_stream.h"
#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "core/version.h"
#include "server/embedded_assets.h"
#include "server/trust_routes.h"
#include "tests/support/embedded_file.h"

using namespace std::string_view_literals;

namespace {

constexpr std::string_view NOT_FOUND = "Not found";
constexpr std::string_view MISSING_TEXT = R"({"ok":false,"error":"Missing barcode text"})";

// A receiver whose desktop records what delivery hands it.
class Routes : public testing::Test {
  protected:
    void SetUp() override {
        state = new_receiver_state(ReceiverSettings{},
                                   {{"Wi-Fi", "192.168.1.20"}, {"Ethernet", "10.0.0.5"}});
        state->desktop.copy_text = [this](std::string_view text) {
            copied.emplace_back(text);
            return Status::success();
        };
        state->desktop.type_text = [this](std::string_view text, bool with_enter,
                                          const TypingOptions&) {
            typed.emplace_back(text);
            enters.push_back(with_enter);
            return Status::success();
        };
    }

    HttpResponse post_scan(std::string_view body) {
        return route_request({"POST", "/api/scan", std::string(body)}, *state);
    }

    std::shared_ptr<ReceiverState> state;
    std::vector<std::string> copied, typed;
    std::vector<bool> enters;
};

struct RouteCase {
    std::string_view method, path;
    std::string_view status, content_type, file;  // file: web/ name of the expected body
};

// clang-format off
const RouteCase ROUTE_CASES[] = {
    {"OPTIONS", "/anything/at/all", "204 No Content", "text/plain", ""},  // CORS preflight for any path
    {"OPTIONS", "/api/scan", "204 No Content", "text/plain", ""},  // preflight wins over the scan route
    {"GET", "/", "200 OK", "text/html; charset=utf-8", "index.html"},  // the pairing URL's path
    {"GET", "/index.html", "200 OK", "text/html; charset=utf-8", "index.html"},  // second name of the page
    {"GET", "/about", "200 OK", "text/html; charset=utf-8", "about.html"},  // short name of about.html
    {"GET", "/main.js", "200 OK", "text/javascript; charset=utf-8", "main.js"},  // modules need a script type
    {"GET", "/styles.css", "200 OK", "text/css; charset=utf-8", "styles.css"},  // style sheet type
    {"GET", "/about/", "404 Not Found", "text/plain; charset=utf-8", ""},  // no trailing-slash folding
    {"GET", "/favicon.ico", "404 Not Found", "text/plain; charset=utf-8", ""},  // nothing outside the table
    {"GET", "/api/events", "404 Not Found", "text/plain; charset=utf-8", ""},  // no event stream
    {"GET", "/Index.html", "404 Not Found", "text/plain; charset=utf-8", ""},  // paths are case-sensitive
    {"GET", "/%69ndex.html", "404 Not Found", "text/plain; charset=utf-8", ""},  // no percent-decoding
    {"GET", "", "404 Not Found", "text/plain; charset=utf-8", ""},  // empty path (target "?x")
    {"GET", "/api/scan", "404 Not Found", "text/plain; charset=utf-8", ""},  // scans are POSTed only
    {"POST", "/api/ping", "404 Not Found", "text/plain; charset=utf-8", ""},  // ping is GET only
    {"POST", "/", "404 Not Found", "text/plain; charset=utf-8", ""},  // POST elsewhere than /api/scan
    {"HEAD", "/", "404 Not Found", "text/plain; charset=utf-8", ""},  // HEAD is not GET
    {"get", "/", "404 Not Found", "text/plain; charset=utf-8", ""},  // methods are case-sensitive
    {"PUT", "/api/scan", "404 Not Found", "text/plain; charset=utf-8", ""},  // other methods
};
// clang-format on

TEST_F(Routes, MethodAndPathChooseTheAnswer) {
    for (const RouteCase& row : ROUTE_CASES) {
        SCOPED_TRACE(std::string(row.method) + " \"" + std::string(row.path) + "\"");
        HttpResponse response =
            route_request({std::string(row.method), std::string(row.path), ""}, *state);
        EXPECT_EQ(response.status, row.status);
        EXPECT_EQ(response.content_type, row.content_type);
        std::string_view expected = row.file.empty() ? ""sv : embedded_file(row.file);
        if (row.status.starts_with("404")) expected = NOT_FOUND;
        EXPECT_EQ(response.body, expected);
    }
    EXPECT_TRUE(copied.empty() && typed.empty());
}

TEST_F(Routes, PingReportsHostPortAndSelectedAddress) {
    const char* saved = std::getenv("COMPUTERNAME");
    const std::string saved_name = saved ? saved : "";
    setenv("COMPUTERNAME", "Desk \"7\"", 1);
    state->port = 8443;
    state->selected_adapter = 1;
    HttpResponse response = route_request({"GET", "/api/ping", ""}, *state);
    if (saved) {
        setenv("COMPUTERNAME", saved_name.c_str(), 1);
    } else {
        unsetenv("COMPUTERNAME");
    }

    EXPECT_EQ(response.status, "200 OK");
    EXPECT_EQ(response.content_type, "application/json; charset=utf-8");
    EXPECT_EQ(response.body, R"({"ok":true,"client":"quillmark-receiver-gui","protocol":"https",)"
                             R"("host":"Desk \"7\"","port":8443,"lanAddresses":["10.0.0.5"]})");
    EXPECT_EQ(state->received_count.load(), 0u);
    EXPECT_TRUE(take_log_lines(*state).empty());
}

TEST_F(Routes, PairingUrlServesTheIndexThroughTheWholeServer) {
    MemoryStream stream{"GET /?pc=https%3A%2F%2F192.168.1.20%3A8080%2Fapi%2Fscan HTTP/1.1\r\n\r\n"};
    serve_request(stream, state);
    const std::string_view index = embedded_file("index.html");
    EXPECT_TRUE(
        stream.output.starts_with("HTTP/1.1 200 OK\r\n"
                                  "Content-Type: text/html; charset=utf-8\r\n"
                                  "Content-Length: " +
                                  std::to_string(index.size()) + "\r\n"));
    EXPECT_TRUE(stream.output.ends_with("\r\n\r\n" + std::string(index)));
}

struct ScanCase {
    std::string_view body;
    std::string_view text, format;  // text empty: the 400 and no delivery
    uint32_t confidence;
    bool with_enter;
};

// clang-format off
const ScanCase SCAN_CASES[] = {
    {R"({"text":"  AB12 \n"})", "AB12", "BARCODE", 100, true},  // trimmed, defaults for the rest
    {R"({"text":"X","format":"EAN-13","confidence":88,"pressEnter":true})", "X", "EAN-13", 88, true},  // every member given
    {R"({"format":"text","text":"X1"})", "X1", "text", 100, true},  // the key as a value is skipped
    {R"({"text":"X","format":" EAN-13 "})", "X", " EAN-13 ", 100, true},  // the format is not trimmed
    {R"({"text":"X","format":""})", "X", "", 100, true},  // an empty format stays empty
    {R"({"text":"X","format":7})", "X", "BARCODE", 100, true},  // a non-string format is absent
    {R"({"text":"X","confidence":"97"})", "X", "BARCODE", 100, true},  // confidence as a string
    {R"({"text":"X","confidence":250})", "X", "BARCODE", 250, true},  // no upper clamp
    {R"({"text":"X","pressEnter":false})", "X", "BARCODE", 100, false},  // the request suppresses Enter
    {R"({"text":"caf\u00e9"})", "caf\xC3\xA9", "BARCODE", 100, true},  // escaped non-ASCII
    {R"({"text":"\uD83D\uDE00"})", "\xF0\x9F\x98\x80", "BARCODE", 100, true},  // escaped pair is one character
    {"{\"text\":\"A\xFF" "B\"}", "A\xEF\xBF\xBD" "B", "BARCODE", 100, true},  // invalid UTF-8 becomes U+FFFD
    {"{\"text\":\"A\xC3\"}", "A\xEF\xBF\xBD", "BARCODE", 100, true},  // a cut sequence before the quote
    {R"({"meta":{"text":"inner"},"text":"outer"})", "inner", "BARCODE", 100, true},  // first occurrence wins, even nested
    {R"({"text":"   "})", "", "", 0, false},  // only blanks
    {R"({"text":"\u3000\t"})", "", "", 0, false},  // only Unicode White_Space
    {R"({"text":123})", "", "", 0, false},  // a number is not text
    {R"({"text":"abc)", "", "", 0, false},  // unterminated
    {R"({"format":"EAN-13"})", "", "", 0, false},  // no text member
    {"", "", "", 0, false},  // no body
};
// clang-format on

TEST_F(Routes, ScanBodiesAreDeliveredAndEchoed) {
    for (const ScanCase& row : SCAN_CASES) {
        SCOPED_TRACE(std::string(row.body));
        copied.clear(), typed.clear(), enters.clear();
        (void)take_log_lines(*state);
        const uint64_t count_before = state->received_count;

        HttpResponse response = post_scan(row.body);
        EXPECT_EQ(response.content_type, "application/json; charset=utf-8");
        if (row.text.empty()) {
            EXPECT_EQ(response.status, "400 Bad Request");
            EXPECT_EQ(response.body, MISSING_TEXT);
            EXPECT_TRUE(copied.empty() && typed.empty());
            EXPECT_EQ(state->received_count.load(), count_before);
            EXPECT_TRUE(take_log_lines(*state).empty());
            continue;
        }
        const std::string confidence = std::to_string(row.confidence);
        EXPECT_EQ(response.status, "200 OK");
        EXPECT_EQ(response.body, R"({"ok":true,"scan":{"text":)" + json_quote(row.text) +
                                     R"(,"format":)" + json_quote(row.format) +
                                     R"(,"confidence":)" + confidence + "}}");
        EXPECT_EQ(copied, std::vector<std::string>{std::string(row.text)});
        EXPECT_EQ(typed, std::vector<std::string>{std::string(row.text)});
        EXPECT_EQ(enters, std::vector<bool>{row.with_enter});
        EXPECT_EQ(state->received_count.load(), count_before + 1);
        std::vector<std::string> log = take_log_lines(*state);
        ASSERT_EQ(log.size(), 1u);
        const std::string outcome = row.with_enter ? "Copied & Typed+Enter" : "Copied & Typed";
        EXPECT_EQ(log[0].substr(10), " [" + std::string(row.format) + "] " + std::string(row.text) +
                                         " (" + confidence + "% - " + outcome + ")");
    }
}

TEST_F(Routes, ScanEchoEscapesWhatJsonNeeds) {
    HttpResponse response = post_scan(R"({"text":"a\"b\\c\td/e"})");
    EXPECT_EQ(response.body,
              R"({"ok":true,"scan":{"text":"a\"b\\c\td/e","format":"BARCODE","confidence":100}})");
    EXPECT_EQ(typed, std::vector<std::string>{"a\"b\\c\td/e"});
}

TEST_F(Routes, ScanWithAKnownIdIsAnsweredAgainButNotDelivered) {
    const std::string body = R"({"text":"ID-1","format":"EAN-13","id":"scan-1-a"})";
    const HttpResponse first = post_scan(body);
    (void)take_log_lines(*state);
    // The same id written with an escape is the same id.
    const HttpResponse again =
        post_scan(R"({"text":"ID-1","format":"EAN-13","id":"scan-1-\u0061"})");
    EXPECT_EQ(again.status, "200 OK");
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(typed, std::vector<std::string>{"ID-1"});
    EXPECT_EQ(copied, std::vector<std::string>{"ID-1"});
    EXPECT_EQ(state->received_count.load(), 1u);
    const std::vector<std::string> log = take_log_lines(*state);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].substr(10), " [EAN-13] ID-1 (100% - Already received)");

    // No id, an empty id or an id that is not a string: delivered every time.
    for (const char* other :
         {R"({"text":"ID-1"})", R"({"text":"ID-1","id":""})", R"({"text":"ID-1","id":7})"}) {
        post_scan(other), post_scan(other);
    }
    EXPECT_EQ(typed.size(), 7u);
}

TEST_F(Routes, ScanIdsBeyondTheLimitAreRefused) {
    const std::string longest(MAX_SCAN_ID_BYTES, 'x');
    EXPECT_EQ(post_scan(R"({"text":"A","id":")" + longest + "\"}").status, "200 OK");
    // 127 ASCII bytes and one two-byte character: 129 bytes, although 128 characters.
    const HttpResponse refused =
        post_scan(R"({"text":"A","id":")" + longest.substr(1) + "\xc3\xa9\"}");
    EXPECT_EQ(refused.status, "400 Bad Request");
    EXPECT_EQ(refused.content_type, "application/json; charset=utf-8");
    EXPECT_EQ(refused.body, R"({"ok":false,"error":"Scan id longer than 128 bytes"})");
    EXPECT_EQ(typed.size(), 1u);
    EXPECT_EQ(state->received_count.load(), 1u);
}

TEST_F(Routes, OldestScanIdIsForgottenFirst) {
    const auto scan_with_id = [](size_t n) {
        return R"({"text":"N)" + std::to_string(n) + R"(","id":"scan-)" + std::to_string(n) + "\"}";
    };
    for (size_t n = 0; n <= MAX_REMEMBERED_SCAN_IDS; ++n) post_scan(scan_with_id(n));
    ASSERT_EQ(typed.size(), MAX_REMEMBERED_SCAN_IDS + 1);
    post_scan(scan_with_id(1));  // still remembered
    post_scan(scan_with_id(0));  // pushed out by the last one
    EXPECT_EQ(typed.size(), MAX_REMEMBERED_SCAN_IDS + 2);
    EXPECT_EQ(typed.back(), "N0");
}

TEST_F(Routes, PacedScansAreAnsweredAtOnceUntilTooManyWait) {
    state->typing.key_delay_ms = 10;
    std::mutex lock;
    std::condition_variable changed;
    bool started = false, held = true;
    state->desktop.type_text = [&](std::string_view, bool, const TypingOptions&) {
        std::unique_lock guard(lock);
        started = true;
        changed.notify_all();
        changed.wait(guard, [&] { return !held; });
        return Status::success();
    };
    // Answered while its typing has not even ended.
    EXPECT_EQ(post_scan(R"({"text":"first"})").body,
              R"({"ok":true,"scan":{"text":"first","format":"BARCODE","confidence":100}})");
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(10), [&] { return started; }));
    }
    for (size_t i = 0; i < MAX_WAITING_SCANS; ++i) {
        ASSERT_EQ(post_scan(R"({"text":"waits"})").status, "200 OK") << i;
    }
    HttpResponse refused = post_scan(R"({"text":"late","id":"late-1"})");
    EXPECT_EQ(refused.status, "503 Service Unavailable");
    EXPECT_TRUE(remember_scan_id(state->delivered_scan_ids, "late-1"))
        << "a refused scan's id is forgotten, so its resend is typed";
    EXPECT_EQ(refused.content_type, "application/json; charset=utf-8");
    EXPECT_EQ(refused.body, R"({"ok":false,"error":"Too many scans are waiting to be typed"})");
    {
        std::lock_guard guard(lock);
        held = false;
    }
    changed.notify_all();
    state.reset();  // ends the delivery thread while the fake it calls still exists
}

TEST(JsonQuote, EscapesOnlyQuoteBackslashAndControls) {
    // clang-format off
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", R"("")"},  // empty text
        {"a/b", R"("a/b")"},  // the slash is kept
        {"\t\n\r\"\\", R"("\t\n\r\"\\")"},  // the five short escapes
        {"\x01\x1F\b\f", R"("\u0001\u001f\u0008\u000c")"},  // other controls: lower-case \u form
        {"\0"sv, R"("\u0000")"},  // NUL inside the text
        {"\x7F\xC3\xA9\xF0\x9F\x98\x80", "\"\x7F\xC3\xA9\xF0\x9F\x98\x80\""},  // DEL and non-ASCII unchanged
    };
    // clang-format on
    for (const auto& [value, quoted] : cases) EXPECT_EQ(json_quote(value), quoted);
}

TEST(JsonStringField, TextSearchAndDecoding) {
    // clang-format off
    const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
        {R"({"k":"x"})", "x"},  // plain member
        {R"({"k":""})", ""},  // present but empty
        {"{\"k\" \t\r\n\f: \f\"x\"}", "x"},  // the JSON blanks around the colon
        {"{\"k\"\v:\"x\"}", std::nullopt},  // VT is no JSON blank: no colon follows
        {R"({"kk":"x","k":"y"})", "y"},  // the quotes are part of the pattern
        {R"({"K":"x"})", std::nullopt},  // keys are case-sensitive
        {R"({"k":1,"k":"y"})", std::nullopt},  // the first key with a colon decides
        {R"("k":"x")", "x"},  // no object needed
        {R"({"k":"x)", std::nullopt},  // unterminated
        {R"({"k":"x\)", std::nullopt},  // backslash as the last character
        {R"({"k":"a\/b\bc\fd\ne\rf\tg\qh\"i\\"})", "a/b\bc\fd\ne\rf\tgqh\"i\\"},  // every short escape, unknown one kept
        {R"({"k":"\u00e9\u20AC"})", "\xC3\xA9\xE2\x82\xAC"},  // hex digits in either case
        {R"({"k":"\uD83D\uDE00"})", "\xF0\x9F\x98\x80"},  // a surrogate pair is one character
        {R"({"k":"a\uD83Db"})", "ab"},  // lone high surrogate dropped
        {R"({"k":"a\uDE00b"})", "ab"},  // lone low surrogate dropped
        {R"({"k":"a\uDE00\uD83Db"})", "ab"},  // pair in the wrong order: both dropped
        {R"({"k":"\uD83D\u0041"})", "A"},  // high surrogate before a plain escape
        {R"({"k":"\uD83D\uD83D\uDE00"})", "\xF0\x9F\x98\x80"},  // a second high surrogate starts the pair
        {R"({"k":"a\u004Gb"})", "ab"},  // non-hex: all six characters consumed, nothing added
        {R"({"k":"\u12"})", std::nullopt},  // the closing quote is eaten as a hex character
        {R"({"k":"\u1")", "1"},  // fewer than four after u: backslash and u dropped
        {R"({"k":"\u\u00e9xyz"})", "e9xyz"},  // a broken escape swallows the start of the next
        {R"({"k":"\u00é"x"})", "x"},  // four characters are counted, not four bytes
    };
    // clang-format on
    for (const auto& [body, value] : cases) {
        EXPECT_EQ(json_string_field(body, "k"), value) << body;
    }
}

TEST(ParseNumbers, ConfidenceAndPressEnter) {
    // clang-format off
    const std::pair<std::string_view, uint32_t> confidences[] = {
        {R"({})", 100},  // absent
        {R"({"confidence":97})", 97},  // plain
        {R"({"confidence":97.6})", 97},  // fraction cut
        {R"({"confidence":0.93})", 0},  // fraction below one
        {R"({"confidence":-5})", 100},  // no sign
        {R"({"confidence":"97"})", 100},  // a string is no number
        {R"({"confidence":4294967295})", 4294967295u},  // largest 32-bit value
        {R"({"confidence":4294967296})", 100},  // too large
        {"{\"confidence\":\xE3\x80\x80\n 42}", 42},  // White_Space after the colon
        {R"({"confidence","x":5})", 5},  // the first colon wherever it stands
        {R"({"Confidence":5})", 100},  // case-sensitive key
    };
    const std::pair<std::string_view, PressEnterRequest> presses[] = {
        {R"({})", PressEnterRequest::absent},  // absent
        {R"({"pressEnter":true})", PressEnterRequest::yes},  // true
        {R"({"pressEnter": false})", PressEnterRequest::no},  // false
        {R"({"pressEnter":"false"})", PressEnterRequest::absent},  // a string is neither
        {R"({"pressEnter":null})", PressEnterRequest::absent},  // null is neither
        {R"({"pressEnter":trueish})", PressEnterRequest::yes},  // only the start is compared
        {R"({"pressEnter","x":false})", PressEnterRequest::no},  // the first colon wherever it stands
    };
    // clang-format on
    for (const auto& [body, value] : confidences) EXPECT_EQ(parse_confidence(body), value) << body;
    for (const auto& [body, value] : presses) EXPECT_EQ(parse_press_enter(body), value) << body;
}

// --pairing-key: only a scan that carries the key of this start is delivered.
TEST_F(Routes, PairingKeyGuardsScansAndNothingElse) {
    const std::string key = "Zm9vYmFyLWtleS0xMjM0NQ";  // as long as a real key
    const std::string refusal =
        R"({"ok":false,"error":"Pairing key required: scan the QR code shown by the receiver again"})";
    const std::string body = R"({"text":"4006381333931"})";
    const auto scan = [&](std::string query, std::string client) {
        return route_request({"POST", "/api/scan", body, std::move(query), std::move(client)},
                             *state);
    };

    // Without the option, a key in the query changes nothing.
    EXPECT_EQ(scan("key=anything", "192.168.1.50").status, "200 OK");
    copied.clear(), typed.clear();
    (void)take_log_lines(*state);

    state->pairing_key = key;
    const uint64_t count = state->received_count;
    struct Row {
        std::string query;
        const char* why;
    };
    const Row refused[] = {
        {"", "no query at all"},
        {"x=1", "no key member"},
        {"key=", "empty key"},
        {"key=" + key.substr(0, 21), "one character short"},
        {"key=" + key + "A", "one character more"},
        {"key=" + key.substr(0, 21) + "R", "last character differs"},
        {"KEY=" + key, "member names are case-sensitive"},
        {"key=x&key=" + key, "the first key member counts"},
    };
    for (const Row& row : refused) {
        HttpResponse response = scan(row.query, "192.168.1.50");
        EXPECT_EQ(response.status, "403 Forbidden") << row.why;
        EXPECT_EQ(response.content_type, "application/json; charset=utf-8") << row.why;
        EXPECT_EQ(response.body, refusal) << row.why;
    }
    EXPECT_TRUE(copied.empty() && typed.empty()) << "nothing typed or copied";
    EXPECT_EQ(state->received_count.load(), count) << "nothing counted";
    // One line for the flood from one address, and one for another address.
    EXPECT_EQ(take_log_lines(*state),
              std::vector<std::string>{"Refused a scan from 192.168.1.50: wrong pairing key"});
    EXPECT_EQ(scan("", "192.168.1.51").status, "403 Forbidden");
    EXPECT_EQ(take_log_lines(*state),
              std::vector<std::string>{"Refused a scan from 192.168.1.51: wrong pairing key"});

    // The right key, as sent or percent-encoded, among other members.
    EXPECT_EQ(scan("key=" + key, "192.168.1.50").status, "200 OK");
    EXPECT_EQ(
        scan("a=1&key=" + key.substr(0, 3) + "%" + "76" + key.substr(4) + "&b", "10.0.0.2").status,
        "200 OK");
    EXPECT_EQ(typed, (std::vector<std::string>{"4006381333931", "4006381333931"}));
    EXPECT_EQ(state->received_count.load(), count + 2);

    // Everything but the scan stays open: the phone pings before it sends.
    EXPECT_EQ(route_request({"GET", "/api/ping", ""}, *state).status, "200 OK");
    EXPECT_EQ(route_request({"OPTIONS", "/api/scan", ""}, *state).status, "204 No Content");
    EXPECT_EQ(route_request({"GET", "/", ""}, *state).status, "200 OK");
}

TEST(PairingKey, FreshBase64urlKeysOf128Bits) {
    // RFC 4648 test vectors, in the URL-safe alphabet and without padding.
    EXPECT_EQ(base64url(""), "");
    EXPECT_EQ(base64url("f"), "Zg");
    EXPECT_EQ(base64url("fo"), "Zm8");
    EXPECT_EQ(base64url("foo"), "Zm9v");
    EXPECT_EQ(base64url("foob"), "Zm9vYg");
    EXPECT_EQ(base64url("\xFB\xFF\xBF"), "-_-_");

    Result<std::string> first = new_pairing_key();
    Result<std::string> second = new_pairing_key();
    ASSERT_TRUE(first.ok()) << first.error();
    ASSERT_TRUE(second.ok()) << second.error();
    EXPECT_EQ(first.value().size(), 22u) << "16 bytes";
    EXPECT_EQ(first.value().find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_NE(first.value(), second.value()) << "a new key each time";
}

TEST(PairingKey, QueryMembers) {
    EXPECT_EQ(query_member("key=abc", "key"), "abc");
    EXPECT_EQ(query_member("a=1&key=abc&b=2", "key"), "abc");
    EXPECT_EQ(query_member("key", "key"), "");                        // a member without a value
    EXPECT_EQ(query_member("key=a%3Db%2", "key"), "a=b%2");           // a cut escape stays as it is
    EXPECT_EQ(query_member("key=a+b", "key"), "a+b");                 // no plus-as-blank
    EXPECT_EQ(query_member("monkey=1&keys=2", "key"), std::nullopt);  // whole names only
    EXPECT_EQ(query_member("", "key"), std::nullopt);
    EXPECT_TRUE(pairing_key_matches("abc", "abc"));
    EXPECT_FALSE(pairing_key_matches("abc", "abd"));
    EXPECT_FALSE(pairing_key_matches("abc", "ab"));
    EXPECT_FALSE(pairing_key_matches("abc", std::string_view("abc\0", 4)));
}

}  // namespace

namespace {

// The trust downloads exist only with a lasting identity; the CA goes out as it is, DER or
// wrapped in a profile, and the manifest echoes only the pairing query the page passed on.
TEST_F(Routes, TrustDownloadsAndTheInstallableApp) {
    const auto get = [this](std::string path, std::string query = "") {
        HttpRequest request{"GET", std::move(path), ""};
        request.query = std::move(query);
        return route_request(request, *state);
    };
    EXPECT_EQ(get("/quillmark-ca.crt").status, "404 Not Found");
    EXPECT_EQ(get("/quillmark-ca.mobileconfig").status, "404 Not Found");
    EXPECT_EQ(get("/api/trust").body, R"({"ok":true,"lasting":false,"caFingerprint":""})");

    state->ca_certificate = std::string("\x30\x82\x01\x00\xFF", 5);
    state->ca_fingerprint =
        "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
        "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89";
    const HttpResponse crt = get("/quillmark-ca.crt");
    EXPECT_EQ(crt.content_type, "application/x-x509-ca-cert");
    EXPECT_EQ(crt.body, state->ca_certificate);
    const HttpResponse profile = get("/quillmark-ca.mobileconfig");
    EXPECT_EQ(profile.content_type, "application/x-apple-aspen-config");
    EXPECT_NE(profile.body.find("<data>MIIBAP8=</data>"), std::string::npos) << profile.body;
    EXPECT_NE(profile.body.find("<string>com.apple.security.root</string>"), std::string::npos);
    EXPECT_NE(
        profile.body.find("<key>PayloadUUID</key><string>ABCDEF01-2345-6789-ABCD-EF0123456789"),
        std::string::npos);
    EXPECT_EQ(get("/api/trust").body,
              R"({"ok":true,"lasting":true,"caFingerprint":")" + state->ca_fingerprint + "\"}");
    EXPECT_NE(mobileconfig_text("x", "A & <B>", "").find("<string>A &amp; &lt;B&gt;</string>"),
              std::string::npos);

    const HttpResponse manifest =
        get("/manifest.webmanifest", "pc=https%3A%2F%2F10.0.0.5%3A8080%2Fapi%2Fscan%3Fkey%3Dk");
    EXPECT_EQ(manifest.content_type, "application/manifest+json");
    EXPECT_NE(manifest.body.find(
                  R"("start_url":"/?pc=https%3A%2F%2F10.0.0.5%3A8080%2Fapi%2Fscan%3Fkey%3Dk")"),
              std::string::npos)
        << manifest.body;
    EXPECT_NE(get("/manifest.webmanifest").body.find(R"("start_url":"/",)"), std::string::npos);

    // Every embedded file is in the app shell, so files added to web/ are kept offline too.
    const std::string shell = get("/app-shell.json").body;
    EXPECT_EQ(
        shell.rfind(R"({"version":")" + std::string(RECEIVER_VERSION) + R"(","files":["/",)", 0),
        0u)
        << shell;
    for (const auto& table : {EMBEDDED_ASSETS, DECODER_ASSETS}) {
        for (const EmbeddedAsset& asset : table) {
            EXPECT_NE(shell.find("\"" + std::string(asset.path) + "\""), std::string::npos)
                << asset.path;
        }
    }
    const HttpResponse icon = get("/icon-192.png");
    EXPECT_EQ(icon.content_type, "image/png");
    EXPECT_EQ(icon.body.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

}  // namespace
