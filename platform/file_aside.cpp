#include "platform/file_aside.h"

#include <ctime>
#include <string>
#include <system_error>

#include "platform/user_files.h"

Result<std::filesystem::path> set_file_aside(const std::filesystem::path& file) {
    using Out = Result<std::filesystem::path>;
    const std::string stamp = ".bad-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    std::filesystem::path aside = file;
    aside += stamp;
    std::error_code error;
    for (int n = 2; std::filesystem::exists(aside, error); ++n) {
        aside = file;
        aside += stamp + "-" + std::to_string(n);
    }
    std::filesystem::rename(file, aside, error);
    if (error) return Out::failure("cannot rename " + path_text(file) + ": " + error.message());
    return aside;
}
