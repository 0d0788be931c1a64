// Where the saved settings live: the registry key HKCU\Software\Quillmark\Receiver on Windows
// (one value per setting), the file receiver.conf in the user's settings folder on Linux.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "receiver/saved_settings.h"

// Every saved value; none when nothing is saved yet. What cannot be read is left out with one
// log line in `problems`. On Linux a missing file is written with every setting at its default,
// so that there is one to edit.
SavedValues load_saved_values(std::vector<std::string>& problems);

// Saves one setting's value at once.
Status save_saved_value(std::string_view name, std::string_view value);
