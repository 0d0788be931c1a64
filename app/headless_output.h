// Where the Windows receiver's headless output goes: the pairing URL, its QR code and the log.
// Windows only.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

#include "ui/qr_code.h"

struct HeadlessOutput {
    std::FILE* file = nullptr;  // null only when not even "NUL" could be opened
    QrTextColours colours = QrTextColours::plain;

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> owned;  // the pipe to the console, or "NUL"
};

// A graphical program starts without a console. Its output goes to standard output when the
// parent redirected it to a file or pipe; else to the console it was given or the parent's
// console (a command prompt), written as UTF-16 so that every character shows whatever the
// console's code page; else nowhere, so that log lines are dropped rather than queued for a
// window that never comes.
HeadlessOutput open_headless_output();

// Writes one line where headless output would go, before returning (for a start that is
// refused); false when there is nowhere to write it.
bool write_headless_line_now(std::string_view line);
