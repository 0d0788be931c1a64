#include "platform/user_files.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/secure_random.h"

std::string temporary_suffix() {
    unsigned char bytes[8] = {};
    // Should the random source fail, the name is all zeros: the exclusive create then fails
    // on a clash instead of mixing two writers' bytes.
    (void)fill_secure_random(bytes, sizeof bytes);
    static constexpr char digits[] = "0123456789abcdef";
    std::string suffix = ".tmp-";
    for (unsigned char byte : bytes) {
        suffix += digits[byte >> 4];
        suffix += digits[byte & 15];
    }
    return suffix;
}

Result<std::string> read_whole_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Result<std::string>::failure("cannot open " + path_text(file));
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return Result<std::string>::failure("cannot read " + path_text(file));
    return bytes;
}

std::string path_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
