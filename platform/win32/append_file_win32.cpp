#include <windows.h>

#include "platform/append_file.h"
#include "platform/os_error.h"
#include "platform/user_files.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/write_all.h"

struct AppendFile::Native {
    UniqueHandle handle;
};

AppendFile::AppendFile(std::unique_ptr<Native> native, std::filesystem::path path, uint64_t size)
    : native_(std::move(native)), path_(std::move(path)), size_at_open_(size) {}

AppendFile::~AppendFile() = default;

Result<std::unique_ptr<AppendFile>> AppendFile::open(const std::filesystem::path& file) {
    using Out = Result<std::unique_ptr<AppendFile>>;
    // Append-only access: every write lands at the end, as with O_APPEND.
    UniqueHandle handle = owned_handle(
        CreateFileW(file.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!handle || !GetFileSizeEx(handle.get(), &size)) {
        return Out::failure("cannot open " + path_text(file) + ": " +
                            os_error_text(static_cast<int>(GetLastError())));
    }
    auto native = std::make_unique<Native>();
    native->handle = std::move(handle);
    return std::make_unique<AppendFile>(std::move(native), file,
                                        static_cast<uint64_t>(size.QuadPart));
}

Status AppendFile::append(std::string_view bytes) {
    if (const DWORD code = write_all(native_->handle.get(), bytes)) {
        return Status::failure("cannot write " + path_text(path_) + ": " +
                               os_error_text(static_cast<int>(code)));
    }
    return Status::success();
}
