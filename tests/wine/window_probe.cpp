// Test-only Windows program for the Wine suite; never installed or shipped.
//
// Reads and drives the receiver's main window from outside, as a UI-automation tool would: it
// finds the window by its class name and its controls by identifier. One command per run;
// results are printed to standard output as one JSON object (UTF-8).
//   dump                  the window (title, styles, client origin and size) and every child
//                         control: class, text, identifier, styles, rectangle in client
//                         coordinates, check state, combo box items, text limit (Wine
//                         answers WM_GETFONT from another process with 0, so the font is
//                         judged on the screenshots)
//   click ID              sends BM_CLICK to the control: returns once the command has run
//   post-click ID         posts BM_CLICK instead, for a command that opens a modal box
//   set-text ID TEXT      WM_SETTEXT
//   set-caret ID POS      EM_SETSEL POS..POS, as a click into an edit control would
//   select ID INDEX       CB_SETCURSEL, then WM_COMMAND with CBN_SELCHANGE to the window
//   message-box           the "#32770" box owned by the window: caption and text
//   dismiss               posts IDOK to that box
//   clipboard             the clipboard's Unicode text, or null
//   close                 posts WM_CLOSE to the window, as its close button does
//   minimize | restore    minimises the window or restores it, as its caption buttons do
//   dpi-changed DPI       sends WM_DPICHANGED for DPI with a suggested rectangle at the window's
//                         place, 768 × 492 scaled, as Windows does on a move to such a monitor
//                         (Wine never sends it; the rectangle is written into the receiver's
//                         own memory, since its pointer would not cross processes)
//   resources EXE         the exe's version block (GetFileVersionInfoW) and icons: how many
//                         ExtractIconExW finds, its large and small icon's sizes, and every
//                         size of the first icon group, each loaded at that size
// Exit code 0 on success, 2 when the window (or box) is missing, 1 on bad arguments.
#include <windows.h>
#include <fcntl.h>
#include <shellapi.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t WINDOW_CLASS[] = L"QuillmarkReceiverWindow";
constexpr UINT SEND_TIMEOUT_MS = 20000;  // generous: the machine may be busy

std::string utf8_from_wide(const std::wstring& text) {
    if (text.empty()) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), bytes, nullptr,
                        nullptr);
    return out;
}

std::string json_string(const std::wstring& text) {
    std::string out = "\"";
    for (char c : utf8_from_wide(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Never hangs on a stuck window: the test then fails on the missing answer instead.
LRESULT send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                        &result);
    return LRESULT(result);
}

std::wstring window_text(HWND window) {
    const LRESULT length = send(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(size_t(length) + 1, L'\0');
    const LRESULT copied =
        send(window, WM_GETTEXT, WPARAM(text.size()), reinterpret_cast<LPARAM>(text.data()));
    text.resize(size_t(copied));
    return text;
}

std::wstring class_name(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::string json_rect(RECT r) {
    char text[96];
    std::snprintf(text, sizeof text, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

std::string json_number(long long value) {
    return std::to_string(value);
}

HWND find_main_window() {
    return FindWindowW(WINDOW_CLASS, nullptr);
}

std::vector<HWND> child_controls(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

std::string describe_control(HWND main, HWND control) {
    const std::wstring kind = class_name(control);
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&rect), 2);
    std::string json = "{\"class\": " + json_string(kind);
    json += ", \"text\": " + json_string(window_text(control));
    json += ", \"id\": " + json_number(GetWindowLongPtrW(control, GWLP_ID));
    json += ", \"style\": " + json_number(DWORD(GetWindowLongPtrW(control, GWL_STYLE)));
    json += ", \"ex_style\": " + json_number(DWORD(GetWindowLongPtrW(control, GWL_EXSTYLE)));
    json += ", \"rect\": " + json_rect(rect);
    if (_wcsicmp(kind.c_str(), L"Button") == 0) {
        json += ", \"check\": " + json_number(send(control, BM_GETCHECK, 0, 0));
    }
    if (_wcsicmp(kind.c_str(), L"Edit") == 0) {
        json += ", \"limit\": " + json_number(send(control, EM_GETLIMITTEXT, 0, 0));
        json += ", \"length\": " + json_number(send(control, WM_GETTEXTLENGTH, 0, 0));
    }
    if (_wcsicmp(kind.c_str(), L"ComboBox") == 0) {
        const LRESULT count = send(control, CB_GETCOUNT, 0, 0);
        json += ", \"selected\": " + json_number(send(control, CB_GETCURSEL, 0, 0));
        json += ", \"items\": [";
        for (LRESULT i = 0; i < count; ++i) {
            const LRESULT length = send(control, CB_GETLBTEXTLEN, WPARAM(i), 0);
            std::wstring item(size_t(length > 0 ? length : 0) + 1, L'\0');
            const LRESULT copied =
                send(control, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(item.data()));
            item.resize(size_t(copied > 0 ? copied : 0));
            json += (i ? ", " : "") + json_string(item);
        }
        json += "]";
    }
    return json + "}";
}

std::string describe_window(HWND main) {
    RECT client{};
    GetClientRect(main, &client);
    RECT outer{};
    GetWindowRect(main, &outer);
    POINT origin{0, 0};
    ClientToScreen(main, &origin);
    std::string json = "{\"title\": " + json_string(window_text(main));
    json += ", \"style\": " + json_number(DWORD(GetWindowLongPtrW(main, GWL_STYLE)));
    json += ", \"ex_style\": " + json_number(DWORD(GetWindowLongPtrW(main, GWL_EXSTYLE)));
    json += ", \"outer\": " + json_rect(outer);
    json += ", \"client_origin\": [" + json_number(origin.x) + ", " + json_number(origin.y) + "]";
    json += ", \"client_size\": [" + json_number(client.right) + ", " + json_number(client.bottom) +
            "]";
    json += ", \"controls\": [";
    bool first = true;
    for (HWND control : child_controls(main)) {
        json += (first ? "" : ", ") + describe_control(main, control);
        first = false;
    }
    return json + "]}";
}

// -- a move to a monitor of another DPI -------------------------------------------------------

bool send_dpi_changed(HWND main, int dpi) {
    RECT outer{};
    GetWindowRect(main, &outer);
    const RECT suggested{outer.left, outer.top, outer.left + MulDiv(768, dpi, 96),
                         outer.top + MulDiv(492, dpi, 96)};
    DWORD process_id = 0;
    GetWindowThreadProcessId(main, &process_id);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, process_id);
    if (!process) return false;
    void* remote = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    const bool written =
        remote && WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr);
    if (written) {
        send(main, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
             reinterpret_cast<LPARAM>(remote));
    }
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return written;
}

// -- resources -------------------------------------------------------------------------------

std::string version_strings_json(const std::vector<BYTE>& block) {
    std::string json = "{";
    const wchar_t* names[] = {L"ProductName", L"FileDescription", L"CompanyName",
                              L"FileVersion", L"ProductVersion",  L"OriginalFilename"};
    for (const wchar_t* name : names) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* value = nullptr;
        UINT length = 0;
        const bool found = VerQueryValueW(block.data(), path.c_str(), &value, &length);
        json += (json.size() > 1 ? ", " : "") + json_string(name) + ": ";
        json += found ? json_string(static_cast<const wchar_t*>(value)) : "null";
    }
    return json + "}";
}

std::string version_json(const std::wstring& exe) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) return "null";
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &value, &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return "null";
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                  unsigned(LOWORD(fixed->dwFileVersionMS)),
                  unsigned(HIWORD(fixed->dwFileVersionLS)),
                  unsigned(LOWORD(fixed->dwFileVersionLS)));
    return "{\"file_version\": \"" + std::string(numbers) +
           "\", \"strings\": " + version_strings_json(block) + "}";
}

int icon_width(HICON icon) {
    ICONINFO info{};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

BOOL CALLBACK first_resource_name(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
    *reinterpret_cast<LPWSTR*>(context) = name;
    return FALSE;
}

// RT_GROUP_ICON, whose header spelling depends on UNICODE, which this program does not define.
const LPCWSTR GROUP_ICON = MAKEINTRESOURCEW(14);

#pragma pack(push, 2)
struct IconGroupEntry {  // GRPICONDIRENTRY: one size in an icon group
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// Every size of the first icon group, and the width each has when loaded at that size.
std::string icon_group_json(const std::wstring& exe) {
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return "\"sizes\": [], \"loaded\": []";
    LPWSTR name = nullptr;
    EnumResourceNamesW(module, GROUP_ICON, first_resource_name, reinterpret_cast<LONG_PTR>(&name));
    std::string sizes, loaded;
    HRSRC found = name ? FindResourceW(module, name, GROUP_ICON) : nullptr;
    const auto* group =
        found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    const WORD count = group ? *reinterpret_cast<const WORD*>(group + 4) : 0;
    for (WORD i = 0; i < count; ++i) {
        IconGroupEntry entry;
        std::memcpy(&entry, group + 6 + i * sizeof(IconGroupEntry), sizeof entry);
        const int size = entry.width ? entry.width : 256;
        HICON icon = static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, size, size, 0));
        if (i) {
            sizes += ", ";
            loaded += ", ";
        }
        sizes += json_number(size);
        loaded += json_number(icon_width(icon));
        if (icon) DestroyIcon(icon);
    }
    FreeLibrary(module);
    return "\"sizes\": [" + sizes + "], \"loaded\": [" + loaded + "]";
}

std::string resources_json(const std::wstring& exe) {
    const UINT count = ExtractIconExW(exe.c_str(), -1, nullptr, nullptr, 0);
    HICON large = nullptr, small = nullptr;
    ExtractIconExW(exe.c_str(), 0, &large, &small, 1);
    std::string json = "{\"version\": " + version_json(exe);
    json += ", \"icon_count\": " + json_number(count);
    json += ", \"large\": " + json_number(icon_width(large));
    json += ", \"small\": " + json_number(icon_width(small));
    json += ", " + icon_group_json(exe) + "}";
    if (large) DestroyIcon(large);
    if (small) DestroyIcon(small);
    return json;
}

// -- message boxes -----------------------------------------------------------------------------

struct BoxSearch {
    HWND owner;
    HWND box;
};

BOOL CALLBACK match_box(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<BoxSearch*>(context);
    if (class_name(window) == L"#32770" && GetWindow(window, GW_OWNER) == search->owner &&
        IsWindowVisible(window)) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

HWND find_message_box(HWND main) {
    BoxSearch search{main, nullptr};
    EnumWindows(match_box, reinterpret_cast<LPARAM>(&search));
    return search.box;
}

// The message text is the box's static control with text (the icon is a static without).
std::wstring message_box_text(HWND box) {
    for (HWND child : child_controls(box)) {
        if (_wcsicmp(class_name(child).c_str(), L"Static") != 0) continue;
        std::wstring text = window_text(child);
        if (!text.empty()) return text;
    }
    return {};
}

std::string clipboard_json() {
    if (!OpenClipboard(nullptr)) return "{\"error\": \"OpenClipboard failed\"}";
    std::string json = "{\"text\": null}";
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            json = "{\"text\": " + json_string(text) + "}";
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return json;
}

void print(const std::string& json) {
    const std::string line = json + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// "dialog COMMAND ...": COMMAND on the window's open dialog (its settings dialog) instead.
int run(const std::vector<std::wstring>& all) {
    const bool on_dialog = !all.empty() && all[0] == L"dialog";
    const std::vector<std::wstring> args(all.begin() + (on_dialog ? 1 : 0), all.end());
    if (args.empty()) return 1;
    const std::wstring& command = args[0];
    if (command == L"clipboard") {
        print(clipboard_json());
        return 0;
    }
    if (command == L"resources" && args.size() == 2) {
        print(resources_json(args[1]));
        return 0;
    }
    HWND main = find_main_window();
    if (!main) {
        print("{\"error\": \"no window of class QuillmarkReceiverWindow\"}");
        return 2;
    }
    if (on_dialog && !(main = find_message_box(main))) {
        print("{\"error\": \"the window has no dialog open\"}");
        return 3;
    }
    auto control = [&](size_t index) { return GetDlgItem(main, _wtoi(args.at(index).c_str())); };
    if (command == L"dump") {
        print(describe_window(main));
    } else if (command == L"click" && args.size() == 2) {
        send(control(1), BM_CLICK, 0, 0);
        print("{}");
    } else if (command == L"post-click" && args.size() == 2) {
        PostMessageW(control(1), BM_CLICK, 0, 0);
        print("{}");
    } else if (command == L"minimize" || command == L"restore") {
        ShowWindowAsync(main, command == L"minimize" ? SW_MINIMIZE : SW_RESTORE);
        print("{}");
    } else if (command == L"dpi-changed" && args.size() == 2) {
        if (!send_dpi_changed(main, _wtoi(args[1].c_str()))) {
            print("{\"error\": \"could not write into the receiver's memory\"}");
            return 2;
        }
        print("{}");
    } else if (command == L"command" && args.size() == 2) {
        // What a menu item does (the notification area icon's menu is the program's own).
        send(main, WM_COMMAND, MAKEWPARAM(_wtoi(args[1].c_str()), 0), 0);
        print("{}");
    } else if (command == L"close") {
        PostMessageW(main, WM_CLOSE, 0, 0);
        print("{}");
    } else if (command == L"set-text" && args.size() == 3) {
        send(control(1), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2].c_str()));
        print("{}");
    } else if (command == L"set-caret" && args.size() == 3) {
        const WPARAM position = WPARAM(_wtoi(args[2].c_str()));
        send(control(1), EM_SETSEL, position, LPARAM(position));
        print("{}");
    } else if (command == L"select" && args.size() == 3) {
        HWND combo = control(1);
        send(combo, CB_SETCURSEL, WPARAM(_wtoi(args[2].c_str())), 0);
        const int id = int(GetWindowLongPtrW(combo, GWLP_ID));
        send(main, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
        print("{}");
    } else if (command == L"message-box" || command == L"dismiss") {
        HWND box = find_message_box(main);
        if (!box) {
            print("{\"found\": false}");
            return command == L"dismiss" ? 2 : 0;
        }
        if (command == L"dismiss") {
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            print("{\"found\": true}");
        } else {
            print("{\"found\": true, \"caption\": " + json_string(window_text(box)) +
                  ", \"text\": " + json_string(message_box_text(box)) + "}");
        }
    } else {
        return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // LF stays LF
    return run(std::vector<std::wstring>(argv + 1, argv + argc));
}
