#include "server/app_routes.h"

#include "core/json_fields.h"
#include "core/text_codes.h"
#include "core/version.h"
#include "server/app_icon_files.h"
#include "server/embedded_assets.h"

namespace {

constexpr std::string_view PNG = "image/png";
// The scanner page's own theme colour (dark).
constexpr std::string_view THEME_COLOUR = "#0b1018";

std::string percent_encoded(std::string_view text) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += HEX[c >> 4];
            encoded += HEX[c & 15];
        }
    }
    return encoded;
}

}  // namespace

std::string web_manifest_text(std::string_view pairing) {
    const std::string start = pairing.empty() ? "/" : "/?pc=" + percent_encoded(pairing);
    return R"({"name":"Quillmark","short_name":"Quillmark","start_url":)" + json_quote(start) +
           R"(,"scope":"/","display":"standalone","background_color":")" +
           std::string(THEME_COLOUR) + R"(","theme_color":")" + std::string(THEME_COLOUR) +
           R"(","icons":[{"src":"/icon-192.png","sizes":"192x192","type":"image/png"},)"
           R"({"src":"/icon-512.png","sizes":"512x512","type":"image/png","purpose":"any"}]})";
}

std::string app_shell_text(std::string_view version) {
    std::string files;
    const auto add = [&files](std::string_view path) {
        if (!files.empty()) files += ',';
        files += json_quote(path);
    };
    for (const EmbeddedAsset& asset : EMBEDDED_ASSETS) add(asset.path);
    for (const EmbeddedAsset& asset : DECODER_ASSETS) add(asset.path);
    add("/icon-192.png");
    add("/icon-512.png");
    return R"({"version":)" + json_quote(version) + R"(,"files":[)" + files + "]}";
}

std::optional<HttpResponse> app_response(const HttpRequest& request) {
    if (request.path == "/manifest.webmanifest") {
        const std::string pairing = query_member(request.query, "pc").value_or("");
        return HttpResponse{"200 OK", "application/manifest+json", web_manifest_text(pairing)};
    }
    if (request.path == "/app-shell.json") {
        static const std::string shell = app_shell_text(RECEIVER_VERSION);  // fixed per build
        return HttpResponse{"200 OK", std::string(JSON_CONTENT_TYPE), shell};
    }
    if (request.path == "/icon-192.png") {
        return HttpResponse{"200 OK", std::string(PNG), std::string(APP_ICON_ICON_192_PNG)};
    }
    if (request.path == "/icon-512.png") {
        return HttpResponse{"200 OK", std::string(PNG), std::string(APP_ICON_ICON_512_PNG)};
    }
    return std::nullopt;
}
