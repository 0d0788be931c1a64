// Win32 keystrokes (SendInput) and the clipboard behind desktop/desktop.h.
#include <windows.h>

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "core/utf8.h"
#include "desktop/desktop.h"
#include "desktop/key_events.h"

namespace {

// The clipboard stays open for exactly one copy, on every path out of it.
class OpenedClipboard {
  public:
    OpenedClipboard() : open_(OpenClipboard(nullptr) != FALSE) {}
    ~OpenedClipboard() {
        if (open_) CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    bool is_open() const { return open_; }

  private:
    bool open_;
};

// A global memory block that is freed unless the clipboard has taken it.
class GlobalBlock {
  public:
    explicit GlobalBlock(size_t bytes) : handle_(GlobalAlloc(GMEM_MOVEABLE, bytes)) {}
    ~GlobalBlock() {
        if (handle_) GlobalFree(handle_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL get() const { return handle_; }
    void hand_over() { handle_ = nullptr; }

  private:
    HGLOBAL handle_;
};

// True when pressing `virtual_key` with `modifiers` types exactly `unit`. Flag bit 2 leaves
// the keyboard state (a pending dead key above all) untouched, so asking disturbs no typing.
bool key_types_unit(HKL layout, UINT virtual_key, UINT scan_code, uint8_t modifiers,
                    char16_t unit) {
    BYTE state[256] = {};
    constexpr BYTE DOWN = 0x80;
    if (modifiers & MODIFIER_SHIFT) state[VK_SHIFT] = state[VK_LSHIFT] = DOWN;
    if (modifiers & MODIFIER_CONTROL) state[VK_CONTROL] = state[VK_LCONTROL] = DOWN;
    if (modifiers & MODIFIER_ALT) state[VK_MENU] = state[VK_LMENU] = DOWN;
    WCHAR typed[8] = {};
    constexpr UINT KEEP_KEYBOARD_STATE = 0x4;
    int count = ToUnicodeEx(virtual_key, scan_code, state, typed, 8, KEEP_KEYBOARD_STATE, layout);
    return count == 1 && typed[0] == unit;  // -1 is a dead key
}

LayoutKey ask_layout_key(HKL layout, char16_t unit, SHORT found) {
    const auto virtual_key = static_cast<uint16_t>(found & 0xFF);
    const auto modifiers = static_cast<uint8_t>((found >> 8) & 0xFF);
    const auto scan_code =
        static_cast<uint16_t>(MapVirtualKeyExW(virtual_key, MAPVK_VK_TO_VSC, layout));
    const bool dead = !key_types_unit(layout, virtual_key, scan_code, modifiers, unit);
    return LayoutKey{virtual_key, scan_code, modifiers, dead};
}

// Each question to the system costs several milliseconds per character under Wine, and what a
// loaded layout answers never changes, so every answer is kept.
template <typename Answer, typename Ask>
Answer remembered(HKL layout, uint32_t question, Ask ask) {
    static std::mutex lock;
    static std::map<std::pair<HKL, uint32_t>, Answer> answers;
    std::lock_guard guard(lock);
    auto [entry, added] = answers.try_emplace({layout, question});
    if (added) entry->second = ask();
    return entry->second;
}

// The layout of the thread that owns the foreground window, where typed keys go.
KeyboardLayout foreground_keyboard_layout() {
    // Keys go to the foreground window, and its thread reads them through its own layout.
    DWORD thread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    HKL layout = GetKeyboardLayout(thread);
    return KeyboardLayout{
        [layout](char16_t unit) {
            return remembered<std::optional<LayoutKey>>(
                layout, unit, [layout, unit]() -> std::optional<LayoutKey> {
                    SHORT found = VkKeyScanExW(static_cast<WCHAR>(unit), layout);
                    if (found == -1) return std::nullopt;
                    return ask_layout_key(layout, unit, found);
                });
        },
        [layout](uint16_t virtual_key) {
            return remembered<uint16_t>(layout, virtual_key, [layout, virtual_key] {
                return static_cast<uint16_t>(
                    MapVirtualKeyExW(virtual_key, MAPVK_VK_TO_VSC, layout));
            });
        },
    };
}

// Errors: "SendInput incomplete".
Status send_key_events(const std::vector<KeyEvent>& events) {
    std::vector<INPUT> inputs(events.size());  // value-initialised: time and extra info are 0
    for (size_t i = 0; i < events.size(); ++i) {
        inputs[i].type = INPUT_KEYBOARD;
        inputs[i].ki.wVk = events[i].virtual_key;
        inputs[i].ki.wScan = events[i].scan_code;
        inputs[i].ki.dwFlags = events[i].flags;
    }
    // One call for all the events given, so no other input can land between them.
    UINT inserted = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (inserted != inputs.size()) return Status::failure("SendInput incomplete");
    return Status::success();
}

// Errors: "OpenClipboard failed", "GlobalAlloc failed", "GlobalLock failed",
// "SetClipboardData failed".
Status copy_text_to_clipboard(std::string_view text) {
    std::u16string units = utf16_from_utf8(text);
    const size_t bytes = (units.size() + 1) * sizeof(char16_t);

    OpenedClipboard clipboard;
    if (!clipboard.is_open()) return Status::failure("OpenClipboard failed");
    EmptyClipboard();

    GlobalBlock block(bytes);
    if (!block.get()) return Status::failure("GlobalAlloc failed");
    void* memory = GlobalLock(block.get());
    if (!memory) return Status::failure("GlobalLock failed");
    std::memcpy(memory, units.c_str(), bytes);  // the units and their terminating zero
    GlobalUnlock(block.get());

    if (!SetClipboardData(CF_UNICODETEXT, block.get())) {
        return Status::failure("SetClipboardData failed");
    }
    block.hand_over();  // the clipboard owns it now
    return Status::success();
}

// Builds the keystrokes and sends them: without a key delay in one call (an empty list sends
// nothing), with one a call per keystroke and the delay after each.
Status type_text(std::string_view text, bool with_suffix, const TypingOptions& options) {
    const KeyboardLayout layout =
        options.mode == TypeMode::keys ? foreground_keyboard_layout() : KeyboardLayout{};
    if (options.key_delay_ms == 0) {
        std::vector<KeyEvent> events = key_events_for_text(text, with_suffix, options, layout);
        if (events.empty()) return Status::success();
        return send_key_events(events);
    }
    for (const Keystroke& keys : keystrokes_for_text(text, with_suffix, options, layout)) {
        Status sent = send_key_events(keys);
        if (!sent.ok()) return sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(options.key_delay_ms));
    }
    return Status::success();
}

}  // namespace

const Desktop& platform_desktop() {
    static const Desktop desktop{type_text, copy_text_to_clipboard};
    return desktop;
}
