#include <windows.h>

#include "app/process_arguments.h"
#include "receiver/command_line.h"
#include "core/utf8.h"

std::vector<std::string> process_arguments() {
    const auto* command_line = reinterpret_cast<const char16_t*>(GetCommandLineW());
    std::vector<std::string> arguments = split_windows_command_line(utf8_from_utf16(command_line));
    if (!arguments.empty()) arguments.erase(arguments.begin());  // the program path
    return arguments;
}
