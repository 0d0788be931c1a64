// The web files, embedded at build time and served byte for byte.
#pragma once

#include <span>
#include <string_view>

struct EmbeddedAsset {
    std::string_view path;
    std::string_view content_type;
    std::string_view bytes;
    // The pages must never be cached: a new receiver may serve new ones at the same paths.
    std::string_view cache_control = "no-store";
};

// The pages of web/.
extern const std::span<const EmbeddedAsset> EMBEDDED_ASSETS;
// The scanner page's barcode decoder (zxing-wasm, the version the build pinned), all under
// DECODER_PATH_PREFIX ("/vendor/zxing-wasm@<version>/"), cached by browsers.
extern const std::span<const EmbeddedAsset> DECODER_ASSETS;
extern const std::string_view DECODER_PATH_PREFIX;

// A page of web/ or a file of the decoder; nullptr for any other path.
const EmbeddedAsset* find_embedded_asset(std::string_view path);
