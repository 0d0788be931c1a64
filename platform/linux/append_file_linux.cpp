#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_file.h"
#include "platform/linux/write_all.h"
#include "platform/os_error.h"
#include "platform/user_files.h"

struct AppendFile::Native {
    int fd = -1;
};

AppendFile::AppendFile(std::unique_ptr<Native> native, std::filesystem::path path, uint64_t size)
    : native_(std::move(native)), path_(std::move(path)), size_at_open_(size) {}

AppendFile::~AppendFile() {
    ::close(native_->fd);
}

Result<std::unique_ptr<AppendFile>> AppendFile::open(const std::filesystem::path& file) {
    using Out = Result<std::unique_ptr<AppendFile>>;
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Out::failure("cannot open " + path_text(file) + ": " + os_error_text(errno));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return Out::failure("cannot open " + path_text(file) + ": " + os_error_text(code));
    }
    auto native = std::make_unique<Native>();
    native->fd = fd;
    return std::make_unique<AppendFile>(std::move(native), file,
                                        static_cast<uint64_t>(info.st_size));
}

Status AppendFile::append(std::string_view bytes) {
    if (const int code = write_all(native_->fd, bytes)) {
        return Status::failure("cannot write " + path_text(path_) + ": " + os_error_text(code));
    }
    return Status::success();
}
