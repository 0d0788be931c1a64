// The current user's own folders and files: where the receiver keeps what lasts between runs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/result.h"

// Quillmark's data folder: %LOCALAPPDATA%\Quillmark on Windows; $XDG_DATA_HOME/quillmark on
// Linux, or ~/.local/share/quillmark when XDG_DATA_HOME is unset or not absolute.
// Not created here.
Result<std::filesystem::path> user_data_folder();

// Quillmark's settings folder on Linux: $XDG_CONFIG_HOME/quillmark, or ~/.config/quillmark.
// On Windows, %APPDATA%\Quillmark (settings themselves live in the registry there).
Result<std::filesystem::path> user_config_folder();

// Creates the folder and its missing parents; on Linux the folders it creates are 0700.
Status make_private_folder(const std::filesystem::path& folder);

// Replaces the file's whole content at once: the bytes go to a temporary file beside it,
// which is flushed and renamed over the target, so a reader sees the old or the new file,
// never a part. On Linux the file is 0600.
Status write_file_atomically(const std::filesystem::path& file, std::string_view bytes);

// ".tmp-" and 16 random hex digits: a name for a file about to be renamed into place, which two
// processes writing the same file never share.
std::string temporary_suffix();

// The file's whole content.
Result<std::string> read_whole_file(const std::filesystem::path& file);

// The path as UTF-8 text, for log lines.
std::string path_text(const std::filesystem::path& path);
