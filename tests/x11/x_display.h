// An X display of the test's own (Xvfb on a free display number) and the text sink window.
#pragma once

#include <memory>
#include <string>

#include "tests/support/process.h"

struct XDisplay {
    std::string name;  // ":N"
    std::unique_ptr<ChildProcess> server;
};

// Xvfb with -displayfd, which picks a free number and reports it; no server when it failed.
XDisplay start_x_display();

// The text sink (quillmark_x11_text_sink) on `display`, recording into `path`, once it has the
// input focus; nullptr when it did not get there.
std::unique_ptr<ChildProcess> start_text_sink(const XDisplay& display, const std::string& path);

std::string read_whole_file(const std::string& path);
