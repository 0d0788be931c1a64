// The embedded bytes of one file of web/, for tests that compare what is served.
#pragma once

#include <string_view>

// Bytes of a file of web/ by its path below web/ ("index.html", "scan/camera.js"); empty when
// there is none.
std::string_view embedded_file(std::string_view file_name);
