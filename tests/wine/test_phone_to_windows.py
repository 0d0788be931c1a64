"""The whole road of a scan with nothing mocked between phone and PC: Chromium opens the Windows
receiver's pairing URL (the advertised address replaced by 127.0.0.1), pairs itself, reads an
EAN-13 from its fake camera and posts it; the receiver under Wine types it into the focused
window and puts it on the Windows clipboard; a scan whose reply is lost on the way back is sent
again and typed once. The browser side is phone_scan.mjs."""

import json
import os
import re
import shutil
import subprocess
import unittest

from quillmark_wine import Receiver, TargetWindow, open_module_session

EAN13 = "4006381333931"
HERE = os.path.dirname(os.path.abspath(__file__))
PAIRING_LINE = re.compile(r"^Pairing URL: (https://([0-9.]+):(\d+)/\?pc=https%3A%2F%2F([0-9.]+)"
                          r"%3A(\d+)%2Fapi%2Fscan)$", re.M)

session = None
work_dir = None
target = None


def setUpModule():
    global session, work_dir, target
    if shutil.which("node") is None:
        raise AssertionError("node is missing: run `make web-setup` first")
    session, work_dir = open_module_session("phone_to_windows")
    target = TargetWindow(session, work_dir)
    unittest.addModuleCleanup(target.close)
    target.wait_focused()


def loopback_pairing_url(output):
    """The pairing URL as the receiver printed it, with its address on loopback in the host and
    in the "pc" parameter alike: the test never contacts a LAN address."""
    match = PAIRING_LINE.search(output)
    assert match, f"no pairing URL printed:\n{output}"
    url, host, port, pc_host, pc_port = match.groups()
    assert (host, port) == (pc_host, pc_port), url
    return url.replace(host, "127.0.0.1"), int(port)


class PhoneToWindows(unittest.TestCase):
    def test_camera_scan_is_typed_into_the_focused_window_and_copied(self):
        receiver = Receiver.headless(session, work_dir).wait_listening()
        self.addCleanup(receiver.stop)
        receiver.wait_for_output("Pairing URL: ")
        url, port = loopback_pairing_url(receiver.output())
        self.assertEqual(port, receiver.port)
        target.clear()

        done = subprocess.run(["node", os.path.join(HERE, "phone_scan.mjs"), url, work_dir],
                              cwd=HERE, capture_output=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        phone = json.loads(done.stdout.decode())
        self.assertEqual(phone["errors"], [], "the page threw")

        # Paired from the URL alone, and the receiver under Wine answered the ping.
        self.assertEqual(phone["paired"]["relayLabel"], "Wi-Fi Auto")
        self.assertRegex(phone["paired"]["wifiBadge"], r"^Connected \(.+\)$")
        for scan in phone["scans"]:
            self.assertIsNone(scan["error"])
            self.assertEqual((scan["format"], scan["text"]), ("EAN-13", EAN13))
            self.assertTrue(scan["meta"].endswith(" · Sent via Wi-Fi"), scan["meta"])

        # The first scan pressed Enter after the code, the second (option off) did not.
        snapshot = target.wait_until(lambda s: s.edit == f"{EAN13}\r\n{EAN13}" and
                                     s.clipboard == EAN13)
        self.assertEqual(snapshot.edit, f"{EAN13}\r\n{EAN13}", "typed into the focused window")
        self.assertEqual(snapshot.clipboard, EAN13, "on the Windows clipboard")
        self.assertTrue(snapshot.foreground and snapshot.focus, "the window kept the focus")

        confidences = [int(scan["confidence"].split("%")[0]) for scan in phone["scans"]]
        self.assertEqual(receiver.scan_log_lines(), [
            ("EAN-13", EAN13, confidences[0], "Copied & Typed+Enter"),
            ("EAN-13", EAN13, confidences[1], "Copied & Typed"),
        ])

    def test_scan_whose_reply_is_lost_is_typed_once(self):
        receiver = Receiver.headless(session, work_dir).wait_listening()
        self.addCleanup(receiver.stop)
        receiver.wait_for_output("Pairing URL: ")
        url, _ = loopback_pairing_url(receiver.output())
        target.clear()

        # The proxy cuts the connection once the receiver has answered: the phone sends again.
        done = subprocess.run(["node", os.path.join(HERE, "phone_scan.mjs"), url, work_dir,
                               "--lose-first-reply"], cwd=HERE, capture_output=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        phone = json.loads(done.stdout.decode())
        self.assertEqual(phone["errors"], [], "the page threw")
        self.assertEqual(phone["cut"], 1)
        [scan] = phone["scans"]
        self.assertTrue(scan["meta"].endswith(" · Sent via Wi-Fi"), scan["meta"])

        confidence = int(scan["confidence"].split("%")[0])
        receiver.wait_for_output("% - Already received)")
        self.assertEqual(receiver.scan_log_lines(), [
            ("EAN-13", EAN13, confidence, "Copied & Typed+Enter"),
            ("EAN-13", EAN13, confidence, "Already received"),
        ])
        snapshot = target.wait_until(lambda s: s.edit == f"{EAN13}\r\n" and s.clipboard == EAN13)
        self.assertEqual(snapshot.edit, f"{EAN13}\r\n", "typed once into the focused window")


if __name__ == "__main__":
    unittest.main()
