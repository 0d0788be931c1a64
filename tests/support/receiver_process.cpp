#include "tests/support/receiver_process.h"

#include <algorithm>

#include "tests/support/net_client.h"
#include "tests/support/temporary_folder.h"

namespace {

constexpr milliseconds START_LIMIT{20000};
constexpr int START_ATTEMPTS = 3;  // another program may grab the free port first

}  // namespace

std::string listening_line(uint16_t port, bool lasting) {
    return "HTTPS listening on 0.0.0.0:" + std::to_string(port) +
           (lasting ? ". Phones that trust the Quillmark local CA connect without a warning."
                    : ". On phone, accept the self-signed certificate once.");
}

const std::filesystem::path& receiver_test_home() {
    static const TemporaryFolder home;
    return home.path;
}

std::unique_ptr<ChildProcess> spawn_receiver(uint16_t port,
                                             const std::map<std::string, std::string>& environment,
                                             const std::vector<std::string>& options) {
    // No X display unless the test gives one: scans must never be typed into the desktop of
    // whoever runs the tests.
    std::map<std::string, std::string> variables = environment;
    variables.emplace("DISPLAY", "");
    variables.emplace("HOME", receiver_test_home().string());
    variables.emplace("XDG_DATA_HOME", (receiver_test_home() / "data").string());
    variables.emplace("XDG_CONFIG_HOME", (receiver_test_home() / "config").string());
    std::vector<std::string> argv = {QUILLMARK_RECEIVER_PATH, "--headless", "-p",
                                     std::to_string(port)};
    argv.insert(argv.end(), options.begin(), options.end());
    return ChildProcess::spawn(argv, variables);
}

ReceiverProcess start_receiver_process(const std::map<std::string, std::string>& environment,
                                       const std::vector<std::string>& options) {
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        ReceiverProcess receiver;
        receiver.port = free_port();
        receiver.process = spawn_receiver(receiver.port, environment, options);
        if (!receiver.process) break;
        const bool ephemeral =
            std::find(options.begin(), options.end(), "--ephemeral-identity") != options.end();
        const std::string ready = listening_line(receiver.port, !ephemeral);
        const std::string failed = "Could not listen on port " + std::to_string(receiver.port);
        auto line = receiver.process->wait_for_line(
            [&](const std::string& text) { return text == ready || text.rfind(failed, 0) == 0; },
            START_LIMIT);
        if (line && *line == ready) return receiver;
    }
    return {};
}
