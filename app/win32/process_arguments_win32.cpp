#include <windows.h>

#include "app/process_arguments.h"
#include "core/utf8.h"
#include "platform/win32/win32_handles.h"
#include "receiver/command_line.h"

std::vector<std::string> process_arguments() {
    std::vector<std::string> arguments =
        split_windows_command_line(utf8_from_utf16(utf16_view(GetCommandLineW())));
    if (!arguments.empty()) arguments.erase(arguments.begin());  // the program path
    return arguments;
}
