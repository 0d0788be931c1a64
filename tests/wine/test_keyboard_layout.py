"""Key-code typing with a German X keyboard layout on the display: the text arrives exactly as
sent, although z and y (and many symbols) sit on other keys than on a US keyboard.

Wine 8 tells Windows programs a US layout whatever the X layout (VkKeyScanExW answers with US
keys, and umlauts have no key), and maps those keys back to the same characters; so this checks
that key codes survive a non-US X keymap, while the unit tests check the German and French
layout tables themselves."""

import unittest

from quillmark_wine import VK_PACKET, Receiver, TargetWindow, open_module_session, post_scan

session = None
work_dir = None
target = None


def setUpModule():
    global session, work_dir, target
    session, work_dir = open_module_session("keyboard_layout", x_keyboard_layout="de")
    target = TargetWindow(session, work_dir)
    unittest.addModuleCleanup(target.close)
    target.wait_focused()


class GermanLayout(unittest.TestCase):
    def test_key_codes_type_the_exact_text(self):
        receiver = Receiver.headless(session, work_dir, "--type-mode", "keys").wait_listening()
        self.addCleanup(receiver.stop)
        # z/y and the symbols that move, AltGr characters, a dead key's character and umlauts.
        for text in ("zy", "ZY-zy#@€^°ß?äÖü'\"/(=)&_;:<>|~{}[]\\"):
            with self.subTest(text):
                target.clear()
                self.assertEqual(post_scan(receiver.port, {"text": text}).status, 200)
                snapshot = target.wait_until(lambda s: s.edit == text + "\r\n")
                self.assertEqual(snapshot.edit, text + "\r\n")
        # The letters went as key presses, not as Unicode packets.
        self.assertEqual([c for _, key, _, c in snapshot.typed if key == VK_PACKET and c in
                          "zyZY"], [])


if __name__ == "__main__":
    unittest.main()
