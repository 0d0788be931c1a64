#include "platform/file_lock.h"

#include <string>
#include <thread>

#include "platform/user_files.h"

namespace {

// Short against the patience, long enough not to spin: a holder builds its files in well
// under a second.
constexpr std::chrono::milliseconds RETRY_INTERVAL{20};

}  // namespace

Result<FileLock> lock_file(const std::filesystem::path& file, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        Result<FileLock> attempt = try_lock_file(file);
        if (!attempt.ok() || attempt.value()) return attempt;
        if (std::chrono::steady_clock::now() >= deadline) {
            return Result<FileLock>::failure(
                "cannot lock " + path_text(file) + ": another process has held it for " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(patience).count()) +
                " s");
        }
        std::this_thread::sleep_for(RETRY_INTERVAL);
    }
}
