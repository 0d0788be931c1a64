// What phones fetch to trust the receiver's local CA: its certificate for Android, an Apple
// configuration profile holding it, and its fingerprint for the trust page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "server/http.h"

struct ReceiverState;

// "/quillmark-ca.crt" (DER), "/quillmark-ca.mobileconfig" and "/api/trust"; nullopt for any
// other path, and for the first two when the receiver has no lasting identity.
std::optional<HttpResponse> trust_response(std::string_view path, ReceiverState& state);

// An unsigned configuration profile with one root-certificate payload: the DER certificate
// named `common_name`, identified by its SHA-256 fingerprint ("AB:CD:...").
std::string mobileconfig_text(std::string_view certificate_der, std::string_view common_name,
                              std::string_view fingerprint);
