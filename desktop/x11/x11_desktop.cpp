// The X11 desktop's thread and display connection.
#include "desktop/x11/x11_desktop.h"

#include "desktop/x11/x11_parts.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

namespace {

// Xlib's default handlers end the process; these only take note.
int note_error(Display*, XErrorEvent* error) {
    x11_errors().last_code = error->error_code;
    return 0;
}
int note_io_error(Display*) {
    return 0;
}
void note_connection_lost(Display*, void* lost) {
    *static_cast<bool*>(lost) = true;
}

// One display connection and what lives on it; all of it goes when the connection does.
struct Session {
    Display* display = nullptr;
    bool lost = false;
    bool can_type = false;  // XTEST and XKB are there
    std::string name;
    X11Keyboard keyboard;
    X11Clipboard clipboard;
};

class X11Thread {
  public:
    static X11Thread& instance() {
        static X11Thread* thread = new X11Thread();  // lives as long as the process
        return *thread;
    }

    // Runs `job` on the thread, connected first; waits for its result.
    Status run(std::function<Status(Session&)> job) {
        std::lock_guard one_caller(callers_);
        std::unique_lock lock(mutex_);
        job_ = std::move(job);
        result_.reset();
        const char wake = 1;
        if (write(wake_write_, &wake, 1) < 0) return Status::failure("Could not wake the X thread");
        finished_.wait(lock, [this] { return result_.has_value(); });
        return *result_;
    }

  private:
    X11Thread() {
        int fds[2] = {-1, -1};
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) wake_read_ = fds[0], wake_write_ = fds[1];
        std::thread([this] { loop(); }).detach();
    }

    void loop() {
        XSetErrorHandler(note_error);
        XSetIOErrorHandler(note_io_error);
        for (;;) {
            serve_events();
            std::function<Status(Session&)> job;
            {
                std::lock_guard lock(mutex_);
                job = std::exchange(job_, nullptr);
            }
            if (job) {
                Status result = connect();
                if (result.ok()) result = job(session_);
                if (result.ok() && session_.lost) {
                    result = Status::failure("Lost the connection to X display " + session_.name);
                }
                if (session_.keyboard.has_bindings()) restore_at_ = Clock::now() + KEY_SETTLE_TIME;
                std::lock_guard lock(mutex_);
                result_ = std::move(result);
                finished_.notify_all();
                continue;
            }
            if (session_.lost) disconnect();

            int timeout = -1;
            if (session_.display && session_.keyboard.has_bindings()) {
                const auto left = restore_at_ - Clock::now();
                if (left <= Clock::duration::zero()) {
                    session_.keyboard.restore(session_.display);
                    continue;
                }
                timeout =
                    static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            }
            pollfd fds[2] = {
                {wake_read_, POLLIN, 0},
                {session_.display ? ConnectionNumber(session_.display) : -1, POLLIN, 0}};
            poll(fds, 2, timeout);
            char drained[64];
            while (read(wake_read_, drained, sizeof drained) > 0) {
            }
        }
    }

    // Answers clipboard requests; events another call already read are waiting in the queue.
    void serve_events() {
        while (session_.display && !session_.lost && XPending(session_.display) > 0) {
            XEvent event;
            XNextEvent(session_.display, &event);
            session_.clipboard.handle_event(session_.display, event);
        }
    }

    Status connect() {
        if (session_.lost) disconnect();
        if (session_.display) return Status::success();
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) return Status::failure("No X display (DISPLAY is not set)");
        Display* display = XOpenDisplay(name);
        if (!display)
            return Status::failure(std::string("No X display (cannot open ") + name + ")");
        session_ = Session{display, false, false, name, {}, {}};
        XSetIOErrorExitHandler(display, note_connection_lost, &session_.lost);
        int event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion, opcode = 0;
        const bool xkb = XkbQueryExtension(display, &opcode, &event, &error, &major, &minor);
        const bool xtest = XTestQueryExtension(display, &event, &error, &major, &minor);
        session_.can_type = xkb && xtest;
        Status attached = session_.clipboard.attach(display);
        if (!attached.ok()) disconnect();
        return attached;
    }

    void disconnect() {
        if (session_.display) XCloseDisplay(session_.display);
        session_ = Session{};
    }

    using Clock = std::chrono::steady_clock;

    std::mutex callers_;  // one job at a time
    std::mutex mutex_;
    std::condition_variable finished_;
    std::function<Status(Session&)> job_;
    std::optional<Status> result_;
    int wake_read_ = -1, wake_write_ = -1;

    // The thread's own.
    Session session_;
    Clock::time_point restore_at_;
};

}  // namespace

X11Errors& x11_errors() {
    static X11Errors errors;  // the X thread's only
    return errors;
}

std::optional<std::string> start_x11_desktop() {
    Status started = X11Thread::instance().run([](Session& session) {
        if (session.can_type) return Status::success();
        return Status::failure("X display " + session.name +
                               " has no XTEST or XKB extension: scans are copied, not typed");
    });
    if (started.ok()) return std::nullopt;
    if (started.error().rfind("No X display", 0) == 0) {
        return started.error() + ": scans are received and logged only";
    }
    return started.error();
}

namespace {

Status type_keysyms(const std::vector<uint32_t>& keysyms) {
    return X11Thread::instance().run([&](Session& session) {
        if (!session.can_type) return Status::failure("The X display cannot be typed into");
        return session.keyboard.type(session.display, keysyms);
    });
}

}  // namespace

Status x11_type_text(std::string_view text, bool with_suffix, const TypingOptions& options) {
    const std::vector<uint32_t> keysyms = keysyms_for_typing(text, with_suffix, options);
    if (options.key_delay_ms == 0) return type_keysyms(keysyms);
    for (uint32_t keysym : keysyms) {
        if (Status typed = type_keysyms({keysym}); !typed.ok()) return typed;
        std::this_thread::sleep_for(std::chrono::milliseconds(options.key_delay_ms));
    }
    return Status::success();
}

Status x11_copy_text(std::string_view utf8) {
    return X11Thread::instance().run([&](Session& session) {
        return session.clipboard.own(session.display, std::string(utf8));
    });
}
