// The built receiver, started headless on a free port for one test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

struct ReceiverProcess {
    uint16_t port = 0;
    std::unique_ptr<ChildProcess> process;
};

// "HTTPS listening on 0.0.0.0:{port}. Phones that trust the Quillmark local CA connect without
// a warning.", or with `lasting` false (--ephemeral-identity) "... On phone, accept the
// self-signed certificate once."
std::string listening_line(uint16_t port, bool lasting = true);

// HOME of every receiver this test process starts (XDG_DATA_HOME and XDG_CONFIG_HOME are its
// data/ and config/), unless the test's environment names its own: a temporary folder,
// removed at exit, so that no test writes into the user's own folders.
const std::filesystem::path& receiver_test_home();

// Starts `quillmark-receiver --headless -p <free port> <options>` and waits for its listening
// line (the ephemeral one when `options` hold --ephemeral-identity). DISPLAY is empty unless
// `environment` names one; HOME, XDG_DATA_HOME and XDG_CONFIG_HOME are folders of the test's
// own unless it names them. Returns a ReceiverProcess without a process when it did not come up.
ReceiverProcess start_receiver_process(const std::map<std::string, std::string>& environment = {},
                                       const std::vector<std::string>& options = {});

// Starts the receiver on a given port without waiting for anything.
std::unique_ptr<ChildProcess> spawn_receiver(
    uint16_t port, const std::map<std::string, std::string>& environment = {},
    const std::vector<std::string>& options = {});
