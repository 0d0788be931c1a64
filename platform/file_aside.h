// Keeping a bad file for a person to look at, out of the program's way.
#pragma once

#include <filesystem>

#include "core/result.h"

// Renames the file to "{name}.bad-{seconds since 1970}" (with a further "-2", "-3" when that
// exists) and returns the new name.
Result<std::filesystem::path> set_file_aside(const std::filesystem::path& file);
