// Entry point of the Windows receiver, a graphical-subsystem program: the window, or with
// --headless the server alone.
#include <windows.h>

#include "app/headless_output.h"
#include "app/process_arguments.h"
#include "app/startup.h"
#include "ui/main_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    CommandLine command_line = parse_command_line(process_arguments());
    if (!command_line.headless) {
        return run_main_window(start_receiver(command_line, nullptr));
    }
    HeadlessOutput output = open_headless_output();
    auto state = start_receiver(command_line, output.file);
    if (output.file) print_pairing_banner(*state, output.file, output.colours);
    sleep_forever();
}
