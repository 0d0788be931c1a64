// Child processes for the end-to-end tests: the built receiver, curl and openssl.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

using std::chrono::milliseconds;

struct ProgramResult {
    int exit_code = -1;  // -1 when killed or not started
    bool timed_out = false;
    std::string out;
    std::string err;
};

// Runs a program (searched in PATH) to its end with `input` on its stdin. Killed by its PID
// after `timeout`.
ProgramResult run_program(const std::vector<std::string>& argv, std::string_view input = {},
                          milliseconds timeout = milliseconds(60000));

// A long-running child whose stdout is collected line by line. The destructor kills it.
class ChildProcess {
  public:
    // `environment` entries are added to (or replace those of) the test's own environment.
    static std::unique_ptr<ChildProcess> spawn(
        const std::vector<std::string>& argv,
        const std::map<std::string, std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first stdout line (seen so far or arriving within `timeout`) that matches.
    std::optional<std::string> wait_for_line(const std::function<bool(const std::string&)>& match,
                                             milliseconds timeout);
    std::optional<std::string> wait_for_line_containing(std::string_view text,
                                                        milliseconds timeout);
    // Waits until at least `count` lines match; returns every matching line.
    std::vector<std::string> wait_for_lines(const std::function<bool(const std::string&)>& match,
                                            size_t count, milliseconds timeout);
    std::vector<std::string> lines();

    bool running();
    pid_t pid() const { return pid_; }
    // SIGKILL by PID, then reaps it.
    void kill();

  private:
    struct Key {
        explicit Key() = default;
    };

  public:
    ChildProcess(Key, pid_t pid, int stdout_fd);

  private:
    void read_output(int fd);

    pid_t pid_;
    bool reaped_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool output_closed_ = false;
    std::thread reader_;
};

// What a running process holds, from /proc/{pid}: open descriptors, resident memory, threads.
struct ProcessUsage {
    size_t open_fds = 0;
    size_t resident_kib = 0;  // VmRSS
    size_t threads = 0;
};
std::optional<ProcessUsage> process_usage(pid_t pid);

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool wait_until(const std::function<bool()>& condition, milliseconds timeout,
                milliseconds interval = milliseconds(20));
