#include "bench/start_time.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "bench/loopback_client.h"
#include "bench/statistics.h"

extern char** environ;

namespace {

constexpr std::string_view LISTENING_LINE = "HTTPS listening on";
constexpr int LINE_TIMEOUT_MS = 10000;

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// A started process that is ended by its PID (SIGTERM) and reaped when this goes away.
class ChildProcess {
  public:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ~ChildProcess() {
        kill(pid_, SIGTERM);
        int status;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

  private:
    pid_t pid_;
};

std::string os_error(const char* context, int code) {
    return std::string(context) + ": " + std::strerror(code) + " (os error " +
           std::to_string(code) + ")";
}

// Reads the child's output up to the server's start result: the listening line. Lines about
// the identity may come first. Fails on a line saying the port is taken, when the output ends,
// or after LINE_TIMEOUT_MS.
Status wait_for_listening_line(int fd) {
    std::string output;
    char buffer[4096];
    for (;;) {
        for (size_t line_end; (line_end = output.find('\n')) != std::string::npos;) {
            const std::string line = output.substr(0, line_end);
            if (line.find(LISTENING_LINE) != std::string::npos) return Status::success();
            if (line.starts_with("Could not listen") || line.starts_with("Failed")) {
                return Status::failure("The receiver did not start: " + line);
            }
            output.erase(0, line_end + 1);
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, LINE_TIMEOUT_MS) <= 0) {
            return Status::failure("No listening line within 10 s; output: " + output);
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return Status::failure("The receiver ended before listening; output: " + output);
        output.append(buffer, size_t(n));
    }
}

// The environment with XDG_DATA_HOME set to `data_home` when it is not empty.
std::vector<std::string> environment_with(const std::string& data_home) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        if (data_home.empty() || !std::string_view(*entry).starts_with("XDG_DATA_HOME=")) {
            variables.emplace_back(*entry);
        }
    }
    if (!data_home.empty()) variables.push_back("XDG_DATA_HOME=" + data_home);
    return variables;
}

Result<double> one_start(const std::string& receiver, uint16_t port, const StartCase& start_case,
                         const std::string& data_home) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return Result<double>::failure(os_error("pipe", errno));
    FileDescriptor read_end(pipe_fds[0]), write_end(pipe_fds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string port_text = std::to_string(port);
    std::vector<char*> argv = {const_cast<char*>(receiver.c_str()), const_cast<char*>("--headless"),
                               const_cast<char*>("--port"), const_cast<char*>(port_text.c_str())};
    if (start_case == StartCase::ephemeral_identity) {
        argv.push_back(const_cast<char*>("--ephemeral-identity"));
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment_with(data_home);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int spawned =
        posix_spawn(&pid, receiver.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return Result<double>::failure(os_error("posix_spawn", spawned));
    ChildProcess child(pid);

    Status listening = wait_for_listening_line(read_end.get());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!listening.ok()) return Result<double>::failure(listening.error());
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

}  // namespace

Status measure_start_time(const std::string& receiver, uint16_t port, int runs,
                          StartCase start_case, std::FILE* out) {
    // A new identity each run: an empty data folder of its own, removed afterwards.
    std::string scratch;
    if (start_case == StartCase::new_identity) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillmark-start-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return Status::failure(os_error("mkdtemp", errno));
        scratch = pattern;
    }
    const auto data_home = [&](int i) {
        return scratch.empty() ? std::string() : scratch + "/" + std::to_string(i);
    };
    std::vector<double> milliseconds;
    for (int i = 0; i < runs; ++i) {
        Result<double> run = one_start(receiver, port, start_case, data_home(i));
        // A client connection of another program may have taken the port meanwhile as its own
        // local port: another free port is tried, a few times.
        for (int retry = 0; retry < 3 && !run.ok() &&
                            run.error().find("Could not listen on port") != std::string::npos;
             ++retry) {
            Result<uint16_t> other = find_free_port();
            if (!other.ok()) break;
            port = other.value();
            run = one_start(receiver, port, start_case, data_home(i));
        }
        if (!run.ok()) {
            std::error_code ignored;
            if (!scratch.empty()) std::filesystem::remove_all(scratch, ignored);
            return Status::failure("Start " + std::to_string(i) + ": " + run.error());
        }
        milliseconds.push_back(run.value());
    }
    std::error_code ignored;
    if (!scratch.empty()) std::filesystem::remove_all(scratch, ignored);
    std::fprintf(out, "start_median_ms %.3f\nstart_min_ms %.3f\nstart_max_ms %.3f\n",
                 percentile(milliseconds, 50), percentile(milliseconds, 0.0001),
                 percentile(milliseconds, 100));
    return Status::success();
}
