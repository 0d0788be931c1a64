// Test-only Windows program for the Wine suite; never installed or shipped.
//
// Without arguments it shows a window whose edit control holds the keyboard focus, so the
// receiver's keystrokes land there, and a one-line edit box below it that Tab moves the focus
// to. It answers requests that the Linux side drops into its current directory (see
// tests/wine/README.md):
//   file "request" holding "dump N"  -> writes edit.out (the edit text), second.out (the
//                                       one-line box's text), chars.out (a line "TIME VK SCAN
//                                       UNIT" per character typed since "clear": the system's
//                                       time in ms, the virtual key and scan code of its
//                                       key-down message, and the UTF-16 unit)
//                                       and, if the clipboard holds text, clipboard.out; then
//                                       "response": "done N" plus lines "foreground yes|no",
//                                       "focus yes|no" and "second-focus yes|no"
//   "clear N"                        -> empties both edit boxes, the character record and the
//                                       clipboard, and takes the foreground and the focus back
//   "hold-clipboard N"               -> keeps the clipboard open, so that others fail to open it
//   "release-clipboard N"            -> closes it again
//   "quit N"                         -> answers, then closes the window and exits
// Other modes, each writing UTF-8 to OUT and exiting:
//   --print-args OUT [ARG...]  the receiver's own reading of this process's command line
//                           (these words included), every argument followed by a NUL byte
//   --format-message CODE OUT  FormatMessageW's text for CODE without its line break
//   --environment NAME OUT  the variable as GetEnvironmentVariableW sees it
//   --run OUT COMMAND_LINE  starts COMMAND_LINE as given (CreateProcessW), waits, writes its
//                           exit code
//   --console OUT COMMAND_LINE  opens a console of its own and starts COMMAND_LINE without
//                           handing it any handles (as a command prompt starts a graphical
//                           program); each time a file "console.read" appears it deletes it
//                           and writes the console's characters, row after row, to OUT; when
//                           "console.done" appears (or after 60 s) it ends the program
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/process_arguments.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"QuillmarkTestTarget";
constexpr UINT_PTR POLL_TIMER = 1;
constexpr UINT POLL_MS = 20;
constexpr int EDIT_ID = 100;
constexpr int SECOND_EDIT_ID = 101;
constexpr int SECOND_EDIT_HEIGHT = 24;

// Independent of the receiver's own conversion, so the tests compare against Windows itself.
std::string utf8_from_wide(const wchar_t* text, int length) {
    if (length <= 0) return {};
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring wide_from_utf8(const std::string& text) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), units);
    return out;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool write_file(const std::wstring& path, const std::string& bytes) {
    File file(_wfopen(path.c_str(), L"wb"));
    if (!file) return false;
    return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

// Written whole under a temporary name and renamed, so the reader never sees half a file.
void write_file_atomically(const std::wstring& path, const std::string& bytes) {
    std::wstring temporary = path + L".tmp";
    if (write_file(temporary, bytes)) {
        MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

std::string read_file(const wchar_t* path) {
    File file(_wfopen(path, L"rb"));
    if (!file) return {};
    std::string bytes;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
    return bytes;
}

class OpenedClipboard {
  public:
    explicit OpenedClipboard(HWND owner) {
        // Another process (the receiver) may hold it for a moment.
        for (int attempt = 0; attempt < 100 && !open_; ++attempt) {
            open_ = OpenClipboard(owner) != FALSE;
            if (!open_) Sleep(10);
        }
    }
    ~OpenedClipboard() {
        if (open_) CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    bool is_open() const { return open_; }

  private:
    bool open_ = false;
};

// Nullopt-like: `has_text` false when the clipboard holds no Unicode text.
struct ClipboardText {
    bool has_text = false;
    std::string text;
};

ClipboardText read_clipboard(HWND owner) {
    ClipboardText result;
    OpenedClipboard clipboard(owner);
    if (!clipboard.is_open()) return result;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (!data) return result;
    const auto* units = static_cast<const wchar_t*>(GlobalLock(data));
    if (!units) return result;
    result.has_text = true;
    result.text = utf8_from_wide(units, int(std::wcslen(units)));
    GlobalUnlock(data);
    return result;
}

std::string edit_text(HWND edit) {
    int length = GetWindowTextLengthW(edit);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(edit, text.data(), length + 1);
    return utf8_from_wide(text.c_str(), copied);
}

std::unique_ptr<OpenedClipboard> held_clipboard;

// The characters typed into this program, each with the time of the key press behind it.
struct TypedCharacter {
    DWORD key_time;
    WPARAM virtual_key;  // VK_PACKET for a Unicode packet
    unsigned scan_code;
    wchar_t unit;
};
std::vector<TypedCharacter> typed_characters;
MSG last_key_down{};

void record_key_message(const MSG& message) {
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
        last_key_down = message;
    } else if (message.message == WM_CHAR) {
        typed_characters.push_back({last_key_down.time, last_key_down.wParam,
                                    unsigned(last_key_down.lParam >> 16) & 0xFF,
                                    static_cast<wchar_t>(message.wParam)});
    }
}

std::string typed_characters_text() {
    std::string text;
    for (const TypedCharacter& c : typed_characters) {
        text += std::to_string(c.key_time) + " " + std::to_string(c.virtual_key) + " " +
                std::to_string(c.scan_code) + " " + std::to_string(unsigned(c.unit)) + "\n";
    }
    return text;
}

void answer_request(HWND window) {
    std::string request = read_file(L"request");
    DeleteFileW(L"request");
    size_t blank = request.find(' ');
    std::string command = request.substr(0, blank);
    std::string sequence = blank == std::string::npos ? "" : request.substr(blank + 1);
    while (!sequence.empty() && (sequence.back() == '\n' || sequence.back() == '\r')) {
        sequence.pop_back();
    }
    HWND edit = GetDlgItem(window, EDIT_ID);
    HWND second = GetDlgItem(window, SECOND_EDIT_ID);

    if (command == "dump") {
        write_file(L"edit.out", edit_text(edit));
        write_file(L"second.out", edit_text(second));
        write_file(L"chars.out", typed_characters_text());
        DeleteFileW(L"clipboard.out");
        ClipboardText clipboard = read_clipboard(window);
        if (clipboard.has_text) write_file(L"clipboard.out", clipboard.text);
    } else if (command == "clear") {
        SetWindowTextW(edit, L"");
        SetWindowTextW(second, L"");
        typed_characters.clear();
        OpenedClipboard clipboard(window);
        if (clipboard.is_open()) EmptyClipboard();
        SetForegroundWindow(window);
        SetFocus(edit);
    } else if (command == "hold-clipboard") {
        held_clipboard = std::make_unique<OpenedClipboard>(window);
    } else if (command == "release-clipboard") {
        held_clipboard.reset();
    }
    std::string response = "done " + sequence + "\n";
    response += std::string("foreground ") + (GetForegroundWindow() == window ? "yes" : "no") +
                "\n" + "focus " + (GetFocus() == edit ? "yes" : "no") + "\n" + "second-focus " +
                (GetFocus() == second ? "yes" : "no") + "\n";
    write_file_atomically(L"response", response);
    if (command == "quit") DestroyWindow(window);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE: {
            HWND edit = CreateWindowExW(
                WS_EX_CLIENTEDGE, L"EDIT", L"",
                WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                0, 0, 0, 0, window, reinterpret_cast<HMENU>(EDIT_ID), nullptr, nullptr);
            HWND second = CreateWindowExW(
                WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                0, 0, 0, 0, window, reinterpret_cast<HMENU>(SECOND_EDIT_ID), nullptr, nullptr);
            if (!edit || !second) return -1;
            SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
            SetTimer(window, POLL_TIMER, POLL_MS, nullptr);
            return 0;
        }
        case WM_SIZE: {
            const int width = LOWORD(lparam), height = HIWORD(lparam);
            MoveWindow(GetDlgItem(window, EDIT_ID), 0, 0, width, height - SECOND_EDIT_HEIGHT, TRUE);
            MoveWindow(GetDlgItem(window, SECOND_EDIT_ID), 0, height - SECOND_EDIT_HEIGHT, width,
                       SECOND_EDIT_HEIGHT, TRUE);
            return 0;
        }
        case WM_SETFOCUS:
            // Keystrokes go to the focused control, whatever activated the window.
            SetFocus(GetDlgItem(window, EDIT_ID));
            return 0;
        case WM_TIMER:
            if (GetFileAttributesW(L"request") != INVALID_FILE_ATTRIBUTES) answer_request(window);
            return 0;
        case WM_DESTROY:
            KillTimer(window, POLL_TIMER);
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

int run_window(HINSTANCE instance) {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = CLASS_NAME;
    if (!RegisterClassExW(&window_class)) return 2;
    HWND window = CreateWindowExW(0, CLASS_NAME, L"Quillmark test target", WS_OVERLAPPEDWINDOW, 40,
                                  40, 640, 400, nullptr, nullptr, instance, nullptr);
    if (!window) return 2;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        record_key_message(message);
        // The Tab key moves the focus on to the one-line box, as in a form (a typed Tab
        // character still lands in the text).
        if (message.message == WM_KEYDOWN && message.wParam == VK_TAB &&
            message.hwnd == GetDlgItem(window, EDIT_ID)) {
            SetFocus(GetDlgItem(window, SECOND_EDIT_ID));
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

std::string format_message(DWORD code) {
    wchar_t buffer[1024];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, DWORD(std::size(buffer)), nullptr);
    while (length > 0 && std::iswspace(buffer[length - 1])) --length;
    return utf8_from_wide(buffer, int(length));
}

std::string environment_variable(const std::string& name) {
    std::wstring wide_name = wide_from_utf8(name);
    DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    return utf8_from_wide(value.c_str(), int(length));
}

std::string run_command_line(const std::string& command_line) {
    std::wstring writable = wide_from_utf8(command_line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return "CreateProcessW failed";
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return "exit " + std::to_string(exit_code);
}

struct ChildProcess {
    PROCESS_INFORMATION info{};
    ~ChildProcess() {
        if (info.hProcess) {
            TerminateProcess(info.hProcess, 0);
            WaitForSingleObject(info.hProcess, 10000);
            CloseHandle(info.hProcess);
        }
        if (info.hThread) CloseHandle(info.hThread);
    }
};

std::string console_characters(HANDLE screen) {
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    if (!GetConsoleScreenBufferInfo(screen, &buffer)) return {};
    DWORD cells = DWORD(buffer.dwSize.X) * DWORD(buffer.dwSize.Y);
    std::wstring characters(cells, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, characters.data(), cells, COORD{0, 0}, &read);
    return utf8_from_wide(characters.c_str(), int(read));
}

struct HandleCloser {
    using pointer = HANDLE;
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<HANDLE, HandleCloser>;

void run_in_console(const std::wstring& out, const std::string& command_line) {
    if (!AllocConsole()) return write_file_atomically(out, "AllocConsole failed");
    Handle screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
    if (screen.get() == INVALID_HANDLE_VALUE) {
        screen.release();
        return write_file_atomically(out, "CONOUT$ failed");
    }
    std::wstring writable = wide_from_utf8(command_line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ChildProcess child;
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child.info)) {
        return write_file_atomically(out, "CreateProcessW failed");
    }
    for (int waited = 0; waited < 60000; waited += 50) {
        if (GetFileAttributesW(L"console.read") != INVALID_FILE_ATTRIBUTES) {
            DeleteFileW(L"console.read");
            write_file_atomically(out, console_characters(screen.get()));
        }
        if (GetFileAttributesW(L"console.done") != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    std::vector<std::string> arguments = process_arguments();
    if (arguments.empty()) return run_window(instance);
    const std::string& mode = arguments[0];
    if (mode == "--print-args" && arguments.size() >= 2) {
        std::string bytes;
        for (const std::string& argument : arguments) bytes += argument + '\0';
        write_file_atomically(wide_from_utf8(arguments[1]), bytes);
        return 0;
    }
    if (mode == "--format-message" && arguments.size() == 3) {
        DWORD code = std::wcstoul(wide_from_utf8(arguments[1]).c_str(), nullptr, 10);
        write_file_atomically(wide_from_utf8(arguments[2]), format_message(code));
        return 0;
    }
    if (mode == "--environment" && arguments.size() == 3) {
        write_file_atomically(wide_from_utf8(arguments[2]), environment_variable(arguments[1]));
        return 0;
    }
    if (mode == "--run" && arguments.size() == 3) {
        write_file_atomically(wide_from_utf8(arguments[1]), run_command_line(arguments[2]));
        return 0;
    }
    if (mode == "--console" && arguments.size() == 3) {
        run_in_console(wide_from_utf8(arguments[1]), arguments[2]);
        return 0;
    }
    return 1;
}
