"""Headless output on a Windows console: a graphical program started from a command prompt
shows the listening line, the pairing URL and a QR code that a camera can read."""

import os
import subprocess
import tempfile
import unittest

from quillmark_wine import (RECEIVER_EXE, TARGET_EXE, free_port, listening_line,
                            open_module_session, windows_path)
from wine_harness import wait_for

session = None
work_dir = None


def setUpModule():
    global session, work_dir
    session, work_dir = open_module_session("console")



def decode_screen():
    """The QR code on the screen, as zbarimg reads it; "" while there is none."""
    with tempfile.NamedTemporaryFile(suffix=".png", dir=work_dir) as shot:
        session.screenshot(shot.name)
        done = subprocess.run(["zbarimg", "-q", "--raw", shot.name], capture_output=True,
                              timeout=60)
        return done.stdout.decode(errors="replace").strip()


class CommandPromptConsole(unittest.TestCase):
    def test_banner_and_log_show_on_the_console(self):
        port = free_port()
        # target_window opens a console and starts the receiver the way a command prompt does:
        # no handles handed over, so the receiver has to find the console by itself.
        console = session.start(
            [TARGET_EXE, "--console", "console.txt",
             f'"{windows_path(RECEIVER_EXE)}" --headless -p {port}'], cwd=work_dir)
        done_path = os.path.join(work_dir, "console.done")
        self.addCleanup(lambda: session.stop(console))
        self.addCleanup(lambda: open(done_path, "w").close())

        # Once the code can be read off the screen, the whole banner is on the console.
        decoded = wait_for(decode_screen, 30, interval=0.5)
        host = decoded.split("//", 1)[1].split(":", 1)[0] if "//" in decoded else "?"
        self.assertEqual(decoded, f"https://{host}:{port}/?pc=https%3A%2F%2F{host}%3A{port}"
                                  "%2Fapi%2Fscan")

        # The console wraps long lines and pads short ones: compare without blanks.
        text_path = os.path.join(work_dir, "console.txt")
        listening = "".join(listening_line(port).split())

        # Read after the decode, so the console holds the whole banner.
        with open(os.path.join(work_dir, "console.read"), "w"):
            pass
        self.assertTrue(wait_for(lambda: os.path.exists(text_path), 20),
                        "the console was not read")
        with open(text_path, encoding="utf-8") as file:
            text = file.read()
        compact = "".join(text.split())
        self.assertIn(listening, compact)
        self.assertIn(f"PairingURL:{decoded}", compact)
        self.assertNotIn("\x1b", text)  # colours became console attributes, not raw escapes
        self.assertNotIn("[38;5;", text)
        self.assertIn("▀", text)  # UTF-8 arrived as characters, not as code-page debris
        self.assertNotIn("â", text)

        open(done_path, "w").close()
        console.wait(timeout=30)


if __name__ == "__main__":
    unittest.main()
