#include "app/startup.h"

#include <chrono>
#include <string>
#include <thread>

#include "net/endpoint.h"
#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "receiver/start_settings.h"
#include "server/open_file_limit.h"
#include "server/server_start.h"

std::shared_ptr<ReceiverState> start_receiver(const CommandLine& given,
                                              std::FILE* headless_output) {
    std::vector<std::string> notes;
    const StartSettings start = load_start_settings(given, notes);
    const CommandLine& command_line = start.command_line;
    auto state = new_receiver_state(command_line.settings, list_lan_adapters());
    state->log_output = headless_output;
    apply_start_settings(*state, start);
    for (std::string& note : notes) push_log_line(*state, std::move(note));
    if (command_line.pairing_key) {
        Result<std::string> key = new_pairing_key();
        if (!key.ok()) {
            push_log_line(*state, key.error());  // never serve unguarded when a key was asked
            return state;
        }
        state->pairing_key = std::move(key.value());
    }
    if (std::optional<std::string> note =
            fit_connections_to_open_file_limit(raise_open_file_limit())) {
        push_log_line(*state, std::move(*note));
    }
    Status started = start_server(state);
    if (!started.ok()) push_log_line(*state, started.error());
    std::string typing = typing_settings_line(command_line.settings.typing);
    if (!typing.empty()) push_log_line(*state, std::move(typing));
    return state;
}

void print_pairing_banner(ReceiverState& state, std::FILE* output, QrTextColours colours) {
    std::string url = pairing_url(state);
    std::string text = "Pairing URL: " + url + "\n";
    Result<QrGrid> code = encode_qr(url);
    if (code.ok()) {
        text += "Open it on the phone by scanning this code with its camera:\n" +
                render_qr_text(code.value(), colours) + "\n";
    }
    std::fwrite(text.data(), 1, text.size(), output);
    std::fflush(output);
}

void sleep_forever() {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(3600));
}
