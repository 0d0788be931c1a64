#include "ui/win32/window_win32.h"  // <windows.h> before <shellapi.h>

#include <shellapi.h>

#include <optional>

#include "core/utf8.h"
#include "core/version.h"
#include "desktop/desktop.h"
#include "net/endpoint.h"
#include "platform/user_files.h"
#include "receiver/receiver_state.h"
#include "receiver/scan_journal.h"
#include "receiver/start_settings.h"
#include "server/server_start.h"
#include "ui/port_text.h"
#include "ui/window_layout.h"
#include "ui/window_texts.h"

namespace {

// A delivery check box into the state, saved at once.
void switch_delivery(HWND window, ReceiverState& state, int id, std::atomic<bool>& setting) {
    const StartSettings before = settings_in_use(state);
    setting.store(is_checked(window, id), std::memory_order_relaxed);
    save_changed_settings(state, before);
}

// Only the advertised address changes: the server listens on every interface.
void select_adapter(HWND window, ReceiverState& state) {
    const LRESULT index = SendMessageW(GetDlgItem(window, IDC_ADAPTER), CB_GETCURSEL, 0, 0);
    if (index < 0) return;
    const StartSettings before = settings_in_use(state);
    state.selected_adapter.store(size_t(index), std::memory_order_relaxed);
    refresh_endpoint_views(window, state);
    save_changed_settings(state, before);
}

void apply_port(HWND window, const std::shared_ptr<ReceiverState>& state) {
    // The whole text counts: a port followed by anything else is not a port.
    const std::optional<uint16_t> port = port_from_text(control_text(window, IDC_PORT));
    if (!port) return;
    const uint16_t previous = state->port.exchange(*port, std::memory_order_relaxed);
    const Status started = start_server(state);
    if (started.ok()) {
        refresh_endpoint_views(window, *state);
        save_setting(*state, SETTING_PORT, std::to_string(*port));
        return;
    }
    // The old server still listens on the previous port, so the URL, the QR code, the status
    // line, the ping reply and the redirects must go on naming that one.
    state->port.store(previous, std::memory_order_relaxed);
    set_control_text(window, IDC_PORT, std::to_string(previous));
    show_message_box(window, started.error(), PORT_ERROR_CAPTION, MB_ICONERROR);
}

void copy_url(ReceiverState& state) {
    const std::string url = pairing_url(state);
    if (platform_desktop().copy_text(url).ok()) push_log_line(state, copied_url_log_line(url));
}

// Windows asks for elevation; a refused prompt is not reported, the request is logged anyway.
void allow_firewall(HWND window, ReceiverState& state) {
    const uint16_t port = state.port.load(std::memory_order_relaxed);
    const std::u16string parameters = utf16_from_utf8(firewall_rule_parameters(port));
    ShellExecuteW(window, L"runas", L"netsh", wide(parameters), nullptr, SW_HIDE);
    push_log_line(state, firewall_log_line(port));
}

// Shell's own result: above 32 when the program (Explorer, the browser) was started.
void open_with_shell(HWND window, ReceiverState& state, const std::string& target) {
    const std::u16string text = utf16_from_utf8(target);
    const auto started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(window, L"open", wide(text), nullptr, nullptr, SW_SHOWNORMAL));
    if (started <= 32) push_log_line(state, "Could not open " + target);
}

void open_scan_journal(HWND window, ReceiverState& state) {
    Result<std::filesystem::path> folder = scan_journal_folder();
    if (!folder.ok()) return push_log_line(state, "Scan journal: " + folder.error());
    open_with_shell(window, state, path_text(folder.value()));
}

void show_about(HWND window, const ReceiverState& state) {
    show_message_box(window, about_text(state.ca_fingerprint), about_caption(RECEIVER_VERSION),
                     MB_ICONINFORMATION);
}

// Changes apply at once: a new pairing URL and QR code when the pairing key changed, and the
// name of the key pressed after a scan in the check box.
void open_settings(HWND window, ReceiverState& state) {
    if (!show_settings_dialog(window, state)) return;
    refresh_endpoint_views(window, state);
    set_control_text(window, IDC_PRESS_ENTER, press_key_label(current_typing(state).suffix_key));
}

}  // namespace

void on_command(HWND window, const std::shared_ptr<ReceiverState>& state, WPARAM wparam) {
    const int id = LOWORD(wparam);
    switch (id) {
        case IDC_ADAPTER:
            if (HIWORD(wparam) == CBN_SELCHANGE) select_adapter(window, *state);
            break;
        case IDC_APPLY_PORT:
            apply_port(window, state);
            break;
        case IDC_COPY_URL:
            copy_url(*state);
            break;
        case IDC_AUTO_TYPE:
            switch_delivery(window, *state, id, state->auto_type);
            break;
        case IDC_PRESS_ENTER:
            switch_delivery(window, *state, id, state->press_enter);
            break;
        case IDC_COPY_CLIPBOARD:
            switch_delivery(window, *state, id, state->copy_to_clipboard);
            break;
        case IDC_ALLOW_FIREWALL:
            allow_firewall(window, *state);
            break;
        case IDC_CLEAR_LOG:
            set_control_text(window, IDC_LOG, "");
            break;
        case IDC_ABOUT:
            show_about(window, *state);
            break;
        case IDC_OPEN_JOURNAL:
            open_scan_journal(window, *state);
            break;
        case IDC_OPEN_BROWSER:
            open_with_shell(window, *state,
                            receiver_page_url(state->port.load(std::memory_order_relaxed)));
            break;
        case IDC_SETTINGS:
            open_settings(window, *state);
            break;
        case IDM_TRAY_SHOW:
            show_from_tray(window);
            break;
        case IDM_TRAY_PAUSE: {
            const bool paused = !state->typing_paused.load(std::memory_order_relaxed);
            state->typing_paused.store(paused, std::memory_order_relaxed);
            push_log_line(*state, std::string(paused ? TYPING_PAUSED_LINE : TYPING_RESUMED_LINE));
            break;
        }
        case IDM_TRAY_EXIT:
            DestroyWindow(window);
            break;
    }
}
