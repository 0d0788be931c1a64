#include "server/embedded_assets.h"

#include <algorithm>

#include "server/embedded_files.h"

namespace {

constexpr std::string_view HTML = "text/html; charset=utf-8";
constexpr std::string_view CSS = "text/css; charset=utf-8";
// The browser loads the scripts as ES modules, which it refuses under a non-script type.
constexpr std::string_view JAVASCRIPT = "text/javascript; charset=utf-8";

constexpr EmbeddedAsset ASSET_TABLE[] = {
    {"/", HTML, EMBEDDED_FILE_INDEX_HTML},
    {"/index.html", HTML, EMBEDDED_FILE_INDEX_HTML},
    {"/styles.css", CSS, EMBEDDED_FILE_STYLES_CSS},
    {"/app.js", JAVASCRIPT, EMBEDDED_FILE_APP_JS},
    {"/scanner.js", JAVASCRIPT, EMBEDDED_FILE_SCANNER_JS},
    {"/consensus.js", JAVASCRIPT, EMBEDDED_FILE_CONSENSUS_JS},
    {"/share.js", JAVASCRIPT, EMBEDDED_FILE_SHARE_JS},
    {"/relay.js", JAVASCRIPT, EMBEDDED_FILE_RELAY_JS},
    {"/outbox.js", JAVASCRIPT, EMBEDDED_FILE_OUTBOX_JS},
    {"/receiver.html", HTML, EMBEDDED_FILE_RECEIVER_HTML},
    {"/about.html", HTML, EMBEDDED_FILE_ABOUT_HTML},
    {"/about", HTML, EMBEDDED_FILE_ABOUT_HTML},
};

struct EmbeddedFile {
    std::string_view name;
    std::string_view bytes;
};

constexpr EmbeddedFile FILE_TABLE[] = {
    {"index.html", EMBEDDED_FILE_INDEX_HTML},
    {"about.html", EMBEDDED_FILE_ABOUT_HTML},
    {"receiver.html", EMBEDDED_FILE_RECEIVER_HTML},
    {"styles.css", EMBEDDED_FILE_STYLES_CSS},
    {"app.js", EMBEDDED_FILE_APP_JS},
    {"scanner.js", EMBEDDED_FILE_SCANNER_JS},
    {"consensus.js", EMBEDDED_FILE_CONSENSUS_JS},
    {"share.js", EMBEDDED_FILE_SHARE_JS},
    {"relay.js", EMBEDDED_FILE_RELAY_JS},
    {"outbox.js", EMBEDDED_FILE_OUTBOX_JS},
};

}  // namespace

constinit const std::span<const EmbeddedAsset> EMBEDDED_ASSETS{ASSET_TABLE};

const EmbeddedAsset* find_embedded_asset(std::string_view path) {
    auto found = std::find_if(std::begin(ASSET_TABLE), std::end(ASSET_TABLE),
                              [path](const EmbeddedAsset& asset) { return asset.path == path; });
    return found == std::end(ASSET_TABLE) ? nullptr : found;
}

std::string_view embedded_file(std::string_view file_name) {
    for (const EmbeddedFile& file : FILE_TABLE) {
        if (file.name == file_name) return file.bytes;
    }
    return {};
}
