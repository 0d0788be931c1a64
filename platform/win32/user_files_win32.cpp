#include <windows.h>

#include <system_error>

#include "platform/environment_variables.h"
#include "platform/os_error.h"
#include "platform/user_files.h"
#include "platform/win32/win32_handles.h"
#include "platform/win32/write_all.h"

namespace {

Result<std::filesystem::path> known_folder(const char* variable) {
    auto value = read_environment_variable(variable);
    if (!value || value->empty()) {
        return Result<std::filesystem::path>::failure(std::string(variable) + " is not set");
    }
    return std::filesystem::path(std::u8string(value->begin(), value->end())) / "Quillmark";
}

Status failure(const std::string& what, const std::filesystem::path& path, DWORD code) {
    return Status::failure(what + " " + path_text(path) + ": " +
                           os_error_text(static_cast<int>(code)));
}

}  // namespace

Result<std::filesystem::path> user_data_folder() {
    return known_folder("LOCALAPPDATA");
}

Result<std::filesystem::path> user_config_folder() {
    return known_folder("APPDATA");
}

Status make_private_folder(const std::filesystem::path& folder) {
    // The user's profile folders are already private to the user on Windows.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return Status::failure("cannot create folder " + path_text(folder) + ": " +
                               error.message());
    if (!std::filesystem::is_directory(folder, error)) {
        return Status::failure(path_text(folder) + " is not a folder");
    }
    return Status::success();
}

Status write_file_atomically(const std::filesystem::path& file, std::string_view bytes) {
    std::filesystem::path temporary = file;
    temporary += temporary_suffix();
    UniqueHandle handle = owned_handle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return failure("cannot create", temporary, GetLastError());
    if (const DWORD code = write_all(handle.get(), bytes)) {
        handle.reset();
        DeleteFileW(temporary.c_str());
        return failure("cannot write", temporary, code);
    }
    if (!FlushFileBuffers(handle.get())) {
        const DWORD code = GetLastError();
        handle.reset();
        DeleteFileW(temporary.c_str());
        return failure("cannot write", temporary, code);
    }
    handle.reset();
    if (!MoveFileExW(temporary.c_str(), file.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        DeleteFileW(temporary.c_str());
        return failure("cannot replace", file, code);
    }
    return Status::success();
}
