// A file that is only ever added to: each append goes to the operating system before it
// returns, so what was appended survives a crash of the program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "core/result.h"

class AppendFile {
  public:
    // Opens or creates the file (0600 on Linux). Others may read, write or delete it
    // meanwhile (a spreadsheet that has it open, say).
    static Result<std::unique_ptr<AppendFile>> open(const std::filesystem::path& file);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // All of `bytes` at the file's end, or an error text naming the file.
    Status append(std::string_view bytes);
    // The size the file had when opened.
    uint64_t size_at_open() const { return size_at_open_; }

    struct Native;
    AppendFile(std::unique_ptr<Native> native, std::filesystem::path path, uint64_t size);

  private:
    std::unique_ptr<Native> native_;
    std::filesystem::path path_;
    uint64_t size_at_open_ = 0;
};
