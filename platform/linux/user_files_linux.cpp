#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/environment_variables.h"
#include "platform/linux/write_all.h"
#include "platform/os_error.h"
#include "platform/user_files.h"

namespace {

// $NAME when it is an absolute path (the XDG rule), else ~/FALLBACK.
Result<std::filesystem::path> xdg_folder(const char* name, const char* fallback) {
    if (auto value = read_environment_variable(name);
        value && !value->empty() && (*value)[0] == '/') {
        return std::filesystem::path(*value) / "quillmark";
    }
    auto home = read_environment_variable("HOME");
    if (!home || home->empty()) {
        return Result<std::filesystem::path>::failure(std::string("neither ") + name +
                                                      " nor HOME is set");
    }
    return std::filesystem::path(*home) / fallback / "quillmark";
}

Status failure(const std::string& what, const std::filesystem::path& path, int code) {
    return Status::failure(what + " " + path_text(path) + ": " + os_error_text(code));
}

}  // namespace

Result<std::filesystem::path> user_data_folder() {
    return xdg_folder("XDG_DATA_HOME", ".local/share");
}

Result<std::filesystem::path> user_config_folder() {
    return xdg_folder("XDG_CONFIG_HOME", ".config");
}

Status make_private_folder(const std::filesystem::path& folder) {
    std::filesystem::path built;
    for (const auto& part : folder) {
        built /= part;
        if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) {
            return failure("cannot create folder", built, errno);
        }
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return failure("cannot open folder", folder, errno);
    if (!S_ISDIR(info.st_mode)) return Status::failure(path_text(folder) + " is not a folder");
    return Status::success();
}

Status write_file_atomically(const std::filesystem::path& file, std::string_view bytes) {
    // A random temporary name: two processes writing the same file never share one.
    std::filesystem::path temporary = file;
    temporary += temporary_suffix();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return failure("cannot create", temporary, errno);
    if (const int code = write_all(fd, bytes)) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return failure("cannot write", temporary, code);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return failure("cannot write", temporary, code);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return failure("cannot replace", file, code);
    }
    return Status::success();
}
