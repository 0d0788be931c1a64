#include "tests/x11/x_display.h"

#include <fstream>
#include <sstream>

namespace {

constexpr milliseconds START_LIMIT{30000};

}  // namespace

XDisplay start_x_display() {
    XDisplay display;
    // Standard output is the pipe the test reads, so the number arrives as its first line.
    display.server = ChildProcess::spawn(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    if (!display.server) return {};
    auto number =
        display.server->wait_for_line([](const std::string&) { return true; }, START_LIMIT);
    if (!number || number->empty()) return {};
    display.name = ":" + *number;
    return display;
}

std::unique_ptr<ChildProcess> start_text_sink(const XDisplay& display, const std::string& path) {
    auto sink = ChildProcess::spawn({QUILLMARK_TEXT_SINK_PATH, path}, {{"DISPLAY", display.name}});
    if (!sink || !sink->wait_for_line_containing("ready", START_LIMIT)) return nullptr;
    return sink;
}

std::string read_whole_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}
