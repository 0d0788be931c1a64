// An exclusive lock between processes on one file, so that two receivers never build the same
// files at once. The system drops it when its holder exits, however it ends, so it never goes
// stale.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "core/result.h"

struct LockedFile;

struct LockedFileClose {
    void operator()(LockedFile* file) const;
};

// Held while it lives.
using FileLock = std::unique_ptr<LockedFile, LockedFileClose>;

// Creates the file when it is missing (0600 on Linux), then waits until no other holder has
// it, at most `patience`: a holder that never lets go must not stop the caller for good.
// Another lock_file of the same file, in this process or another, waits for this one.
Result<FileLock> lock_file(const std::filesystem::path& file, std::chrono::milliseconds patience);

// One attempt, by each platform: the lock, or an empty FileLock while another holder has it.
Result<FileLock> try_lock_file(const std::filesystem::path& file);
