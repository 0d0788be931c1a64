#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "app/headless_output.h"
#include "core/utf8.h"
#include "platform/win32/win32_handles.h"

namespace {

bool is_usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != FALSE;
}

// Length of the longest prefix that ends neither inside a UTF-8 sequence nor inside a colour
// escape, so that what a pipe read splits is written whole with the next one.
size_t complete_length(std::string_view bytes) {
    size_t length = bytes.size();
    for (size_t back = 1; back <= 4 && back <= bytes.size(); ++back) {
        auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        if (needed > back) length = bytes.size() - back;
        break;
    }
    size_t escape = bytes.substr(0, length).rfind('\x1b');
    if (escape != std::string_view::npos && bytes.find('m', escape) >= length) length = escape;
    return length;
}

// The QR code's colour escapes ("ESC[38;5;16;48;5;231m", black on white, and "ESC[0m") as
// console attributes: unlike virtual-terminal mode they work on every Windows console.
class ConsoleColours {
  public:
    explicit ConsoleColours(HANDLE console) : console_(console) {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(console, &info)) original_ = info.wAttributes;
        current_ = original_;
    }

    // `parameters` is the text between "ESC[" and "m".
    void apply(std::string_view parameters) {
        std::vector<std::string_view> fields;
        for (size_t start = 0;;) {
            size_t end = parameters.find(';', start);
            fields.push_back(parameters.substr(start, end - start));
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        for (size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].empty() || fields[i] == "0") {
                current_ = original_;
            } else if ((fields[i] == "38" || fields[i] == "48") && i + 2 < fields.size() &&
                       fields[i + 1] == "5") {
                set_palette_colour(fields[i] == "48", fields[i + 2]);
                i += 2;
            }
        }
        SetConsoleTextAttribute(console_, current_);
    }

  private:
    void set_palette_colour(bool background, std::string_view entry) {
        constexpr WORD WHITE =
            FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;
        WORD colour;
        if (entry == "16") {
            colour = 0;  // black
        } else if (entry == "231") {
            colour = WHITE;
        } else {
            return;  // not a colour this program uses
        }
        const int shift = background ? 4 : 0;
        current_ = WORD((current_ & ~(0x0F << shift)) | (colour << shift));
    }

    HANDLE console_;
    WORD original_ = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;
    WORD current_;
};

void write_console_text(HANDLE console, std::string_view text) {
    std::u16string units = utf16_from_utf8(text);
    DWORD written = 0;
    WriteConsoleW(console, wide(units), static_cast<DWORD>(units.size()), &written, nullptr);
}

// Runs for the life of the process: what the receiver writes into the pipe goes to the
// console as UTF-16, whatever the console's code page, with its colour escapes applied.
void copy_to_console(UniqueHandle pipe, UniqueHandle console) {
    ConsoleColours colours(console.get());
    std::string pending;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(pipe.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        pending.append(buffer, read);
        std::string_view text = std::string_view(pending).substr(0, complete_length(pending));
        size_t done = 0;
        for (;;) {
            size_t escape = text.find("\x1b[", done);
            write_console_text(console.get(), text.substr(done, escape - done));
            if (escape == std::string_view::npos) break;
            size_t end = text.find('m', escape);
            colours.apply(text.substr(escape + 2, end - escape - 2));
            done = end + 1;
        }
        pending.erase(0, text.size());
    }
}

// A FILE* whose bytes a thread writes to the console; null if any part cannot be made.
std::FILE* open_console_pipe(UniqueHandle console) {
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return nullptr;
    UniqueHandle reader(read_end), writer(write_end);
    int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(writer.get()), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) return nullptr;
    writer.release();  // the descriptor owns it now
    std::FILE* file = _fdopen(descriptor, "wb");
    if (!file) {
        _close(descriptor);
        return nullptr;
    }
    try {
        std::thread(copy_to_console, std::move(reader), std::move(console)).detach();
    } catch (const std::system_error&) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

}  // namespace

HeadlessOutput open_headless_output() {
    HeadlessOutput output;
    HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    if (is_usable(inherited) && !is_console(inherited)) {
        output.file = stdout;  // a file or pipe; the C runtime has it open already
        return output;
    }
    if (is_usable(inherited) || AttachConsole(ATTACH_PARENT_PROCESS)) {
        UniqueHandle console = owned_handle(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                        OPEN_EXISTING, 0, nullptr));
        if (console) {
            output.owned.reset(open_console_pipe(std::move(console)));
            if (output.owned) {
                output.file = output.owned.get();
                output.colours = QrTextColours::ansi;  // turned into console attributes
                return output;
            }
        }
    }
    output.owned.reset(std::fopen("NUL", "w"));
    output.file = output.owned.get();
    return output;
}

bool write_headless_line_now(std::string_view line) {
    const std::string text = std::string(line) + "\r\n";
    HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    if (is_usable(inherited) && !is_console(inherited)) {
        DWORD written = 0;
        return WriteFile(inherited, text.data(), static_cast<DWORD>(text.size()), &written,
                         nullptr) != FALSE;
    }
    if (!is_usable(inherited) && !AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    UniqueHandle console = owned_handle(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
    if (!console) return false;
    write_console_text(console.get(), text);
    return true;
}
