"""The Windows receiver and the test target window under Wine, driven from Linux with curl.

Paths come from the environment that suite.cmake sets, with defaults for a run by hand:
  QUILLMARK_WINDOWS_BUILD   the Windows build tree (quillmark-receiver.exe, tests/wine/...)
  QUILLMARK_WINE_PREFIX     the Wine prefix of this build tree
  QUILLMARK_WINE_ARTIFACTS  where logs of each run are kept
"""

import json
import os
import re
import shutil
import socket
import subprocess
import unittest
from dataclasses import dataclass

from wine_harness import WineSession, describe_process, wait_for

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINDOWS_BUILD = os.environ.get("QUILLMARK_WINDOWS_BUILD",
                               os.path.join(SOURCE_DIR, "build", "windows"))
WINE_PREFIX = os.environ.get("QUILLMARK_WINE_PREFIX",
                             os.path.join(SOURCE_DIR, "build", "wine-prefix"))
ARTIFACTS = os.environ.get("QUILLMARK_WINE_ARTIFACTS",
                           os.path.join(SOURCE_DIR, "build", "wine-artifacts"))
RECEIVER_EXE = os.path.join(WINDOWS_BUILD, "quillmark-receiver.exe")
TARGET_EXE = os.path.join(WINDOWS_BUILD, "tests", "wine", "target_window.exe")
PROBE_EXE = os.path.join(WINDOWS_BUILD, "tests", "wine", "window_probe.exe")


def project_version():
    """The version in the top CMakeLists.txt's project(): what the exe must carry."""
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as cmake_lists:
        return re.search(r"project\(quillmark VERSION (\d+\.\d+\.\d+)", cmake_lists.read())[1]


def require_windows_build():
    """A missing exe is a failure, never a skip: `make test` builds it first."""
    for path in (RECEIVER_EXE, TARGET_EXE):
        if not os.path.isfile(path):
            raise AssertionError(f"{path} is missing: run `make windows` first")


def fresh_directory(*parts):
    path = os.path.join(ARTIFACTS, *parts)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def open_session(suite_name, **options):
    """A started WineSession whose logs go to the suite's artifact directory; `options` go to
    WineSession (e.g. `screen`, `x_keyboard_layout`)."""
    require_windows_build()
    session = WineSession(WINE_PREFIX, fresh_directory(suite_name, "session"), **options)
    return session.__enter__()


def open_module_session(suite_name, **options):
    """For a test module's setUpModule: the started session (`options` as for open_session),
    closed by a module clean-up, and a fresh directory for the module's run files."""
    session = open_session(suite_name, **options)
    unittest.addModuleCleanup(session.close)
    return session, fresh_directory(suite_name, "run")


def windows_path(linux_path):
    """The path as Windows programs under Wine see it: the Z: drive is the Linux root."""
    return "Z:" + linux_path.replace("/", "\\")


def free_port():
    """A TCP port that nothing listens on at the moment."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("0.0.0.0", 0))
        return probe.getsockname()[1]


# -- HTTP through curl, always to 127.0.0.1 ----------------------------------------------------

@dataclass
class Response:
    status: int
    headers: dict  # lower-case names
    body: bytes

    def json(self):
        return json.loads(self.body.decode("utf-8"))


def curl(url, body=None, timeout=15, command_prefix=()):
    """`command_prefix` runs curl elsewhere, e.g. in a receiver's `NetworkNamespace`."""
    command = [*command_prefix, "curl", "-sS", "-k", "-i", "--noproxy", "*", "--max-time",
               str(timeout)]
    if body is not None:
        command += ["-H", "Content-Type: application/json", "--data-binary", "@-"]
    command.append(url)
    done = subprocess.run(command, input=body, capture_output=True, timeout=timeout + 10)
    if done.returncode != 0:
        raise AssertionError(f"curl {url} failed ({done.returncode}): "
                             f"{done.stderr.decode(errors='replace').strip()}")
    head, _, payload = done.stdout.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return Response(int(lines[0].split()[1]), headers, payload)


def post_scan(port, fields):
    body = json.dumps(fields, ensure_ascii=False).encode("utf-8")
    return curl(f"https://127.0.0.1:{port}/api/scan", body)


# -- the receiver ------------------------------------------------------------------------------

LOG_LINE = re.compile(r"^\[(\d\d):(\d\d):(\d\d)\] \[(.*?)\] (.*) \((\d+)% - (.*)\)$", re.S)


def listening_line(port):
    """The start message of a receiver with its lasting identity (the prefix's own)."""
    return (f"HTTPS listening on 0.0.0.0:{port}. Phones that trust the Quillmark local CA "
            "connect without a warning.")


# What the lasting identity says at a start: depends on the prefix's history (the first start
# makes the CA) and on the machine's adapters (a public address is left out); checked by
# test_server.py.
IDENTITY_LINE_PREFIXES = ("Made a new local CA in ", "Left ", "Identity file ")


def without_identity_lines(lines):
    return [line for line in lines if not line.startswith(IDENTITY_LINE_PREFIXES)]


def identity_folder():
    """%LOCALAPPDATA%\\Quillmark\\identity of the prefix's user."""
    users = os.path.join(WINE_PREFIX, "drive_c", "users")
    for user in sorted(os.listdir(users)):
        local = os.path.join(users, user, "AppData", "Local")
        if user != "Public" and os.path.isdir(local):
            return os.path.join(local, "Quillmark", "identity")
    raise AssertionError(f"no user's AppData\\Local in {users}")


def ca_fingerprint():
    """The SHA-256 fingerprint of the prefix's local CA, as the receiver shows it."""
    result = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
                             os.path.join(identity_folder(), "ca.crt")],
                            capture_output=True, text=True, check=True)
    return result.stdout.strip().split("=", 1)[1]


class Receiver:
    """quillmark-receiver.exe with the given arguments; its console output goes to a file.
    `command_prefix` is passed on to `WineSession.start`. It runs with `--ignore-settings`, so
    that no test sees what another one saved in the shared prefix, unless `saved_settings`."""

    def __init__(self, session, work_dir, arguments, port, extra_env=None, command_prefix=(),
                 saved_settings=False):
        self.session = session
        self.port = port
        self.log_path = os.path.join(work_dir, f"receiver-{port}.log")
        if not saved_settings:
            arguments = [*arguments, "--ignore-settings"]
        self.process = session.start([RECEIVER_EXE, *arguments], cwd=work_dir,
                                     stdout_path=self.log_path, extra_env=extra_env,
                                     command_prefix=command_prefix)

    @classmethod
    def headless(cls, session, work_dir, *options, port=None):
        port = port or free_port()
        return cls(session, work_dir, ["--headless", "-p", str(port), *options], port)

    def output(self):
        """Everything printed so far, as text with LF line ends."""
        with open(self.log_path, "rb") as log:
            return log.read().decode("utf-8", errors="replace").replace("\r\n", "\n")

    def wait_for_output(self, needle, timeout=20):
        found = wait_for(lambda: needle in self.output(), timeout)
        assert found, (f"{needle!r} not printed within {timeout} s; output:\n{self.output()}\n"
                       f"{describe_process(self.process)}")

    # Generous: Wine may hold a program started from Linux until the prefix's services are up.
    def wait_listening(self, timeout=90):
        self.wait_for_output(listening_line(self.port), timeout)
        return self

    def scan_log_lines(self):
        """The delivered scans' log lines, parsed: (format, text, confidence, outcome). A text
        with a line break spans several output lines, so the split is on the time stamp."""
        entries = re.split(r"\n(?=\[\d\d:\d\d:\d\d\] )", "\n" + self.output())
        parsed = []
        for entry in entries:
            match = LOG_LINE.match(entry.rstrip("\n"))
            if match:
                parsed.append((match[4], match[5], int(match[6]), match[7]))
        return parsed

    def stop(self):
        self.session.stop(self.process)


# -- the test target window --------------------------------------------------------------------

VK_PACKET = 0xE7  # the virtual key of a Unicode key packet


@dataclass
class Snapshot:
    edit: str
    clipboard: object  # str, or None when the clipboard holds no text
    foreground: bool
    focus: bool
    second: str = ""  # the one-line box below the edit control
    second_focus: bool = False
    # (key-down time in ms, its virtual key and scan code, character) per character typed since
    # clear
    typed: list = None


class TargetWindow:
    """target_window.exe: a window whose edit control has the focus, with a one-line box below
    it. It answers requests written into its own directory (see target_window.cpp)."""

    def __init__(self, session, work_dir):
        self.session = session
        self.directory = os.path.join(work_dir, "target")
        os.makedirs(self.directory, exist_ok=True)
        self.sequence = 0
        self.process = session.start([TARGET_EXE], cwd=self.directory)

    def _path(self, name):
        return os.path.join(self.directory, name)

    def _read(self, name):
        try:
            with open(self._path(name), "rb") as file:
                return file.read().decode("utf-8")
        except FileNotFoundError:
            return None

    def request(self, command, timeout=15):
        self.sequence += 1
        done = f"done {self.sequence}\n"
        with open(self._path("request.tmp"), "w") as file:
            file.write(f"{command} {self.sequence}")
        os.replace(self._path("request.tmp"), self._path("request"))
        response = wait_for(lambda: (self._read("response") or "").startswith(done) and
                            self._read("response"), timeout)
        assert response, f"the target window did not answer {command!r} within {timeout} s"
        return response

    def dump(self):
        response = self.request("dump")
        typed = [(int(time), int(key), int(scan), chr(int(unit))) for time, key, scan, unit in
                 (line.split() for line in (self._read("chars.out") or "").splitlines())]
        return Snapshot(edit=self._read("edit.out") or "", clipboard=self._read("clipboard.out"),
                        foreground="foreground yes" in response,
                        focus="\nfocus yes" in response, second=self._read("second.out") or "",
                        second_focus="second-focus yes" in response, typed=typed)

    def clear(self):
        self.request("clear")

    def wait_until(self, predicate, timeout=10):
        """Dumps until `predicate(snapshot)` holds; returns the last snapshot."""
        last = [None]

        def check():
            last[0] = self.dump()
            return predicate(last[0])

        wait_for(check, timeout, interval=0.05)
        return last[0]

    def wait_focused(self, timeout=20):
        snapshot = self.wait_until(lambda s: s.foreground and s.focus, timeout)
        assert snapshot.foreground and snapshot.focus, \
            f"the target window never got the keyboard focus: {snapshot}"

    def close(self):
        if self.process.poll() is None:
            try:
                self.request("quit", timeout=5)
                self.process.wait(timeout=5)
            except Exception:
                pass
        self.session.stop(self.process)


# -- the saved settings in the prefix's registry ---------------------------------------------

SETTINGS_KEY = r"HKCU\Software\Quillmark\Receiver"


def run_to_file(session, work_dir, command, name, timeout=60):
    """Runs a Windows program to its end with its output in a file (a pipe could be held open
    by a helper Wine starts); returns (exit code, output text)."""
    path = os.path.join(work_dir, name)
    process = session.start(command, cwd=work_dir, stdout_path=path)
    try:
        code = process.wait(timeout=timeout)
    finally:
        session.stop(process)
    with open(path, "rb") as output:
        return code, output.read().decode("utf-8", errors="replace")


def saved_settings(session, work_dir):
    """The values of the receiver's settings key by name (text, as `reg query` shows them); {}
    when there is no key."""
    code, text = run_to_file(session, work_dir, ["reg", "query", SETTINGS_KEY], "reg-query.out")
    if code != 0:
        return {}
    values = {}
    for line in text.splitlines():
        match = re.match(r"^\s+(\S+)\s+(REG_\w+)\s*(.*)$", line)
        if match:
            values[match[1]] = match[3].rstrip("\r")
    return values


def save_setting(session, work_dir, name, value):
    code = session.run(["reg", "add", SETTINGS_KEY, "/v", name, "/d", value, "/f"], cwd=work_dir)
    assert code == 0, f"reg add {name} failed ({code})"


def forget_settings(session, work_dir):
    """Deletes the receiver's saved settings (no key is no error)."""
    session.run(["reg", "delete", r"HKCU\Software\Quillmark", "/f"], cwd=work_dir)


def run_target(session, work_dir, *arguments, timeout=60):
    """Runs target_window.exe in one of its file-writing modes; returns its exit code."""
    return session.run([TARGET_EXE, *arguments], cwd=work_dir, timeout=timeout)
