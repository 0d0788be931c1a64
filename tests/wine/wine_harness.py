"""Runs Windows programs under Wine for the tests: one X display, one Wine prefix per build tree
with a persistent wineserver, and every process ended by its own PID.

    with WineSession(prefix_dir) as wine:
        program = wine.start([exe, "--headless"], cwd=work_dir, stdout_path=log_path)
        ...
        wine.stop(program)

Leaving the block ends the processes still running (by PID), then `wineserver -k` for the
prefix, then the X server. `NetworkNamespace` gives a program adapters of the test's own choice
(with `WineSession.restart_server`). See README.md in this directory.
"""

import fcntl
import glob
import os
import select
import signal
import subprocess
import time

WINE = "/usr/lib/wine/wine64"  # directly: the `wine` wrapper prints a "wine32 missing" banner
WINESERVER = "/usr/lib/wine/wineserver"
XVFB = "Xvfb"
READY_MARKER = ".quillmark-ready"


def wait_for(condition, timeout=10.0, interval=0.05):
    """Polls `condition` until it returns a true value (which is returned) or `timeout`
    seconds pass (then the last value is returned)."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def end_process(process, grace=1.0):
    """Ends one process by its PID: SIGTERM, then SIGKILL after `grace` seconds."""
    if process.poll() is not None:
        return
    try:
        os.kill(process.pid, signal.SIGTERM)
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        os.kill(process.pid, signal.SIGKILL)
        process.wait(timeout=10)
    except ProcessLookupError:
        pass


def describe_process(process):
    """For a failure message: how the process ended, or where each of its threads waits and
    which other Wine processes run (a crash dialog, a stuck service)."""
    code = process.poll()
    if code is not None:
        return f"process {process.pid} ended with {code}"
    threads = []
    for task in sorted(glob.glob(f"/proc/{process.pid}/task/*")):
        try:
            with open(os.path.join(task, "syscall")) as syscall, \
                    open(os.path.join(task, "comm")) as comm:
                threads.append(f"{comm.read().strip()}:{syscall.read().split(' ', 1)[0]}")
        except OSError:
            pass
    others = subprocess.run(["ps", "-eo", "pid,stat,etimes,args"], capture_output=True,
                            text=True, check=False).stdout.splitlines()
    wine = [line for line in others if "wine" in line or ".exe" in line]
    return (f"process {process.pid} runs; threads (name:system call): {' '.join(threads)}\n"
            "Wine processes:\n" + "\n".join(wine))


class WineSession:
    def __init__(self, prefix_dir, log_dir, screen="1280x800", x_keyboard_layout=None):
        """`x_keyboard_layout` (e.g. "de") is set on the display before any Wine program
        starts, since Wine reads the X keyboard layout when a program starts."""
        self.prefix_dir = os.path.abspath(prefix_dir)
        self.x_keyboard_layout = x_keyboard_layout
        self.log_dir = os.path.abspath(log_dir)
        self.screen = screen  # the X screen's size, WIDTHxHEIGHT
        self.display = None
        self._xvfb = None
        self._lock_file = None
        self._processes = []
        self._server_started = False

    # -- lifecycle -------------------------------------------------------------------------

    def __enter__(self):
        try:
            self.open()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def open(self):
        os.makedirs(self.log_dir, exist_ok=True)
        self._lock_prefix()
        self.start_display()
        if self.x_keyboard_layout:
            subprocess.run(["setxkbmap", "-display", self.display, self.x_keyboard_layout],
                           check=True, timeout=30)
        self.prepare_prefix()

    def close(self):
        for process in reversed(self._processes):
            end_process(process)
        self._processes.clear()
        if self._server_started:
            # Ends what is left in this prefix (helpers Wine started itself) and the server.
            subprocess.run([WINESERVER, "-k"], env=self.environment(), check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._server_started = False
        if self._xvfb is not None:
            end_process(self._xvfb)
            self._xvfb = None
        if self._lock_file is not None:
            self._lock_file.close()  # releases the lock
            self._lock_file = None

    # -- parts, usable one by one -------------------------------------------------------------

    def _lock_prefix(self):
        """One session per prefix at a time: a second one would share (and kill) the server."""
        os.makedirs(os.path.dirname(self.prefix_dir), exist_ok=True)
        self._lock_file = open(self.prefix_dir + ".lock", "w")
        fcntl.flock(self._lock_file, fcntl.LOCK_EX)

    def start_display(self):
        """Starts Xvfb on a free display number, which it reports through a pipe."""
        read_end, write_end = os.pipe()
        try:
            with open(os.path.join(self.log_dir, "xvfb.log"), "wb") as log:
                self._xvfb = subprocess.Popen(
                    [XVFB, "-displayfd", str(write_end), "-screen", "0", self.screen + "x24",
                     "-nolisten", "tcp"],
                    pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=log)
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + 30
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise RuntimeError("Xvfb did not report a display within 30 s")
                chunk = os.read(read_end, 64)
                if not chunk:
                    raise RuntimeError("Xvfb ended before reporting a display")
                number += chunk
            self.display = ":" + number.decode().strip()
        finally:
            if write_end is not None:
                os.close(write_end)
            os.close(read_end)

    def environment(self, extra=None):
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env.update({
            "WINEPREFIX": self.prefix_dir,
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono or Gecko install prompts
        })
        if self.display:
            env["DISPLAY"] = self.display
        if extra:
            env.update(extra)
        return env

    def prepare_prefix(self):
        """Starts the persistent wineserver; creates and configures the prefix the first time."""
        env = self.environment()
        os.makedirs(self.prefix_dir, exist_ok=True)
        # A server left over from an interrupted run belongs to no live session (we hold the
        # lock); end it so that ours is the persistent one.
        subprocess.run([WINESERVER, "-k"], env=env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-p"], env=env, check=True)
        self._server_started = True
        if os.path.exists(os.path.join(self.prefix_dir, READY_MARKER)):
            return
        with open(os.path.join(self.log_dir, "wineboot.log"), "wb") as log:
            subprocess.run([WINE, "wineboot", "-i"], env=env, check=True, stdout=log,
                           stderr=log, timeout=300)
            # Without a window manager Wine waits 2 s each time it hides a captioned window.
            subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                            "Managed", "/d", "N", "/f"], env=env, check=True, stdout=log,
                           stderr=log, timeout=60)
        open(os.path.join(self.prefix_dir, READY_MARKER), "w").close()

    # -- programs ----------------------------------------------------------------------------

    def restart_server(self, command_prefix=()):
        """Ends every program of the prefix and its server, starts the server again through
        `command_prefix` (e.g. a `NetworkNamespace`'s) and boots the prefix's services there by
        running one program the same way. Wine makes Windows sockets in the server and lists
        adapters in a service, so both then see that namespace's network, whatever namespace
        later programs run in. `restart_server()` brings everything back to this machine's."""
        for process in reversed(self._processes):
            end_process(process)
        self._processes.clear()
        env = self.environment()
        subprocess.run([WINESERVER, "-k"], env=env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._server_started = False
        subprocess.run([*command_prefix, WINESERVER, "-p"], env=env, check=True, timeout=60)
        self._server_started = True
        # The first program of a server boots the services (they are its descendants).
        code = self.run(["cmd", "/c", "exit"], cwd=self.log_dir, command_prefix=command_prefix)
        if code != 0:
            raise RuntimeError(f"booting the prefix's services failed ({code})")

    def start(self, command, cwd, stdout_path=None, extra_env=None, command_prefix=()):
        """Starts a Windows program (command[0] is the .exe path on Linux), through
        `command_prefix` if given (which must exec the command, keeping the PID). Its standard
        output and error go to `stdout_path` (or are dropped). The session ends it if the test
        does not."""
        out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
        try:
            process = subprocess.Popen([*command_prefix, WINE, *command], cwd=cwd,
                                       env=self.environment(extra_env),
                                       stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        finally:
            if stdout_path:
                out.close()
        self._processes.append(process)
        return process

    def run(self, command, cwd, timeout=60, extra_env=None, command_prefix=()):
        """Runs a Windows program to its end; returns its exit code."""
        process = self.start(command, cwd, extra_env=extra_env, command_prefix=command_prefix)
        try:
            return process.wait(timeout=timeout)
        finally:
            self.stop(process)

    def stop(self, process, grace=1.0):
        """Ends a program this session started, by its PID."""
        end_process(process, grace)
        if process in self._processes:
            self._processes.remove(process)

    def set_dpi(self, dpi):
        """The prefix's screen DPI for programs started from now on (Wine reads LogPixels at a
        program's start), in a fresh server: a window's DPI read from another process can lag
        behind a change within one server."""
        code = self.run(["reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                         "REG_DWORD", "/d", str(dpi), "/f"], cwd=self.log_dir)
        if code != 0:
            raise RuntimeError(f"setting LogPixels to {dpi} failed ({code})")
        self.restart_server()

    def screenshot(self, path):
        """The whole screen as an image (for a failure's artifacts); errors are ignored."""
        if self.display:
            subprocess.run(["import", "-display", self.display, "-window", "root", path],
                           check=False, timeout=30, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)


class NetworkNamespace:
    """A Linux network namespace of the test's own (`ip netns`; needs root and iproute2) with
    loopback up and the interfaces the test adds. `command_prefix` runs a command inside it
    (`ip netns exec` execs the command, so its PID is the command's). `close()` deletes the
    namespace; its interfaces go with it once no process is left inside."""

    def __init__(self, name):
        self.name = name
        self.command_prefix = ("ip", "netns", "exec", name)
        self._created = False
        self._ip("netns", "add", name, hint=" (making a network namespace needs root)")
        self._created = True
        try:
            self._ip("-n", name, "link", "set", "lo", "up")
        except BaseException:
            self.close()
            raise

    @staticmethod
    def _ip(*arguments, hint=""):
        try:
            done = subprocess.run(["ip", *arguments], capture_output=True, timeout=30)
        except FileNotFoundError:
            raise RuntimeError("`ip` is missing: install iproute2") from None
        if done.returncode != 0:
            raise RuntimeError(f"ip {' '.join(arguments)} failed ({done.returncode}): "
                               f"{done.stderr.decode(errors='replace').strip()}{hint}")

    def add_veth_pair(self, first, second):
        """Two linked interfaces, each given as (name, "address/prefix length"), both up; the
        first gets the lower interface index. A veth pair, not dummies: some kernels have no
        dummy driver, every one with namespaces has veth."""
        (first_name, _), (second_name, _) = first, second
        # The kernel registers the peer first.
        self._ip("-n", self.name, "link", "add", second_name, "type", "veth", "peer", "name",
                 first_name)
        for name, address in (first, second):
            self._ip("-n", self.name, "address", "add", address, "dev", name)
            self._ip("-n", self.name, "link", "set", name, "up")

    def close(self):
        if self._created:
            subprocess.run(["ip", "netns", "delete", self.name], check=False, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._created = False
