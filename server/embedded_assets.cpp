#include "server/embedded_assets.h"

#include <algorithm>

#include "server/decoder_files.h"
#include "server/decoder_version.h"
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

// The decoder's files keep their places in the npm package, so the reader module finds the
// chunk it imports (../share.js) by its relative path. The version in the prefix lets browsers
// keep them: the bytes under one prefix never change.
#define DECODER_PREFIX "/vendor/zxing-wasm@" ZXING_WASM_VERSION "/"
constexpr std::string_view WASM = "application/wasm";
constexpr std::string_view CACHE_FOR_A_WEEK = "max-age=604800, immutable";

constexpr EmbeddedAsset DECODER_TABLE[] = {
    {DECODER_PREFIX "dist/es/reader/index.js", JAVASCRIPT, DECODER_FILE_INDEX_JS, CACHE_FOR_A_WEEK},
    {DECODER_PREFIX "dist/es/share.js", JAVASCRIPT, DECODER_FILE_SHARE_JS, CACHE_FOR_A_WEEK},
    {DECODER_PREFIX "dist/reader/zxing_reader.wasm", WASM, DECODER_FILE_ZXING_READER_WASM,
     CACHE_FOR_A_WEEK},
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
constinit const std::span<const EmbeddedAsset> DECODER_ASSETS{DECODER_TABLE};
constinit const std::string_view DECODER_PATH_PREFIX{DECODER_PREFIX};

const EmbeddedAsset* find_embedded_asset(std::string_view path) {
    std::span<const EmbeddedAsset> table =
        path.starts_with(DECODER_PATH_PREFIX) ? DECODER_ASSETS : EMBEDDED_ASSETS;
    auto found = std::find_if(table.begin(), table.end(),
                              [path](const EmbeddedAsset& asset) { return asset.path == path; });
    return found == table.end() ? nullptr : &*found;
}

std::string_view embedded_file(std::string_view file_name) {
    for (const EmbeddedFile& file : FILE_TABLE) {
        if (file.name == file_name) return file.bytes;
    }
    return {};
}
