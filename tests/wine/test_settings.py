"""Saved settings under Wine: what the user changes in the window is in the registry
(HKCU\\Software\\Quillmark\\Receiver) at once and back at the next start; the command line wins
and is not saved; --ignore-settings neither reads nor writes the key. The window is read and
driven with the window suite's probe. Typing stays off (--no-type), so no keys reach other
windows."""

import unittest

import test_window as window
from quillmark_wine import (Receiver, forget_settings, fresh_directory, free_port, open_session,
                            save_setting, saved_settings)
from test_window import IDC_AUTO_TYPE, IDC_COPY_CLIPBOARD, IDC_LOG, IDC_PRESS_ENTER, log_lines
from wine_harness import wait_for

session = None
work_dir = None


def setUpModule():
    global session, work_dir
    session = open_session("settings")
    unittest.addModuleCleanup(session.close)
    window.session = session  # the probe helpers run in this module's session
    work_dir = fresh_directory("settings", "run")


def checks(controls):
    return [controls[i]["check"] for i in (IDC_AUTO_TYPE, IDC_PRESS_ENTER, IDC_COPY_CLIPBOARD)]


class SavedSettings(unittest.TestCase):
    def setUp(self):
        forget_settings(session, work_dir)
        self.receiver = None

    def tearDown(self):
        self.stop()

    def start(self, *options):
        """A receiver with its window that reads and saves settings (unless told otherwise);
        returns its controls once its first log line shows."""
        self.stop()
        port = free_port()
        self.receiver = Receiver(session, work_dir, ["-p", str(port), "--no-type", *options],
                                 port, saved_settings=True)
        return window.wait_for_window(lambda c: c.get(IDC_LOG, {}).get("text"),
                                      "the first log line", 60)

    def stop(self):
        if self.receiver:
            self.receiver.stop()
            self.receiver = None
            gone = wait_for(lambda: window.probe("dump", expect_window=False)[0] == 2, 30)
            self.assertTrue(gone, "the receiver's window outlived its process")

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


if __name__ == "__main__":
    unittest.main()
