"""The installer (`make installer`) under Wine: a silent install puts the program, the Start-menu
shortcut and the Apps & features entry in place; a silent uninstall removes them and keeps the
user's settings. Wine's netsh is a stub, so the firewall rule itself cannot be checked here: only
that the installer does not fail because of it. Prints the install and uninstall times."""

import glob
import os
import time
import unittest

from quillmark_wine import (WINDOWS_BUILD, forget_settings, open_module_session,
                            project_version, run_to_file, save_setting, saved_settings)
from wine_harness import wait_for

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmark"
SETUP = os.path.join(WINDOWS_BUILD, f"quillmark-setup-{project_version()}.exe")

session = None
work_dir = None


def setUpModule():
    global session, work_dir
    if not os.path.isfile(SETUP):
        raise AssertionError(f"{SETUP} is missing: run `make installer` first")
    session, work_dir = open_module_session("installer")


def program_dir():
    return os.path.join(session.prefix_dir, "drive_c", "Program Files", "Quillmark")


def shortcuts():
    return glob.glob(os.path.join(session.prefix_dir, "drive_c", "**", "Quillmark.lnk"),
                     recursive=True)


def uninstall_entry():
    code, text = run_to_file(session, work_dir, ["reg", "query", UNINSTALL_KEY], "entry.out")
    if code != 0:
        return {}
    entry = {}
    for line in text.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            entry[parts[0]] = parts[2]
    return entry


class SilentInstall(unittest.TestCase):
    def test_install_then_uninstall(self):
        forget_settings(session, work_dir)
        save_setting(session, work_dir, "key_delay", "15")  # the user's, kept by an uninstall
        started = time.monotonic()
        self.assertEqual(session.run([SETUP, "/S"], cwd=work_dir, timeout=300), 0)
        installed = time.monotonic() - started
        exe = os.path.join(program_dir(), "quillmark-receiver.exe")
        self.assertTrue(os.path.isfile(exe))
        with open(exe, "rb") as copied, \
                open(os.path.join(WINDOWS_BUILD, "quillmark-receiver.exe"), "rb") as built:
            self.assertEqual(copied.read(), built.read(), "the portable exe, as it is")
        self.assertTrue([s for s in shortcuts() if "Start Menu" in s], shortcuts())
        entry = uninstall_entry()
        self.assertEqual(entry.get("DisplayName"), "Quillmark")
        self.assertEqual(entry.get("DisplayVersion"), project_version())
        self.assertEqual(entry.get("Publisher"), "Quillmark")
        self.assertRegex(entry.get("DisplayIcon", ""), r"\\quillmark-receiver\.exe,0$")
        self.assertRegex(entry.get("UninstallString", ""), r'^".*\\uninstall\.exe"$')
        self.assertGreater(int(entry.get("EstimatedSize", "0"), 16), 1000, "KiB, the exe's size")
        print(f"\ninstaller {os.path.getsize(SETUP)} bytes; silent install {installed:.1f} s; "
              f"uninstall entry {entry}")

        # The uninstaller copies itself away and runs from there: wait for what it removes.
        started = time.monotonic()
        self.assertEqual(session.run([os.path.join(program_dir(), "uninstall.exe"), "/S"],
                                     cwd=work_dir, timeout=300), 0)
        gone = wait_for(lambda: not os.path.exists(program_dir()) and not uninstall_entry()
                        and not shortcuts(), 120, interval=0.2)
        uninstalled = time.monotonic() - started
        self.assertTrue(gone, f"left behind: {os.path.exists(program_dir())}, "
                              f"{uninstall_entry()}, {shortcuts()}")
        self.assertEqual(saved_settings(session, work_dir), {"key_delay": "15"},
                         "a silent uninstall keeps the settings")
        print(f"silent uninstall {uninstalled:.1f} s")
        forget_settings(session, work_dir)


if __name__ == "__main__":
    unittest.main()
