"""Saved settings under Wine: what the user changes in the window is in the registry
(HKCU\\Software\\Quillmark\\Receiver) at once and back at the next start; the command line wins
and is not saved; --ignore-settings neither reads nor writes the key. The window is read and
driven with the window suite's probe. Typing stays off (--no-type), so no keys reach other
windows."""

import os
import subprocess
import unittest

import test_window as window
from quillmark_wine import (VK_PACKET, Receiver, TargetWindow, forget_settings, fresh_directory,
                            free_port, open_session, run_to_file, save_setting, saved_settings)
from test_window import (IDC_AUTO_TYPE, IDC_COPY_CLIPBOARD, IDC_LOG, IDC_PRESS_ENTER,
                         IDC_SETTINGS, IDC_STATUS, IDC_URL, SCREENSHOTS, log_lines, post_scan,
                         scaled)
from wine_harness import wait_for

IDC_KEY_DELAY, IDC_KEY_DELAY_ERROR, IDC_TYPE_MODE, IDC_SUFFIX_KEY = 201, 202, 203, 204
IDC_PREFIX, IDC_PREFIX_ERROR, IDC_POSTFIX, IDC_POSTFIX_ERROR = 205, 206, 207, 208
IDC_PAIRING_KEY, IDC_START_WITH_WINDOWS, IDC_CLOSE_TO_TRAY, IDOK, IDCANCEL = 209, 210, 211, 1, 2
WS_DISABLED = 0x08000000
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"

session = None
work_dir = None


def setUpModule():
    global session, work_dir
    session = open_session("settings")
    unittest.addModuleCleanup(session.close)
    window.session = session  # the probe helpers run in this module's session
    work_dir = fresh_directory("settings", "run")
    os.makedirs(SCREENSHOTS, exist_ok=True)


def checks(controls):
    return [controls[i]["check"] for i in (IDC_AUTO_TYPE, IDC_PRESS_ENTER, IDC_COPY_CLIPBOARD)]


class SettingsCase(unittest.TestCase):
    """Each test starts with no saved settings and its own receivers."""

    def setUp(self):
        forget_settings(session, work_dir)
        self.receiver = None

    def tearDown(self):
        self.stop()
        forget_settings(session, work_dir)  # nothing left for programs started without a helper

    def start(self, *options, typing=False):
        """A receiver with its window that reads and saves settings (unless told otherwise),
        typing only when asked; returns its controls once its first log line shows."""
        self.stop()
        port = free_port()
        arguments = ["-p", str(port), *options, *(() if typing else ("--no-type",))]
        self.receiver = Receiver(session, work_dir, arguments, port, saved_settings=True)
        return window.wait_for_window(lambda c: c.get(IDC_LOG, {}).get("text"),
                                      "the first log line", 60)

    def open_dialog(self):
        """Opens the settings dialog from the window; returns its controls by id."""
        window.probe("post-click", IDC_SETTINGS)  # posted: the dialog's own loop runs on
        opened = wait_for(lambda: window.probe("dialog", "dump", expect_window=False)[0] == 0,
                          30, interval=0.1)
        self.assertTrue(opened, "the settings dialog did not open")
        return self.dialog_controls()

    def dialog_controls(self):
        return window.controls_by_id(window.probe("dialog", "dump")[1])

    def close_dialog(self, button):
        window.probe("dialog", "click", button)
        closed = wait_for(lambda: window.probe("dialog", "dump", expect_window=False)[0] == 3,
                          30, interval=0.1)
        self.assertTrue(closed, "the settings dialog did not close")

    def stop(self):
        if self.receiver:
            self.receiver.stop()
            self.receiver = None
            gone = wait_for(lambda: window.probe("dump", expect_window=False)[0] == 2, 30)
            self.assertTrue(gone, "the receiver's window outlived its process")


class SavedSettings(SettingsCase):

    def test_a_check_box_changed_in_the_window_is_changed_after_a_restart(self):
        self.assertEqual(checks(self.start()), [0, 1, 1])
        window.probe("click", IDC_COPY_CLIPBOARD)
        self.assertEqual(saved_settings(session, work_dir), {"copy_to_clipboard": "false"},
                         "saved at once; the port and --no-type of the command line are not")
        self.assertEqual(checks(self.start()), [0, 1, 0])
        window.probe("click", IDC_COPY_CLIPBOARD)
        self.assertEqual(saved_settings(session, work_dir), {"copy_to_clipboard": "true"})

    def test_the_command_line_wins_and_is_not_saved(self):
        save_setting(session, work_dir, "auto_type", "true")
        save_setting(session, work_dir, "press_enter", "false")
        save_setting(session, work_dir, "key_delay", "5")
        controls = self.start("--key-delay", "7")
        self.assertEqual(checks(controls), [0, 0, 1], "--no-type wins, the saved Enter holds")
        self.assertIn("Typing: Unicode characters, 7 ms between characters, Enter after each scan",
                      log_lines(controls[IDC_LOG]["text"]))
        self.assertEqual(saved_settings(session, work_dir),
                         {"auto_type": "true", "press_enter": "false", "key_delay": "5"})

    def test_a_bad_saved_value_is_named_in_the_log_and_the_default_used(self):
        save_setting(session, work_dir, "key_delay", "5000")
        lines = log_lines(self.start()[IDC_LOG]["text"])
        self.assertIn('Ignored the saved setting key_delay: --key-delay takes a whole number of '
                      'milliseconds from 0 to 1000, not "5000"', lines)
        self.assertFalse([line for line in lines if line.startswith("Typing: ")],
                         "the default typing, which has no line")

    def test_ignore_settings_neither_reads_nor_writes_the_key(self):
        save_setting(session, work_dir, "copy_to_clipboard", "false")
        self.assertEqual(checks(self.start("--ignore-settings")), [0, 1, 1], "nothing read")
        window.probe("click", IDC_PRESS_ENTER)
        self.assertEqual(window.controls_by_id(window.dump())[IDC_PRESS_ENTER]["check"], 0)
        self.assertEqual(saved_settings(session, work_dir), {"copy_to_clipboard": "false"},
                         "nothing written")


    def test_a_typing_option_changed_in_the_dialog_takes_effect_on_the_next_scan(self):
        self.start("--type-mode", "unicode", typing=True)  # into the target window below
        target = TargetWindow(session, work_dir)
        self.addCleanup(target.close)
        port = self.receiver.port
        target.wait_focused()
        self.assertEqual(post_scan(port, {"text": "UNI"}), 200)
        snapshot = target.wait_until(lambda s: s.edit == "UNI\r\n")
        self.assertEqual({key for _, key, _, c in snapshot.typed if c != "\r"}, {VK_PACKET},
                         (snapshot, window.text_of(IDC_LOG)))

        controls = self.open_dialog()
        self.assertEqual(controls[IDC_TYPE_MODE]["items"],
                         ["Unicode characters", "Key codes of the keyboard layout"])
        self.assertEqual((controls[IDC_KEY_DELAY]["text"], controls[IDC_TYPE_MODE]["selected"],
                          controls[IDC_SUFFIX_KEY]["selected"]), ("0", 0, 0))
        # A value beyond the command line's limit: its message, and OK disabled until it goes.
        window.probe("dialog", "set-text", IDC_KEY_DELAY, "1001")
        window.probe("dialog", "set-text", IDC_PREFIX, "x" * 65)
        controls = self.dialog_controls()
        self.assertEqual(controls[IDC_KEY_DELAY_ERROR]["text"], "0 to 1000 ms, whole numbers")
        self.assertEqual(controls[IDC_PREFIX_ERROR]["text"], "At most 64 characters")
        self.assertTrue(controls[IDOK]["style"] & WS_DISABLED)
        dialog_screenshot("settings-dialog-invalid.png")
        window.probe("dialog", "click", IDOK)  # a disabled button does nothing
        self.assertEqual(window.probe("dialog", "dump", expect_window=False)[0], 0)
        window.probe("dialog", "set-text", IDC_KEY_DELAY, "0")
        window.probe("dialog", "set-text", IDC_PREFIX, "")
        window.probe("dialog", "select", IDC_TYPE_MODE, 1)
        window.probe("dialog", "select", IDC_SUFFIX_KEY, 1)
        controls = self.dialog_controls()
        self.assertEqual(controls[IDC_KEY_DELAY_ERROR]["text"], "")
        self.assertFalse(controls[IDOK]["style"] & WS_DISABLED)
        self.close_dialog(IDOK)

        self.assertEqual(window.text_of(IDC_PRESS_ENTER), "Press Tab after typing barcode")
        target.clear()
        self.assertEqual(post_scan(port, {"text": "KEYS"}), 200)
        snapshot = target.wait_until(lambda s: s.edit == "KEYS" and s.second_focus)
        self.assertEqual(snapshot.edit, "KEYS")
        self.assertTrue(snapshot.second_focus, "Tab moved the focus")
        self.assertNotIn(VK_PACKET, {key for _, key, _, _ in snapshot.typed}, "key codes")
        self.assertEqual(saved_settings(session, work_dir),
                         {"type_mode": "keys", "suffix_key": "tab"},
                         "what the dialog changed, and nothing else")

    def test_pairing_key_and_start_with_windows_from_the_dialog(self):
        self.start()
        port = self.receiver.port
        url = window.text_of(IDC_URL)
        self.open_dialog()
        window.probe("dialog", "click", IDC_PAIRING_KEY)
        window.probe("dialog", "click", IDC_START_WITH_WINDOWS)
        self.close_dialog(IDOK)
        keyed = window.text_of(IDC_URL)
        self.assertRegex(keyed, r"%3Fkey%3D[\w-]{22}$", "a new pairing URL, with its key")
        self.assertTrue(keyed.startswith(url))
        self.assertEqual(post_scan(port, {"text": "NOKEY"}), 403)
        code, run = run_to_file(session, work_dir, ["reg", "query", RUN_KEY, "/v", "Quillmark"],
                                "run-query.out")
        self.assertEqual(code, 0, run)
        self.assertRegex(run, r'Quillmark\s+REG_SZ\s+"[A-Z]:\\.*\\quillmark-receiver\.exe" '
                              r"--minimized")
        self.assertEqual(saved_settings(session, work_dir),
                         {"pairing_key": "true", "start_with_windows": "true"})

        self.open_dialog()
        self.assertEqual(self.dialog_controls()[IDC_PAIRING_KEY]["check"], 1)
        window.probe("dialog", "click", IDC_PAIRING_KEY)
        window.probe("dialog", "click", IDC_START_WITH_WINDOWS)
        self.close_dialog(IDOK)
        self.assertEqual(window.text_of(IDC_URL), url)
        self.assertEqual(post_scan(port, {"text": "OPEN"}), 200)
        code, _ = run_to_file(session, work_dir, ["reg", "query", RUN_KEY, "/v", "Quillmark"],
                              "run-query.out")
        self.assertNotEqual(code, 0, "the Run value is gone")

    def test_cancel_changes_nothing(self):
        self.start()
        self.open_dialog()
        window.probe("dialog", "select", IDC_SUFFIX_KEY, 1)
        self.close_dialog(IDCANCEL)
        self.assertEqual(window.text_of(IDC_PRESS_ENTER), "Press Enter after typing barcode")
        self.assertEqual(saved_settings(session, work_dir), {})


class Tray(SettingsCase):
    """The notification area icon's menu commands, sent to the window as the menu sends them:
    Wine gives no other process the program's menus."""
    IDM_TRAY_SHOW, IDM_TRAY_PAUSE, IDM_TRAY_EXIT = 301, 302, 303
    WS_VISIBLE = 0x10000000

    def visible(self):
        return bool(window.dump()["style"] & self.WS_VISIBLE)

    def test_pause_typing_keeps_receiving_copying_and_logging(self):
        self.start(typing=True)
        target = TargetWindow(session, work_dir)
        self.addCleanup(target.close)
        target.wait_focused()
        port = self.receiver.port
        window.probe("command", self.IDM_TRAY_PAUSE)
        self.assertEqual(post_scan(port, {"text": "HELD"}), 200)
        controls = window.wait_for_window(lambda c: "HELD" in c[IDC_LOG]["text"], "the scan")
        lines = log_lines(controls[IDC_LOG]["text"])
        self.assertIn("Typing paused: scans are received, copied and logged, not typed", lines)
        self.assertTrue(lines[-1].endswith("HELD (100% - Copied & Paused)"), lines[-1])
        snapshot = target.dump()
        self.assertEqual((snapshot.edit, snapshot.clipboard), ("", "HELD"), "not typed")
        window.probe("command", self.IDM_TRAY_PAUSE)
        self.assertEqual(post_scan(port, {"text": "GOES"}), 200)
        target.wait_until(lambda s: s.edit == "GOES\r\n")
        self.assertIn("Typing resumed", log_lines(window.text_of(IDC_LOG)))

    def test_close_and_minimize_hide_to_the_tray_when_asked(self):
        save_setting(session, work_dir, "close_to_tray", "true")
        self.start()
        window.probe("close")
        self.assertTrue(wait_for(lambda: not self.visible(), 20), "hidden, not closed")
        self.assertIsNone(self.receiver.process.poll())
        self.assertEqual(post_scan(self.receiver.port, {"text": "HIDDEN"}), 200)
        window.probe("command", self.IDM_TRAY_SHOW)
        self.assertTrue(wait_for(self.visible, 20), "shown again")
        window.probe("minimize")
        self.assertTrue(wait_for(lambda: not self.visible(), 20), "minimised to the tray")
        window.probe("command", self.IDM_TRAY_EXIT)
        self.assertEqual(self.receiver.process.wait(timeout=30), 0)

    def test_minimized_starts_hidden_and_serves(self):
        self.start("--minimized")
        self.assertFalse(self.visible())
        self.assertEqual(post_scan(self.receiver.port, {"text": "QUIET"}), 200)
        window.wait_for_window(lambda c: "QUIET" in c[IDC_LOG]["text"], "the scan")


def dialog_screenshot(name):
    """The settings dialog alone, cut from a screenshot of the screen."""
    left, top, right, bottom = window.probe("dialog", "dump")[1]["outer"]
    whole = os.path.join(work_dir, "screen.png")
    session.screenshot(whole)
    path = os.path.join(SCREENSHOTS, name)
    subprocess.run(["convert", whole, "-crop", f"{right - left}x{bottom - top}+{left}+{top}",
                    "+repage", path], check=True, timeout=60)
    return path


class DialogAtDpi(unittest.TestCase):
    """The dialog at 96 and 144 DPI: every control where the table puts it, scaled, also after
    a move to a monitor of another DPI; a screenshot of each for people to look at."""

    def test_layout_and_screenshots(self):
        for dpi in (96, 144):
            with self.subTest(dpi=dpi):
                session.set_dpi(dpi)
                self.addCleanup(session.set_dpi, 96)
                case = SettingsCase()
                case.receiver = None
                port = free_port()
                case.receiver = Receiver(session, work_dir, ["-p", str(port), "--no-type"], port)
                try:
                    window.wait_for_window(lambda c: c.get(IDC_STATUS, {}).get("text"),
                                           "the window", 60)
                    controls = case.open_dialog()
                    left, top, right, bottom = controls[IDC_CLOSE_TO_TRAY]["rect"]
                    self.assertEqual((left, top), (scaled(14, dpi), scaled(258, dpi)))
                    self.assertEqual(controls[IDC_CLOSE_TO_TRAY]["text"],
                                     "Close to the notification area")
                    snapshot = window.probe("dialog", "dump")[1]
                    self.assertEqual(snapshot["client_size"], [scaled(432, dpi), scaled(330, dpi)])
                    self.assertEqual(snapshot["title"], "Quillmark Settings")
                    shot = dialog_screenshot("settings-dialog.png" if dpi == 96 else
                                             f"settings-dialog-{dpi}dpi.png")
                    self.assertTrue(os.path.getsize(shot) > 0)
                    # Moved to a monitor of another DPI (Wine never says so itself).
                    other = 192 if dpi == 144 else 144
                    window.probe("dialog", "dpi-changed", other)
                    moved = case.dialog_controls()[IDC_CLOSE_TO_TRAY]["rect"]
                    self.assertEqual(moved[:2], [scaled(14, other), scaled(258, other)])
                    case.close_dialog(IDCANCEL)
                finally:
                    case.stop()


if __name__ == "__main__":
    unittest.main()
