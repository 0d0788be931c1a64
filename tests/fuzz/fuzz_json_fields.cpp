// The text search that finds the scan's members in a request body, on any bytes.
//
// Checked: a found member was in the body under its quoted key and is never longer than the
// body; a number or flag other than the default came from its key; and any text survives
// json_quote followed by json_string_field unchanged, with no raw control character between.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "server/routes.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);

    for (std::string_view key : {"text", "format"}) {
        if (std::optional<std::string> value = json_string_field(body, key)) {
            FUZZ_CHECK(contains(body, "\"" + std::string(key) + "\""), "found under its key");
            FUZZ_CHECK(value->size() <= body.size(), "decoding never grows the text");
        }
    }
    if (parse_confidence(body) != 100) {
        FUZZ_CHECK(contains(body, "\"confidence\""), "a confidence comes from its key");
    }
    const PressEnterRequest press_enter = parse_press_enter(body);
    if (press_enter != PressEnterRequest::absent) {
        FUZZ_CHECK(contains(body, "\"pressEnter\""), "a pressEnter comes from its key");
        FUZZ_CHECK(contains(body, press_enter == PressEnterRequest::yes ? "true" : "false"),
                   "the flag is spelled in the body");
    }

    const std::string quoted = json_quote(body);
    for (char c : quoted) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20, "no raw control character in a literal");
    }
    FUZZ_CHECK(json_string_field("{\"text\":" + quoted + "}", "text") == std::string(body),
               "json_quote and json_string_field round-trip");
    return 0;
}
