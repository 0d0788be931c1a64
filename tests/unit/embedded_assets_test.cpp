#include "server/embedded_assets.h"

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

// clang-format off
constexpr Expected TABLE[] = {
    {"/", "index.html", "text/html; charset=utf-8"},
    {"/index.html", "index.html", "text/html; charset=utf-8"},
    {"/styles.css", "styles.css", "text/css; charset=utf-8"},
    {"/app.js", "app.js", "text/javascript; charset=utf-8"},
    {"/scanner.js", "scanner.js", "text/javascript; charset=utf-8"},
    {"/consensus.js", "consensus.js", "text/javascript; charset=utf-8"},
    {"/share.js", "share.js", "text/javascript; charset=utf-8"},
    {"/relay.js", "relay.js", "text/javascript; charset=utf-8"},
    {"/outbox.js", "outbox.js", "text/javascript; charset=utf-8"},
    {"/receiver.html", "receiver.html", "text/html; charset=utf-8"},
    {"/about.html", "about.html", "text/html; charset=utf-8"},
    {"/about", "about.html", "text/html; charset=utf-8"},
};
// clang-format on

TEST(EmbeddedAssets, EveryPathServesItsFileByteForByte) {
    ASSERT_EQ(EMBEDDED_ASSETS.size(), std::size(TABLE)) << "nothing else may be served";
    for (const Expected& row : TABLE) {
        SCOPED_TRACE(std::string(row.path));
        const EmbeddedAsset* asset = find_embedded_asset(row.path);
        ASSERT_NE(asset, nullptr);
        EXPECT_EQ(asset->content_type, row.content_type);
        const std::string disk = file_on_disk(std::string(row.file));
        EXPECT_FALSE(disk.empty());
        EXPECT_EQ(asset->bytes, disk);
        EXPECT_EQ(embedded_file(row.file), disk);
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
