#include "server/embedded_assets.h"

#include "tests/support/embedded_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// web/ of the source tree this test was compiled from.
const std::filesystem::path WEB_DIR =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "web";

std::string file_on_disk(const std::string& name) {
    std::ifstream in(WEB_DIR / name, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << (WEB_DIR / name);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Expected {
    std::string_view path, file, content_type;
};

// The pages and the style sheet by name, and the two short names.
// clang-format off
constexpr Expected TABLE[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/index.html", "index.html", "text/html; charset=utf-8"},
    {"/styles.css", "styles.css", "text/css; charset=utf-8"},
    {"/receiver.html", "receiver.html", "text/html; charset=utf-8"},
    {"/about.html", "about.html", "text/html; charset=utf-8"},
    {"/about", "about.html", "text/html; charset=utf-8"},
};
// clang-format on

void expect_served(const Expected& row) {
    SCOPED_TRACE(std::string(row.path));
    const EmbeddedAsset* asset = find_embedded_asset(row.path);
    ASSERT_NE(asset, nullptr);
    EXPECT_EQ(asset->content_type, row.content_type);
    const std::string disk = file_on_disk(std::string(row.file));
    EXPECT_FALSE(disk.empty());
    EXPECT_EQ(asset->bytes, disk);
    EXPECT_EQ(embedded_file(row.file), disk);
}

TEST(EmbeddedAssets, EveryPathServesItsFileByteForByte) {
    for (const Expected& row : TABLE) expect_served(row);
    // Every page, style sheet and module of web/, at its path below web/, and nothing else.
    size_t web_files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(WEB_DIR)) {
        const std::string extension = entry.path().extension().string();
        const char* type = extension == ".html"  ? "text/html; charset=utf-8"
                           : extension == ".css" ? "text/css; charset=utf-8"
                           : extension == ".js"  ? "text/javascript; charset=utf-8"
                                                 : nullptr;
        if (!entry.is_regular_file() || type == nullptr) continue;
        const std::string file = entry.path().lexically_relative(WEB_DIR).generic_string();
        expect_served({"/" + file, file, type});
        ++web_files;
    }
    EXPECT_GE(web_files, 10u);
    EXPECT_EQ(EMBEDDED_ASSETS.size(), web_files + 2) << "nothing else may be served";
    EXPECT_EQ(find_embedded_asset("/package.json"), nullptr);
}

TEST(EmbeddedAssets, DecoderFilesAreCachedUnlikeThePages) {
    const std::string prefix(DECODER_PATH_PREFIX);
    ASSERT_TRUE(prefix.starts_with("/vendor/zxing-wasm@") && prefix.ends_with("/")) << prefix;
    // clang-format off
    const Expected decoder[] = {
        {"dist/es/reader/index.js", "", "text/javascript; charset=utf-8"},
        {"dist/es/share.js", "", "text/javascript; charset=utf-8"},  // imported by the reader
        {"dist/reader/zxing_reader.wasm", "", "application/wasm"},
    };
    // clang-format on
    ASSERT_EQ(DECODER_ASSETS.size(), std::size(decoder)) << "only what the page loads";
    for (const Expected& row : decoder) {
        const EmbeddedAsset* asset = find_embedded_asset(prefix + std::string(row.path));
        ASSERT_NE(asset, nullptr) << row.path;
        EXPECT_EQ(asset->content_type, row.content_type);
        EXPECT_EQ(asset->cache_control, "max-age=604800, immutable");
        EXPECT_GT(asset->bytes.size(), 1000u);
    }
    EXPECT_TRUE(find_embedded_asset(prefix + "dist/reader/zxing_reader.wasm")
                    ->bytes.starts_with(std::string_view("\0asm", 4)));
    for (const EmbeddedAsset& page : EMBEDDED_ASSETS) EXPECT_EQ(page.cache_control, "no-store");
    for (const std::string& path :
         {prefix, prefix + "package.json", prefix + "dist/es/reader/", prefix + "dist/es/share.js/",
          prefix + "dist/es/reader/../share.js", std::string("/vendor/dist/es/share.js")}) {
        EXPECT_EQ(find_embedded_asset(path), nullptr) << path;
    }
}

TEST(EmbeddedAssets, UnknownNamesFindNothing) {
    for (std::string_view path : {"", "/about/", "/index.htm", "/web/index.html", "index.html"}) {
        EXPECT_EQ(find_embedded_asset(path), nullptr) << path;
    }
    EXPECT_TRUE(embedded_file("").empty());
    EXPECT_TRUE(embedded_file("/index.html").empty());
    EXPECT_TRUE(embedded_file("favicon.ico").empty());
}

}  // namespace
