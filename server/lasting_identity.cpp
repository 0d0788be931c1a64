#include "server/lasting_identity.h"

#include "net/endpoint.h"
#include "platform/user_files.h"
#include "receiver/receiver_state.h"
#include "server/identity_store.h"
#include "server/tls_identity.h"

Result<std::filesystem::path> identity_folder() {
    auto data = user_data_folder();
    if (!data.ok()) return data;
    return data.value() / "identity";
}

Status adopt_lasting_identity(ReceiverState& state, const std::filesystem::path& folder) {
    const std::string host = host_display_name();
    std::vector<std::string> log;
    auto identity =
        open_lasting_identity(folder, host, tls_san_names(host, current_adapters(state)), log);
    for (std::string& line : log) push_log_line(state, std::move(line));
    if (!identity.ok()) return Status::failure(identity.error());
    state.tls_certificate_pem = std::move(identity.value().server_certificate_pem);
    state.tls_key_pem = std::move(identity.value().server_key_pem);
    state.ca_certificate = std::move(identity.value().ca_certificate_der);
    state.ca_fingerprint = std::move(identity.value().ca_fingerprint);
    return Status::success();
}
