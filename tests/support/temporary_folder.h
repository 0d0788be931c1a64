// A folder of its own under the system's temporary folder, removed with everything in it when
// the object goes away.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

struct TemporaryFolder {
    std::filesystem::path path;

    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillmark-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
};
