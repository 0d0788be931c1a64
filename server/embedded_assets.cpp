#include "server/embedded_assets.h"

#include <algorithm>

#include "server/decoder_files.h"
#include "server/decoder_version.h"
#include "server/embedded_files.h"

namespace {

constexpr std::string_view HTML = "text/html; charset=utf-8";
// The browser loads the scripts as ES modules, which it refuses under a non-script type.
constexpr std::string_view JAVASCRIPT = "text/javascript; charset=utf-8";

// Every file of web/ at its path below web/, and two short names of pages.
constexpr EmbeddedAsset ASSET_TABLE[] = {
    {"/", HTML, EMBEDDED_FILE_INDEX_HTML},
    {"/about", HTML, EMBEDDED_FILE_ABOUT_HTML},
#include "server/embedded_file_rows.inc"
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
