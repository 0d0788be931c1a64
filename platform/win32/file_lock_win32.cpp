#include <windows.h>

#include "platform/file_lock.h"
#include "platform/os_error.h"
#include "platform/user_files.h"
#include "platform/win32/win32_handles.h"

struct LockedFile {
    UniqueHandle handle;
};

void LockedFileClose::operator()(LockedFile* file) const {
    delete file;  // closing the handle releases the lock
}

Result<FileLock> try_lock_file(const std::filesystem::path& file) {
    using Out = Result<FileLock>;
    UniqueHandle handle = owned_handle(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        return Out::failure("cannot open " + path_text(file) + ": " +
                            os_error_text(static_cast<int>(GetLastError())));
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &whole)) {
        const DWORD code = GetLastError();
        if (code == ERROR_LOCK_VIOLATION) return FileLock();
        return Out::failure("cannot lock " + path_text(file) + ": " +
                            os_error_text(static_cast<int>(code)));
    }
    return FileLock(new LockedFile{std::move(handle)});
}
