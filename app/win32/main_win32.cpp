// Entry point of the Windows receiver, a graphical-subsystem program: the window, or with
// --headless the server alone.
#include <windows.h>

#include "app/headless_output.h"
#include "app/process_arguments.h"
#include "app/startup.h"
#include "core/utf8.h"
#include "platform/win32/win32_handles.h"
#include "ui/win32/main_window.h"

namespace {

// The user sees why the receiver did not start: on the console or redirected output when
// headless and there is one, else in a message box.
int refuse_start(const CommandLine& command_line) {
    if (!command_line.headless || !write_headless_line_now(command_line.error)) {
        const std::u16string text = utf16_from_utf8(command_line.error);
        MessageBoxW(nullptr, wide(text), L"Quillmark", MB_OK | MB_ICONERROR);
    }
    return BAD_COMMAND_LINE_EXIT_CODE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CommandLine command_line = parse_command_line(process_arguments());
    if (!command_line.error.empty()) return refuse_start(command_line);
    if (!command_line.headless) {
        return run_main_window(start_receiver(command_line, nullptr), command_line.minimized);
    }
    HeadlessOutput output = open_headless_output();
    auto state = start_receiver(command_line, output.file);
    if (output.file) print_pairing_banner(*state, output.file, output.colours);
    sleep_forever();
}
