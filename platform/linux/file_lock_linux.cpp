#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"
#include "platform/os_error.h"
#include "platform/user_files.h"

struct LockedFile {
    int fd = -1;
};

void LockedFileClose::operator()(LockedFile* file) const {
    ::close(file->fd);  // closing the only descriptor releases the lock
    delete file;
}

Result<FileLock> try_lock_file(const std::filesystem::path& file) {
    using Out = Result<FileLock>;
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Out::failure("cannot open " + path_text(file) + ": " + os_error_text(errno));
    FileLock lock(new LockedFile{fd});
    // flock belongs to this open file, so a second open in the same process is refused too.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return FileLock();
        if (errno != EINTR) {
            return Out::failure("cannot lock " + path_text(file) + ": " + os_error_text(errno));
        }
    }
    return lock;
}
