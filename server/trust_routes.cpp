#include "server/trust_routes.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "core/json_fields.h"
#include "receiver/receiver_state.h"
#include "server/certificate_parts.h"

namespace {

std::string base64(std::string_view bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string xml_escaped(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '&') {
            escaped += "&amp;";
        } else if (c == '<') {
            escaped += "&lt;";
        } else if (c == '>') {
            escaped += "&gt;";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// 32 hex digits of the fingerprint from `offset`, shaped 8-4-4-4-12: the profile keeps one
// identity for one CA, so installing it again replaces rather than adds.
std::string uuid_from_fingerprint(std::string_view fingerprint, size_t offset) {
    std::string hex;
    for (char c : fingerprint) {
        if (c != ':') hex += c;
    }
    hex = offset < hex.size() ? hex.substr(offset, 32) : std::string();
    if (hex.size() < 32) hex.resize(32, '0');
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::string common_name_of(std::string_view der) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509Ptr cert(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
    char name[256] = "Quillmark local CA";
    if (cert) {
        X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, name,
                                  sizeof name);
    }
    return name;
}

}  // namespace

std::string mobileconfig_text(std::string_view certificate_der, std::string_view common_name,
                              std::string_view fingerprint) {
    const std::string name = xml_escaped(common_name);
    std::string id_hex;
    for (char c : fingerprint.substr(0, 23)) {
        if (c != ':') id_hex += c;
    }
    const std::string identifier = "org.quillmark.local-ca." + id_hex;
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n"
           "<key>PayloadContent</key>\n<array>\n<dict>\n"
           "<key>PayloadCertificateFileName</key><string>quillmark-ca.crt</string>\n"
           "<key>PayloadContent</key><data>" +
           base64(certificate_der) +
           "</data>\n"
           "<key>PayloadDisplayName</key><string>" +
           name +
           "</string>\n"
           "<key>PayloadIdentifier</key><string>" +
           identifier +
           ".certificate</string>\n"
           "<key>PayloadType</key><string>com.apple.security.root</string>\n"
           "<key>PayloadUUID</key><string>" +
           uuid_from_fingerprint(fingerprint, 32) +
           "</string>\n"
           "<key>PayloadVersion</key><integer>1</integer>\n"
           "</dict>\n</array>\n"
           "<key>PayloadDescription</key><string>Lets this device trust the Quillmark receiver "
           "on your local network.</string>\n"
           "<key>PayloadDisplayName</key><string>" +
           name +
           "</string>\n"
           "<key>PayloadIdentifier</key><string>" +
           identifier +
           "</string>\n"
           "<key>PayloadType</key><string>Configuration</string>\n"
           "<key>PayloadUUID</key><string>" +
           uuid_from_fingerprint(fingerprint, 0) +
           "</string>\n"
           "<key>PayloadVersion</key><integer>1</integer>\n"
           "</dict>\n</plist>\n";
}

std::optional<HttpResponse> trust_response(std::string_view path, ReceiverState& state) {
    if (path == "/api/trust") {
        const bool lasting = !state.ca_fingerprint.empty();
        return HttpResponse{"200 OK", std::string(JSON_CONTENT_TYPE),
                            std::string(R"({"ok":true,"lasting":)") + (lasting ? "true" : "false") +
                                R"(,"caFingerprint":)" + json_quote(state.ca_fingerprint) + "}"};
    }
    if (state.ca_certificate.empty()) return std::nullopt;
    if (path == "/quillmark-ca.crt") {
        return HttpResponse{"200 OK", "application/x-x509-ca-cert", state.ca_certificate};
    }
    if (path == "/quillmark-ca.mobileconfig") {
        return HttpResponse{
            "200 OK", "application/x-apple-aspen-config",
            mobileconfig_text(state.ca_certificate, common_name_of(state.ca_certificate),
                              state.ca_fingerprint)};
    }
    return std::nullopt;
}
