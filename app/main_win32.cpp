// Entry point of the Windows receiver, a graphical-subsystem program: the window, or with
// --headless the server alone.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "app/process_arguments.h"
#include "app/startup.h"
#include "ui/main_window.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// A graphical program starts without a console. Headless, the pairing URL, its QR code and
// the log go where the user can see them: to standard output when the parent redirected it,
// else to the console of the parent (a command prompt), else nowhere.
struct HeadlessOutput {
    std::FILE* file = nullptr;
    QrTextColours colours = QrTextColours::plain;
    std::unique_ptr<std::FILE, FileCloser> discard;  // "NUL" when there is no place to show
};

// Colour escapes need the console's virtual-terminal mode.
bool enable_terminal_colours() {
    auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

HeadlessOutput open_headless_output() {
    HeadlessOutput output;
    HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    if (inherited != nullptr && inherited != INVALID_HANDLE_VALUE &&
        GetFileType(inherited) != FILE_TYPE_UNKNOWN) {
        output.file = stdout;  // a file or pipe given by the parent; the C runtime has it open
        return output;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS) && std::freopen("CONOUT$", "w", stdout)) {
        std::freopen("CONOUT$", "w", stderr);
        SetConsoleOutputCP(CP_UTF8);  // log lines and the QR blocks are UTF-8
        output.file = stdout;
        if (enable_terminal_colours()) output.colours = QrTextColours::ansi;
        return output;
    }
    // Nobody can read the log: drop the lines rather than queue them for a window that
    // never comes.
    output.discard.reset(std::fopen("NUL", "w"));
    output.file = output.discard.get();
    return output;
}

}  // namespace

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
