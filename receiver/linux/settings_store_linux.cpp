#include <filesystem>
#include <system_error>

#include "platform/user_files.h"
#include "receiver/settings_store.h"

namespace {

Result<std::filesystem::path> settings_file() {
    Result<std::filesystem::path> folder = user_config_folder();
    if (!folder.ok()) return folder;
    return folder.value() / "receiver.conf";
}

Status write_settings_file(const std::filesystem::path& file, std::string_view text) {
    if (Status made = make_private_folder(file.parent_path()); !made.ok()) return made;
    return write_file_atomically(file, text);
}

}  // namespace

SavedValues load_saved_values(std::vector<std::string>& problems) {
    const Result<std::filesystem::path> file = settings_file();
    if (!file.ok()) {
        problems.push_back("Could not find the settings file: " + file.error());
        return {};
    }
    std::error_code error;
    if (!std::filesystem::exists(file.value(), error) && !error) {
        Status written = write_settings_file(file.value(), settings_file_text(saved_values_of({})));
        if (!written.ok()) problems.push_back("Could not save the settings: " + written.error());
        return {};
    }
    Result<std::string> text = read_whole_file(file.value());
    if (!text.ok()) {
        problems.push_back("Could not read the settings: " + text.error());
        return {};
    }
    return parse_settings_file(text.value(), path_text(file.value()), problems);
}

Status save_saved_value(std::string_view name, std::string_view value) {
    const Result<std::filesystem::path> file = settings_file();
    if (!file.ok()) return Status::failure(file.error());
    std::string text;
    std::error_code error;
    if (std::filesystem::exists(file.value(), error)) {
        Result<std::string> read = read_whole_file(file.value());
        if (!read.ok()) return Status::failure(read.error());
        text = std::move(read.value());
    }
    return write_settings_file(file.value(), settings_file_with_value(text, name, value));
}
