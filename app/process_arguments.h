// The process's own arguments on Windows, where the entry point receives no argument list.
#pragma once

#include <string>
#include <vector>

// GetCommandLineW as UTF-8, split by the Windows rules, without the program path.
std::vector<std::string> process_arguments();
