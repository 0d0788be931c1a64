// The settings dialog. Its controls are made at the main window's DPI with its message font;
// the dialog manager gives Tab, the labels' mnemonics, Enter for OK and Escape for Cancel.
#include <array>
#include <string>

#include "core/utf8.h"
#include "receiver/receiver_state.h"
#include "receiver/start_settings.h"
#include "ui/dpi_scale.h"
#include "ui/settings_dialog_layout.h"
#include "ui/settings_form.h"
#include "ui/win32/window_win32.h"

static_assert(STYLE_WS_GROUP == WS_GROUP && STYLE_BS_DEFPUSHBUTTON == BS_DEFPUSHBUTTON);

namespace {

// A dialog with no controls of its own: they come from SETTINGS_DIALOG_CONTROLS at
// WM_INITDIALOG, sized for the DPI. No menu, the default class, no title yet.
struct alignas(DWORD) EmptyDialogTemplate {
    DLGTEMPLATE dialog;
    WORD menu = 0;
    WORD window_class = 0;
    WORD title = 0;
};

// The open dialog's controls (labels have no id to find them by) and its font after a move to
// another DPI. One dialog at a time, on the main thread.
struct OpenDialog {
    std::array<HWND, SETTINGS_DIALOG_CONTROLS.size()> controls{};
    UniqueGdiObject<HFONT> font;
};
OpenDialog open_dialog;

void set_checked(HWND dialog, int id, bool on) {
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

template <size_t N>
void fill_list(HWND dialog, int id, const std::array<std::string_view, N>& items, size_t chosen) {
    for (std::string_view item : items) {
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(wide(utf16_from_utf8(item))));
    }
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, chosen, 0);
}

size_t chosen_item(HWND dialog, int id) {
    return SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0) == 1 ? 1 : 0;
}

SettingsForm read_form(HWND dialog) {
    SettingsForm form;
    form.key_delay = control_text(dialog, IDC_KEY_DELAY);
    form.mode = chosen_item(dialog, IDC_TYPE_MODE) == 1 ? TypeMode::keys : TypeMode::unicode;
    form.suffix_key = chosen_item(dialog, IDC_SUFFIX_KEY) == 1 ? SuffixKey::tab : SuffixKey::enter;
    form.prefix = control_text(dialog, IDC_PREFIX);
    form.postfix = control_text(dialog, IDC_POSTFIX);
    form.pairing_key = is_checked(dialog, IDC_PAIRING_KEY);
    form.start_with_windows = is_checked(dialog, IDC_START_WITH_WINDOWS);
    form.close_to_tray = is_checked(dialog, IDC_CLOSE_TO_TRAY);
    return form;
}

// The message next to each field that breaks its rule, and OK only while none does.
void show_form_errors(HWND dialog) {
    const SettingsFormErrors errors = check_settings_form(read_form(dialog));
    set_control_text(dialog, IDC_KEY_DELAY_ERROR, errors.key_delay);
    set_control_text(dialog, IDC_PREFIX_ERROR, errors.prefix);
    set_control_text(dialog, IDC_POSTFIX_ERROR, errors.postfix);
    EnableWindow(GetDlgItem(dialog, IDC_SETTINGS_OK), errors.ok());
}

// The client area for the DPI, the frame around it as it is, centred on the owner.
void size_dialog(HWND dialog, int dpi) {
    RECT outer{};
    RECT client{};
    GetWindowRect(dialog, &outer);
    GetClientRect(dialog, &client);
    const int width =
        outer.right - outer.left - client.right + scale_for_dpi(SETTINGS_DIALOG_WIDTH, dpi);
    const int height =
        outer.bottom - outer.top - client.bottom + scale_for_dpi(SETTINGS_DIALOG_HEIGHT, dpi);
    RECT owner{};
    GetWindowRect(GetWindow(dialog, GW_OWNER), &owner);
    const int left = (owner.left + owner.right - width) / 2;
    const int top = (owner.top + owner.bottom - height) / 2;
    SetWindowPos(dialog, nullptr, left > 0 ? left : 0, top > 0 ? top : 0, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void on_init(HWND dialog, ReceiverState& state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
    SetWindowTextW(dialog, wide(utf16_from_utf8(SETTINGS_DIALOG_TITLE)));
    const int dpi = current_dpi();
    size_dialog(dialog, dpi);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    open_dialog = {};
    for (size_t i = 0; i < SETTINGS_DIALOG_CONTROLS.size(); ++i) {
        const ControlLayout& layout = SETTINGS_DIALOG_CONTROLS[i];
        open_dialog.controls[i] =
            create_child_control(dialog, instance, current_font(), layout,
                                 control_rect_for_dpi(layout, dpi), layout.text);
    }
    const SettingsForm form =
        form_from_settings(current_typing(state), !current_pairing_key(state).empty(),
                           state.start_with_windows.load(std::memory_order_relaxed),
                           state.close_to_tray.load(std::memory_order_relaxed));
    fill_list(dialog, IDC_TYPE_MODE, TYPE_MODE_ITEMS, form.mode == TypeMode::keys ? 1 : 0);
    fill_list(dialog, IDC_SUFFIX_KEY, SUFFIX_KEY_ITEMS, form.suffix_key == SuffixKey::tab ? 1 : 0);
    set_control_text(dialog, IDC_KEY_DELAY, form.key_delay);
    set_control_text(dialog, IDC_PREFIX, form.prefix);
    set_control_text(dialog, IDC_POSTFIX, form.postfix);
    set_checked(dialog, IDC_PAIRING_KEY, form.pairing_key);
    set_checked(dialog, IDC_START_WITH_WINDOWS, form.start_with_windows);
    set_checked(dialog, IDC_CLOSE_TO_TRAY, form.close_to_tray);
    show_form_errors(dialog);
    SetFocus(GetDlgItem(dialog, IDC_KEY_DELAY));
}

// Everything takes effect for the next scan; each change is saved, each failure logged.
void apply_form(HWND dialog, ReceiverState& state) {
    const SettingsForm form = read_form(dialog);
    if (!check_settings_form(form).ok()) return;  // OK is disabled then; Enter still lands here
    const StartSettings before = settings_in_use(state);
    set_typing(state, typing_from_form(form));
    if (form.pairing_key != before.command_line.pairing_key) {
        if (Status done = switch_pairing_key(state, form.pairing_key); !done.ok()) {
            push_log_line(state, done.error());
        }
    }
    if (form.start_with_windows != before.start_with_windows) {
        if (Status done = set_start_with_windows(form.start_with_windows); done.ok()) {
            state.start_with_windows = form.start_with_windows;
        } else {
            push_log_line(state, done.error());
        }
    }
    state.close_to_tray = form.close_to_tray;
    save_changed_settings(state, before);
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* state = reinterpret_cast<ReceiverState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            on_init(dialog, *reinterpret_cast<ReceiverState*>(lparam));
            return FALSE;  // the focus is set already
        case WM_DPICHANGED: {
            UniqueGdiObject<HFONT> font = move_for_dpi(
                dialog, lparam, open_dialog.controls.data(), SETTINGS_DIALOG_CONTROLS.data(),
                SETTINGS_DIALOG_CONTROLS.size(), HIWORD(wparam),
                open_dialog.font ? open_dialog.font.get() : current_font());
            if (font) open_dialog.font = std::move(font);
            return TRUE;
        }
        case WM_COMMAND:
            if (HIWORD(wparam) == EN_CHANGE) {
                show_form_errors(dialog);
            } else if (LOWORD(wparam) == IDC_SETTINGS_OK && state) {
                apply_form(dialog, *state);
            } else if (LOWORD(wparam) == IDC_SETTINGS_CANCEL) {
                EndDialog(dialog, IDCANCEL);
            }
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool show_settings_dialog(HWND owner, ReceiverState& state) {
    EmptyDialogTemplate empty{};
    empty.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    empty.dialog.cx = 200;  // dialog units; resized for the DPI at WM_INITDIALOG
    empty.dialog.cy = 150;
    const INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &empty.dialog, owner, dialog_procedure,
                                reinterpret_cast<LPARAM>(&state));
    open_dialog = {};  // the controls are gone: their font may go too
    return result == IDOK;
}
