// The web files, embedded at build time and served byte for byte.
#pragma once

#include <span>
#include <string_view>

struct EmbeddedAsset {
    std::string_view path;
    std::string_view content_type;
    std::string_view bytes;
};

extern const std::span<const EmbeddedAsset> EMBEDDED_ASSETS;

const EmbeddedAsset* find_embedded_asset(std::string_view path);

// Bytes of a file of web/ by its name ("index.html"); empty when there is none.
std::string_view embedded_file(std::string_view file_name);
