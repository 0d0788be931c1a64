"""Scans posted over HTTPS are typed into the focused Windows window and copied to the Windows
clipboard, as the options and "pressEnter" say, and logged on the console."""

import threading
import unittest

from quillmark_wine import VK_PACKET, Receiver, TargetWindow, open_module_session, post_scan

session = None
work_dir = None
target = None


def setUpModule():
    global session, work_dir, target
    session, work_dir = open_module_session("delivery")
    target = TargetWindow(session, work_dir)
    unittest.addModuleCleanup(target.close)
    target.wait_focused()


class DeliveryCase(unittest.TestCase):
    """One receiver per class, started with the class's OPTIONS."""

    OPTIONS = ()

    @classmethod
    def setUpClass(cls):
        cls.receiver = Receiver.headless(session, work_dir, *cls.OPTIONS).wait_listening()
        cls.addClassCleanup(cls.receiver.stop)

    def deliver(self, fields, typed, clipboard, outcome, hold_clipboard=False):
        """Posts one scan after clearing the window and the clipboard, then checks what was
        typed, what the clipboard holds and the scan's log line. With `hold_clipboard` the
        target window keeps the clipboard open while the scan is delivered."""
        target.clear()
        logged_before = len(self.receiver.scan_log_lines())
        if hold_clipboard:
            target.request("hold-clipboard")
        try:
            reply = post_scan(self.receiver.port, fields)
        finally:
            if hold_clipboard:
                target.request("release-clipboard")  # the reply came after the delivery
        self.assertEqual(reply.status, 200, reply.body)

        snapshot = target.wait_until(lambda s: s.edit == typed and s.clipboard == clipboard)
        self.assertEqual(snapshot.edit, typed, "typed text")
        self.assertEqual(snapshot.clipboard, clipboard, "clipboard text")

        lines = self.receiver.scan_log_lines()
        self.assertEqual(len(lines), logged_before + 1, self.receiver.output())
        scan_format, text, confidence, logged_outcome = lines[-1]
        self.assertEqual(scan_format, fields.get("format", "BARCODE"))
        self.assertEqual(text.replace("\r", ""), fields["text"].strip().replace("\r", ""))
        self.assertEqual(confidence, fields.get("confidence", 100))
        self.assertEqual(logged_outcome, outcome)
        return reply


class DefaultOptions(DeliveryCase):
    def test_ascii_text_is_copied_and_typed_with_enter(self):
        reply = self.deliver({"text": "ABC123", "format": "CODE-128", "confidence": 88},
                             typed="ABC123\r\n", clipboard="ABC123",
                             outcome="Copied & Typed+Enter")
        self.assertEqual(reply.json(), {"ok": True, "scan": {
            "text": "ABC123", "format": "CODE-128", "confidence": 88}})

    def test_accented_letter_arrives_intact(self):
        self.deliver({"text": "café"}, typed="café\r\n", clipboard="café",
                     outcome="Copied & Typed+Enter")

    def test_emoji_is_typed_as_a_surrogate_pair(self):
        self.deliver({"text": "x\U0001F600y", "format": "QR-CODE"}, typed="x\U0001F600y\r\n",
                     clipboard="x\U0001F600y", outcome="Copied & Typed+Enter")

    def test_tab_is_typed(self):
        self.deliver({"text": "A\tB"}, typed="A\tB\r\n", clipboard="A\tB",
                     outcome="Copied & Typed+Enter")

    def test_line_break_is_not_typed_but_copied(self):
        self.deliver({"text": "12\r\n34"}, typed="1234\r\n", clipboard="12\r\n34",
                     outcome="Copied & Typed+Enter")

    def test_press_enter_false_suppresses_enter(self):
        self.deliver({"text": "NOENTER", "pressEnter": False}, typed="NOENTER",
                     clipboard="NOENTER", outcome="Copied & Typed")

    def test_press_enter_true_keeps_enter(self):
        self.deliver({"text": "WITHENTER", "pressEnter": True}, typed="WITHENTER\r\n",
                     clipboard="WITHENTER", outcome="Copied & Typed+Enter")

    def test_concurrent_scans_are_typed_one_after_the_other(self):
        target.clear()
        texts = [letter * 40 for letter in "KLMNOP"]
        replies = [None] * len(texts)

        def send(index):
            replies[index] = post_scan(self.receiver.port, {"text": texts[index]})

        threads = [threading.Thread(target=send, args=(i,)) for i in range(len(texts))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual([r.status for r in replies], [200] * len(texts))

        snapshot = target.wait_until(lambda s: s.edit.count("\r\n") == len(texts))
        typed_lines = snapshot.edit.split("\r\n")[:-1]
        # Each scan's keys stay together; only the order of the scans is open.
        self.assertEqual(sorted(typed_lines), sorted(texts), snapshot.edit)
        # Copy and typing of one scan form a unit, so the clipboard holds the last one typed.
        self.assertEqual(snapshot.clipboard, typed_lines[-1])


# Every printable ASCII character, the blank inside (the route trims the ends).
PRINTABLE_ASCII = "".join(map(chr, range(0x21, 0x50))) + " " + "".join(map(chr, range(0x50, 0x7F)))


class KeyCodes(DeliveryCase):
    OPTIONS = ("--type-mode", "keys")

    def test_every_printable_ascii_character_is_typed_exactly(self):
        self.assertEqual(len(PRINTABLE_ASCII), 95)
        self.deliver({"text": PRINTABLE_ASCII}, typed=PRINTABLE_ASCII + "\r\n",
                     clipboard=PRINTABLE_ASCII, outcome="Copied & Typed+Enter")
        # Every ASCII character has a key on a US keyboard. X's keymap also puts ( and ) on
        # two keypad keys that have no Windows key; Wine picks those, so they fall back.
        packets = {c for _, key, _, c in target.dump().typed if key == VK_PACKET}
        self.assertLessEqual(packets, {"(", ")"})
        self.receiver.wait_for_output(
            "Typing: key codes, no pause between characters, Enter after each scan")

    def test_characters_without_a_key_arrive_as_unicode(self):
        text = "a\u00e9b\u20acc\U0001F600d"
        self.deliver({"text": text}, typed=text + "\r\n", clipboard=text,
                     outcome="Copied & Typed+Enter")
        packets = "".join(c for _, key, _, c in target.dump().typed if key == VK_PACKET)
        # The emoji's two halves arrive as two characters.
        self.assertEqual(packets, "\u00e9\u20ac\ud83d\ude00")


class TabPrefixPostfix(DeliveryCase):
    OPTIONS = ("--type-mode", "keys", "--suffix-key", "tab", "--prefix", "<", "--postfix", "#>")

    def test_tab_moves_the_focus_and_affixes_are_typed_but_not_copied(self):
        self.deliver({"text": "TAB1"}, typed="<TAB1#>", clipboard="TAB1",
                     outcome="Copied & Typed+Tab")
        snapshot = target.wait_until(lambda s: s.second_focus)
        self.assertTrue(snapshot.second_focus and not snapshot.focus, snapshot)
        self.receiver.wait_for_output("Typing: key codes, no pause between characters, Tab after "
                                      'each scan, prefix "<", postfix "#>"')

    def test_press_enter_false_suppresses_tab(self):
        self.deliver({"text": "NOTAB", "pressEnter": False}, typed="<NOTAB#>", clipboard="NOTAB",
                     outcome="Copied & Typed")
        self.assertTrue(target.dump().focus, "the focus stays where it was")


class KeyDelay(DeliveryCase):
    OPTIONS = ("--key-delay", "30")
    DELAY_MS = 30

    def test_characters_arrive_paced_and_exact(self):
        self.deliver({"text": "PACED-1234"}, typed="PACED-1234\r\n", clipboard="PACED-1234",
                     outcome="Copied & Typed+Enter")
        typed = target.dump().typed
        self.assertEqual("".join(c for *_, c in typed), "PACED-1234\r")
        # The times are the system's own stamps of each key press, so a busy target window
        # cannot bunch them up; 5 ms of slack for the clock's granularity.
        gaps = [later[0] - earlier[0] for earlier, later in zip(typed, typed[1:])]
        self.assertTrue(all(gap >= self.DELAY_MS - 5 for gap in gaps), gaps)

    def test_a_paced_scan_is_answered_at_once_and_the_next_waits_its_turn(self):
        target.clear()
        first, second = "F" * 40 + "1234567890" * 2 + "last", "SECOND"
        self.assertEqual(len(first), 64)
        self.assertEqual(post_scan(self.receiver.port, {"text": first}).status, 200)
        self.assertEqual(post_scan(self.receiver.port, {"text": second}).status, 200)
        # Both answers came while the first scan was still being typed (about 2 s).
        self.assertNotIn("last", target.dump().edit)
        expected = first + "\r\n" + second + "\r\n"
        snapshot = target.wait_until(lambda s: s.edit == expected, timeout=20)
        self.assertEqual(snapshot.edit, expected)
        self.assertEqual(snapshot.clipboard, second)
        outcomes = [(text, outcome) for _, text, _, outcome in self.receiver.scan_log_lines()]
        self.assertEqual(outcomes[-2:], [(first, "Copied & Typed+Enter"),
                                         (second, "Copied & Typed+Enter")])


class BusyClipboard(DeliveryCase):
    def test_scan_is_typed_when_another_program_holds_the_clipboard(self):
        self.deliver({"text": "BUSY"}, typed="BUSY\r\n", clipboard=None, outcome="Typed+Enter",
                     hold_clipboard=True)
        # Nothing stays open or broken: the next scan is copied again.
        self.deliver({"text": "FREE"}, typed="FREE\r\n", clipboard="FREE",
                     outcome="Copied & Typed+Enter")


class NoEnterOption(DeliveryCase):
    OPTIONS = ("--no-enter",)

    def test_press_enter_true_cannot_force_enter(self):
        self.deliver({"text": "NOENTER1", "pressEnter": True}, typed="NOENTER1",
                     clipboard="NOENTER1", outcome="Copied & Typed")


class NoTypeOption(DeliveryCase):
    OPTIONS = ("--no-type",)

    def test_text_is_copied_only(self):
        # Keys from a call that returned before the reply would already be queued to the
        # window ahead of the dump request, so an empty edit means none were sent.
        self.deliver({"text": "COPYONLY"}, typed="", clipboard="COPYONLY", outcome="Copied")


class NoCopyOption(DeliveryCase):
    OPTIONS = ("--no-copy",)

    def test_text_is_typed_only(self):
        self.deliver({"text": "TYPEONLY"}, typed="TYPEONLY\r\n", clipboard=None,
                     outcome="Typed+Enter")


class NoTypeNoCopyOptions(DeliveryCase):
    OPTIONS = ("--no-type", "--no-copy")

    def test_scan_is_only_received(self):
        self.deliver({"text": "NOTHING"}, typed="", clipboard=None, outcome="Received")


if __name__ == "__main__":
    unittest.main()
