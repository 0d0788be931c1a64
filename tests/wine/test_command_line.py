"""The Windows command line: GetCommandLineW split by the Windows rules, options honoured by the
receiver, and the error text of a port that is already taken."""

import os
import socket
import unittest

from quillmark_wine import (RECEIVER_EXE, TARGET_EXE, Receiver, free_port,
                            open_module_session, post_scan, run_target, windows_path,
                            without_identity_lines)

session = None
work_dir = None


def setUpModule():
    global session, work_dir
    session, work_dir = open_module_session("command_line")



def read_arguments(name):
    with open(os.path.join(work_dir, name), "rb") as file:
        pieces = file.read().decode("utf-8").split("\0")
    return pieces[:-1]  # every argument ends in NUL


class ArgumentSplitting(unittest.TestCase):
    def test_arguments_survive_the_windows_command_line(self):
        # Wine quotes each Linux argument into one command line; the receiver's splitter must
        # give back exactly the same list.
        tricky = ["plain", "two words", 'quote"inside', "back\\slash", "trailing\\",
                  'ends with quote\\"', "", "é ünï 😀", '"', '\\\\"x"', "--port=9000",
                  "tab\there"]
        self.assertEqual(run_target(session, work_dir, "--print-args", "round.bin", *tricky), 0)
        self.assertEqual(read_arguments("round.bin"), ["--print-args", "round.bin", *tricky])

    def test_raw_command_line_follows_the_windows_rules(self):
        raw = (f'"{windows_path(TARGET_EXE)}" --print-args raw.bin "two words" a\\\\b '
               f'a\\\\\\\\"b c" d\\"e "" é "x""y" tail\\\\ "open quote')
        expected = ["--print-args", "raw.bin",
                    "two words",  # quotes group blanks
                    "a\\\\b",  # backslashes before anything but a quote are literal
                    "a\\\\b c",  # 2n backslashes before a quote: n of them, the quote groups
                    'd"e',  # an odd count escapes the quote
                    "",  # empty quotes are an empty argument
                    "é",
                    'x"y',  # "" inside quotes is one literal quote
                    "tail\\\\",
                    "open quote"]  # an unclosed quote runs to the end
        self.assertEqual(run_target(session, work_dir, "--run", "run.txt", raw), 0)
        with open(os.path.join(work_dir, "run.txt")) as file:
            self.assertEqual(file.read(), "exit 0")
        self.assertEqual(read_arguments("raw.bin"), expected)


class ReceiverOptions(unittest.TestCase):
    def test_options_are_read_from_the_command_line(self):
        port = free_port()
        receiver = Receiver(session, work_dir,
                            ["--port", "abc",  # not a number: ignored, and not an option
                             "-p", str(port),
                             "--NO-COPY",  # options are case-sensitive: ignored
                             "Ünïcödé \"quoted\" \\arg\\", "--port=9",  # unknown: ignored
                             "--headless", "--no-enter"], port)
        self.addCleanup(receiver.stop)
        receiver.wait_listening()
        self.assertEqual(post_scan(port, {"text": "OPT", "pressEnter": True}).status, 200)
        receiver.wait_for_output("] OPT (100% - ")
        self.assertEqual(receiver.scan_log_lines()[-1], ("BARCODE", "OPT", 100, "Copied & Typed"))


class BadTypingValues(unittest.TestCase):
    def test_each_bad_value_refuses_the_start_with_its_error(self):
        rows = [
            (["--key-delay", "1001"], "--key-delay takes a whole number of milliseconds from 0 "
                                      'to 1000, not "1001"'),
            (["--type-mode", "scan"], '--type-mode takes unicode or keys, not "scan"'),
            (["--suffix-key"], "--suffix-key takes enter or tab, but no value was given"),
            (["--prefix", "é" * 65], "--prefix takes a text of at most 64 characters, not "
                                     f'"{"é" * 65}"'),
            (["--postfix", "x" * 65], "--postfix takes a text of at most 64 characters, not "
                                      f'"{"x" * 65}"'),
        ]
        for arguments, error in rows:
            with self.subTest(arguments[0]):
                log_path = os.path.join(work_dir, f"refused{arguments[0]}.log")
                process = session.start([RECEIVER_EXE, "--headless", "-p", str(free_port()),
                                         *arguments], cwd=work_dir, stdout_path=log_path)
                try:
                    code = process.wait(timeout=60)
                finally:
                    session.stop(process)
                self.assertEqual(code, 2)
                with open(log_path, "rb") as log:
                    self.assertEqual(log.read().decode("utf-8"), error + "\r\n")


class BusyPort(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        assert run_target(session, work_dir, "--format-message", "10048", "eaddrinuse.txt") == 0
        with open(os.path.join(work_dir, "eaddrinuse.txt"), encoding="utf-8") as file:
            # Wine's message table has no Winsock texts; the receiver then says so.
            cls.system_message = file.read() or "Unknown error"

    def expect_listen_error(self, port):
        receiver = Receiver.headless(session, work_dir, port=port)
        self.addCleanup(receiver.stop)
        expected = (f"Could not listen on port {port}: {self.system_message} (os error 10048)")
        receiver.wait_for_output("Pairing URL: ")  # start-up carries on after the failure
        first_line = without_identity_lines(receiver.output().split("\n"))[0]
        self.assertEqual(first_line, expected)
        self.assertNotIn("HTTPS listening", receiver.output())

    def test_port_held_by_another_program(self):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as holder:
            holder.bind(("0.0.0.0", 0))
            holder.listen()
            self.expect_listen_error(holder.getsockname()[1])

    def test_second_receiver_on_the_same_port(self):
        first = Receiver.headless(session, work_dir).wait_listening()
        self.addCleanup(first.stop)
        self.expect_listen_error(first.port)
        # The first one still serves.
        self.assertEqual(post_scan(first.port, {"text": "STILL"}).status, 200)


if __name__ == "__main__":
    unittest.main()
