#include "tests/support/embedded_file.h"

#include "server/embedded_assets.h"

std::string_view embedded_file(std::string_view file_name) {
    if (file_name.empty() || file_name.starts_with('/')) return {};
    for (const EmbeddedAsset& asset : EMBEDDED_ASSETS) {
        if (asset.path.substr(1) == file_name) return asset.bytes;
    }
    return {};
}
