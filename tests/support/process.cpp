#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace {

using SteadyClock = std::chrono::steady_clock;

// An owned pipe end.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int value) : fd(value) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd = std::exchange(other.fd, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
};

struct Pipe {
    Fd read;
    Fd write;
};

Pipe new_pipe() {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    return {Fd(fds[0]), Fd(fds[1])};
}

// A NULL-terminated char* array over owned strings, as exec wants it.
struct ArgumentArray {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    explicit ArgumentArray(std::vector<std::string> values) : texts(std::move(values)) {
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    char** data() { return pointers.data(); }
};

ArgumentArray merged_environment(const std::map<std::string, std::string>& overrides) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (!overrides.count(name)) entries.push_back(text);
    }
    for (const auto& [name, value] : overrides) entries.push_back(name + "=" + value);
    return ArgumentArray(std::move(entries));
}

// Starts argv[0] (searched in PATH) with the given pipe ends as stdin/stdout/stderr
// (-1: /dev/null for stdin, inherited for stdout and stderr). Returns the PID or -1.
pid_t spawn_with(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& environment, int in, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) {
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    ArgumentArray arguments(argv);
    ArgumentArray variables = merged_environment(environment);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv.at(0).c_str(), &actions, nullptr, arguments.data(),
                                    variables.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

int exit_code_of(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProgramResult run_program(const std::vector<std::string>& argv, std::string_view input,
                          milliseconds timeout) {
    ProgramResult result;
    Pipe in = new_pipe();
    Pipe out = new_pipe();
    Pipe err = new_pipe();
    const pid_t pid = spawn_with(argv, {}, in.read.fd, out.write.fd, err.write.fd);
    in.read.reset();
    out.write.reset();
    err.write.reset();
    if (pid < 0) {
        result.err = "could not start " + argv.at(0);
        return result;
    }
    fcntl(in.write.fd, F_SETFL, O_NONBLOCK);
    if (input.empty()) in.write.reset();

    const auto deadline = SteadyClock::now() + timeout;
    size_t written = 0;
    while (out.read.fd >= 0 || err.read.fd >= 0) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd entries[3] = {
            {out.read.fd, POLLIN, 0}, {err.read.fd, POLLIN, 0}, {in.write.fd, POLLOUT, 0}};
        if (poll(entries, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        Fd* readers[2] = {&out.read, &err.read};
        std::string* sinks[2] = {&result.out, &result.err};
        for (int i = 0; i < 2; ++i) {
            if (readers[i]->fd < 0 || !(entries[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = read(readers[i]->fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                readers[i]->reset();
            }
        }
        if (in.write.fd >= 0 && (entries[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = write(in.write.fd, input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) in.write.reset();
            if (written == input.size()) in.write.reset();
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = result.timed_out ? -1 : exit_code_of(status);
    return result;
}

std::unique_ptr<ChildProcess> ChildProcess::spawn(
    const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment) {
    Pipe out = new_pipe();
    const pid_t pid = spawn_with(argv, environment, -1, out.write.fd, -1);
    out.write.reset();
    if (pid < 0) return nullptr;
    return std::make_unique<ChildProcess>(Key(), pid, std::exchange(out.read.fd, -1));
}

ChildProcess::ChildProcess(Key, pid_t pid, int stdout_fd)
    : pid_(pid), reader_([this, stdout_fd] { read_output(stdout_fd); }) {}

ChildProcess::~ChildProcess() {
    kill();
    if (reader_.joinable()) reader_.join();
}

void ChildProcess::read_output(int fd) {
    Fd owned(fd);
    std::string partial;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        partial.append(buffer, static_cast<size_t>(n));
        std::lock_guard lock(mutex_);
        for (size_t feed; (feed = partial.find('\n')) != std::string::npos;) {
            lines_.push_back(partial.substr(0, feed));
            partial.erase(0, feed + 1);
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    if (!partial.empty()) lines_.push_back(partial);
    output_closed_ = true;
    changed_.notify_all();
}

std::vector<std::string> ChildProcess::wait_for_lines(
    const std::function<bool(const std::string&)>& match, size_t count, milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::vector<std::string> found;
    changed_.wait_for(lock, timeout, [&] {
        found.clear();
        for (const std::string& line : lines_) {
            if (match(line)) found.push_back(line);
        }
        return found.size() >= count || output_closed_;
    });
    return found;
}

std::optional<std::string> ChildProcess::wait_for_line(
    const std::function<bool(const std::string&)>& match, milliseconds timeout) {
    std::vector<std::string> found = wait_for_lines(match, 1, timeout);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::optional<std::string> ChildProcess::wait_for_line_containing(std::string_view text,
                                                                  milliseconds timeout) {
    return wait_for_line(
        [text](const std::string& line) { return line.find(text) != std::string::npos; }, timeout);
}

std::vector<std::string> ChildProcess::lines() {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool ChildProcess::running() {
    if (reaped_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
    return !reaped_;
}

void ChildProcess::kill() {
    if (reaped_) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
}

std::optional<ProcessUsage> process_usage(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    ProcessUsage usage;
    DIR* fds = opendir((dir + "/fd").c_str());
    if (!fds) return std::nullopt;
    while (const dirent* entry = readdir(fds)) {
        if (entry->d_name[0] != '.') ++usage.open_fds;
    }
    closedir(fds);
    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) usage.resident_kib = std::stoul(line.substr(6));
        if (line.rfind("Threads:", 0) == 0) usage.threads = std::stoul(line.substr(8));
    }
    if (usage.resident_kib == 0) return std::nullopt;
    return usage;
}

bool wait_until(const std::function<bool()>& condition, milliseconds timeout,
                milliseconds interval) {
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (SteadyClock::now() >= deadline) return false;
        std::this_thread::sleep_for(interval);
    }
}
