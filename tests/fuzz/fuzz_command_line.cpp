// The Windows command-line splitter on any text, and the option parser on what it yields.
//
// Checked: quoting the split arguments again by the Windows rules and splitting the result
// gives the same arguments, so no argument is lost, merged or changed by a second round.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "receiver/command_line.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// The program path takes no escapes, only quotes around blanks.
std::string quote_program(const std::string& program) {
    if (!program.empty() && program.find_first_of(" \t") == std::string::npos) return program;
    return "\"" + program + "\"";
}

// An argument as the Windows rules read it back: backslashes double only before a quote.
std::string quote_argument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
        return argument;
    }
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> arguments = split_windows_command_line(line);
    if (arguments.empty()) return 0;

    std::string again = quote_program(arguments[0]);
    for (size_t i = 1; i < arguments.size(); ++i) again += " " + quote_argument(arguments[i]);
    FUZZ_CHECK(arguments[0].find('"') == std::string::npos, "quotes never stay in the program");
    FUZZ_CHECK(split_windows_command_line(again) == arguments, "quoted again, split the same");

    (void)parse_command_line({arguments.begin() + 1, arguments.end()});
    return 0;
}
