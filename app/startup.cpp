#include "app/startup.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "net/endpoint.h"
#include "receiver/pairing_key.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_journal.h"
#include "receiver/start_settings.h"
#include "server/lasting_identity.h"
#include "server/open_file_limit.h"
#include "server/server_start.h"

namespace {

// Puts the lasting identity's certificates and folder into the state. When it cannot be kept,
// the folder stays empty and this run makes its own self-signed certificate, as with
// --ephemeral-identity.
void open_identity(ReceiverState& state) {
    Result<std::filesystem::path> folder = identity_folder();
    Status adopted = folder.ok() ? adopt_lasting_identity(state, folder.value())
                                 : Status::failure(folder.error());
    if (adopted.ok()) {
        state.identity_folder = folder.value();
        return;
    }
    push_log_line(state, "Could not keep a lasting identity (" + adopted.error() +
                             "): this run uses a new self-signed certificate");
}

}  // namespace

std::shared_ptr<ReceiverState> start_receiver(const CommandLine& given,
                                              std::FILE* headless_output) {
    std::vector<std::string> notes;
    const StartSettings start = load_start_settings(given, notes);
    const CommandLine& command_line = start.command_line;
    auto state = new_receiver_state(command_line.settings, list_lan_adapters());
    state->log_output = headless_output;
    apply_start_settings(*state, start);
    for (std::string& note : notes) push_log_line(*state, std::move(note));
    if (!command_line.ephemeral_identity) open_identity(*state);
    if (command_line.pairing_key) {
        Result<std::string> key = pairing_key_for(*state, command_line.new_pairing_key);
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
    // Before the server: the receiver page's first streams get today's scans. The server's
    // start result stays the first line.
    std::string journal = start_scan_journal(*state, command_line.journal);
    Status started = start_server(state);
    if (!started.ok()) push_log_line(*state, started.error());
    if (headless_output) push_log_line(*state, std::move(journal));
    std::string typing = typing_settings_line(command_line.settings.typing);
    if (!typing.empty()) push_log_line(*state, std::move(typing));
    return state;
}

void print_pairing_banner(ReceiverState& state, std::FILE* output, QrTextColours colours) {
    std::string url = pairing_url(state);
    std::string text = "Pairing URL: " + url + "\n";
    if (std::string hint = trust_hint(state); !hint.empty()) {
        text += hint + "\nLocal CA fingerprint (SHA-256): " + state.ca_fingerprint + "\n";
    }
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
