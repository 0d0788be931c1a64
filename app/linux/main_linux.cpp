// Entry point of the Linux receiver: always headless, since there is no window on Linux. Scans
// are typed and copied on the X display when there is one.
#include <cstdio>

#include <unistd.h>

#include "app/startup.h"
#include "desktop/x11/x11_desktop.h"
#include "platform/socket.h"
#include "receiver/receiver_state.h"

int main(int argc, char** argv) {
    (void)prepare_sockets();  // a client that vanishes must never end the process
    CommandLine command_line = parse_command_line({argv + 1, argv + argc});
    if (!command_line.error.empty()) {
        std::fprintf(stderr, "%s\n", command_line.error.c_str());
        return BAD_COMMAND_LINE_EXIT_CODE;
    }
    auto state = start_receiver(command_line, stdout);
    if (auto off = start_x11_desktop()) push_log_line(*state, *off);
    // Explicit colours on a terminal, whatever its theme; plain blocks when piped to a file.
    bool terminal = isatty(fileno(stdout));
    print_pairing_banner(*state, stdout, terminal ? QrTextColours::ansi : QrTextColours::plain);
    sleep_forever();
}
