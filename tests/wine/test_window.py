"""The receiver's desktop window under Wine, read and driven from outside by window_probe.exe
the way a UI-automation tool would: controls and layout, the pairing QR code on the screen,
every command, the log and the status line.

Only one receiver window exists at a time (the probe finds it by class name): each test class
starts its own receiver and ends it. A class with ADAPTERS runs its receiver in a network
namespace of its own with just those adapters (needs root and iproute2). A class with another
DPI than 96 runs its receiver with the prefix's LogPixels at that DPI, in a fresh wineserver.
Screenshots go to build/test-artifacts/ (or to QUILLMARK_SCREENSHOTS) so anyone can look at the
window.
"""

import http.client
import json
import os
import re
import socket
import ssl
import subprocess
import unittest
from collections import Counter

from quillmark_wine import (PROBE_EXE, SOURCE_DIR, Receiver, ca_fingerprint, curl,
                            fresh_directory, free_port, open_session,
                            project_version, without_identity_lines)
from wine_harness import WINE, NetworkNamespace, wait_for

SCREENSHOTS = os.environ.get("QUILLMARK_SCREENSHOTS",
                             os.path.join(SOURCE_DIR, "build", "test-artifacts"))

IDC_ADAPTER, IDC_PORT, IDC_APPLY_PORT, IDC_URL, IDC_COPY_URL = 101, 102, 103, 104, 105
IDC_AUTO_TYPE, IDC_PRESS_ENTER, IDC_COPY_CLIPBOARD, IDC_ALLOW_FIREWALL = 106, 107, 108, 109
IDC_CLEAR_LOG, IDC_LOG, IDC_STATUS, IDC_ABOUT = 110, 111, 112, 113
IDC_OPEN_JOURNAL, IDC_OPEN_BROWSER = 114, 115
IDC_TRUST_HINT = 116
IDC_SETTINGS = 117

WS_CHILD_VISIBLE = 0x50000000
WS_VSCROLL = 0x00200000
WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX = 0x00C00000, 0x00080000, 0x00020000
WS_THICKFRAME, WS_MAXIMIZEBOX = 0x00040000, 0x00010000

# (class, text or None for a text from the state, identifier, x, y, w, h, style, extended)
CONTROLS = [
    ("Static", "Scan QR with your phone to open & auto-pair:", 0, 20, 306, 276, 20, 0x80, 0),
    ("Edit", None, IDC_URL, 20, 330, 276, 26, 0x880, 0x200),
    ("Button", "Copy Full URL", IDC_COPY_URL, 20, 364, 132, 30, 0x10000, 0),
    ("Button", "Allow Firewall", IDC_ALLOW_FIREWALL, 164, 364, 132, 30, 0x10000, 0),
    ("Static", "PC Network Adapter (Ethernet / Wi-Fi):", 0, 318, 20, 415, 18, 0, 0),
    ("ComboBox", None, IDC_ADAPTER, 318, 40, 415, 200, 0x210003, 0),
    ("Static", "Port:", 0, 318, 76, 40, 20, 0, 0),
    ("Edit", None, IDC_PORT, 360, 72, 78, 24, 0x12000, 0x200),
    ("Button", "Apply Port", IDC_APPLY_PORT, 446, 71, 95, 26, 0x10000, 0),
    ("Button", "About", IDC_ABOUT, 651, 71, 82, 26, 0x10000, 0),
    ("Button", "Settings\u2026", IDC_SETTINGS, 549, 71, 94, 26, 0x10000, 0),
    ("Button", "Auto-type barcode into active window (Keyboard Wedge)", IDC_AUTO_TYPE, 318, 110,
     415, 22, 0x10003, 0),
    ("Button", "Press Enter after typing barcode", IDC_PRESS_ENTER, 318, 136, 415, 22, 0x10003,
     0),
    ("Button", "Copy received barcode to clipboard", IDC_COPY_CLIPBOARD, 318, 162, 415, 22,
     0x10003, 0),
    ("Static", "Incoming Scans Log:", 0, 318, 194, 220, 18, 0, 0),
    ("Button", "Clear Log", IDC_CLEAR_LOG, 651, 189, 82, 24, 0x10000, 0),
    ("Edit", None, IDC_LOG, 318, 218, 415, 126, 0xA00844, 0x200),
    ("Button", "Open scan journal", IDC_OPEN_JOURNAL, 318, 354, 150, 28, 0x10000, 0),
    ("Button", "Open in browser", IDC_OPEN_BROWSER, 478, 354, 130, 28, 0x10000, 0),
    ("Static", None, IDC_TRUST_HINT, 20, 395, 713, 16, 0x80, 0),
    ("Static", None, IDC_STATUS, 20, 412, 495, 22, 0, 0),
    ("Static", "Powered by Brackenfold", 0, 520, 412, 213, 22, 2, 0),
]

QR_LEFT, QR_TOP, QR_SIDE = 20, 20, 276
QR_DRAWING = 264  # the symbol and its quiet zone fit in this many pixels (at 96 DPI)
# Room for the window at 192 DPI (1536 × 984); Wine keeps a window within the screen.
SCREEN = (1920, 1200)
WHITE, FRAME_GREY, NEAR_BLACK = (255, 255, 255), (0xCC, 0xCC, 0xCC), (0x11, 0x11, 0x11)
TEXT_BLACK = (0, 0, 0)  # Wine's default window text colour
# The log box drops its oldest lines past this many UTF-16 units (the receiver's own bound).
LOG_TRIM_THRESHOLD = 1 << 18
LISTENING = ("HTTPS listening on 0.0.0.0:{}. Phones that trust the Quillmark local CA connect "
             "without a warning.")
SCAN_LINE = re.compile(r"^\[\d\d:\d\d:\d\d\] \[(.*?)\] (.*) \((\d+)% - (.*)\)$")

session = None


def setUpModule():
    global session
    session = open_session("window", screen="{}x{}".format(*SCREEN))
    unittest.addModuleCleanup(session.close)
    if not os.path.isfile(PROBE_EXE):
        raise AssertionError(f"{PROBE_EXE} is missing: run `make windows` first")
    os.makedirs(SCREENSHOTS, exist_ok=True)
    session.set_dpi(96)  # whatever an interrupted run left in the prefix


def scaled(value, dpi):
    """A 96-DPI size at `dpi`, rounded half up as the receiver's MulDiv rounds."""
    return (value * dpi + 48) // 96


def assert_edges_near(test, actual, table, dpi):
    """Each edge of `actual` within a pixel of the 96-DPI `table` edge × DPI / 96 (exact at
    96 DPI)."""
    tolerance = 0 if dpi == 96 else 1
    expected = [edge * dpi / 96 for edge in table]
    test.assertTrue(all(abs(a - e) <= tolerance for a, e in zip(actual, expected)),
                    f"{actual} is not {expected} within {tolerance} px")


def qr_square(dpi):
    """The QR square's client position and side at `dpi`: each edge scaled on its own."""
    left, right = scaled(QR_LEFT, dpi), scaled(QR_LEFT + QR_SIDE, dpi)
    return left, scaled(QR_TOP, dpi), right - left


def pairing_url(address, port):
    return f"https://{address}:{port}/?pc=https%3A%2F%2F{address}%3A{port}%2Fapi%2Fscan"


def status_text(port, scans):
    return f"Port {port}  |  {scans} scan(s)"


def log_lines(text):
    """The log box's lines, without the identity's (see IDENTITY_LINE_PREFIXES); every line, the
    last included, ends with CR LF."""
    assert text == "" or text.endswith("\r\n"), f"log does not end with CR LF: {text[-80:]!r}"
    return without_identity_lines(text.split("\r\n")[:-1])


class HeldPort:
    """A Linux listener on 0.0.0.0 that keeps a port busy for the receiver under Wine."""

    def __enter__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.socket.bind(("0.0.0.0", 0))
        self.socket.listen(1)
        self.port = self.socket.getsockname()[1]
        return self

    def __exit__(self, *exc):
        self.socket.close()


# -- the probe ---------------------------------------------------------------------------------

def probe(*args, expect_window=True):
    # Output goes through a file, not a pipe: a helper that Wine starts on the way (the
    # desktop process) inherits the probe's handles and would hold a pipe open for good.
    output_path = os.path.join(session.log_dir, "probe.out")
    with open(output_path, "wb") as output:
        done = subprocess.run([WINE, PROBE_EXE, *map(str, args)], env=session.environment(),
                              stdin=subprocess.DEVNULL, stdout=output,
                              stderr=subprocess.DEVNULL, timeout=120)
    with open(output_path, "rb") as output:
        text = output.read().decode("utf-8")
    if expect_window and done.returncode != 0:
        raise AssertionError(f"window_probe {' '.join(map(str, args))} failed "
                             f"({done.returncode}): {text.strip()}")
    return done.returncode, (json.loads(text) if text.strip() else None)


def dump():
    return probe("dump")[1]


def controls_by_id(snapshot):
    return {c["id"]: c for c in snapshot["controls"] if c["id"]}


def text_of(control_id, snapshot=None):
    return controls_by_id(snapshot or dump())[control_id]["text"]


def wait_for_window(condition, what, timeout=30):
    """Dumps the window until `condition(controls by id)` holds; returns those controls."""
    last = [None]

    def check():
        found, snapshot = probe("dump", expect_window=False)
        if found != 0:
            return False  # not created yet
        last[0] = controls_by_id(snapshot)
        return condition(last[0])

    if not wait_for(check, timeout, interval=0.1):
        summary = {i: c["text"][-300:] for i, c in (last[0] or {}).items()}
        raise AssertionError(f"{what}: not within {timeout} s; controls: {summary}")
    return last[0]


def wait_for_message_box(timeout=30):
    box = wait_for(lambda: (lambda b: b if b and b["found"] else None)(probe("message-box")[1]),
                   timeout, interval=0.1)
    assert box, f"no message box within {timeout} s"
    return box


def dismiss_message_box():
    probe("dismiss")
    gone = wait_for(lambda: not probe("message-box")[1]["found"], 20, interval=0.1)
    assert gone, "the message box did not close"


def last_scan_text(controls):
    """The text of the log's last line when that is a scan line, else None."""
    lines = log_lines(controls[IDC_LOG]["text"])
    match = SCAN_LINE.match(lines[-1]) if lines else None
    return match and match.group(2)


def selected_address(controls):
    combo = controls[IDC_ADAPTER]
    return combo["items"][combo["selected"]].split("  \u2014  ")[0]


# -- the screen --------------------------------------------------------------------------------

def screenshot(name):
    path = os.path.join(SCREENSHOTS, name)
    if os.path.exists(path):
        os.remove(path)
    session.screenshot(path)
    assert os.path.isfile(path), f"no screenshot {path}"
    return path


def crop_qr_area(shot, snapshot, name, dpi=96):
    x, y = snapshot["client_origin"]
    left, top, side = qr_square(dpi)
    path = os.path.join(SCREENSHOTS, name)
    subprocess.run(["convert", shot, "-crop", f"{side}x{side}+{x + left}+{y + top}",
                    "+repage", path], check=True, timeout=60)
    return path


def decode_qr(path):
    done = subprocess.run(["zbarimg", "-q", "--raw", path], capture_output=True, timeout=60)
    return done.stdout.decode("utf-8", errors="replace").rstrip("\n")


def rgb_pixels(path, width=QR_SIDE, height=None):
    """The picture's pixel(x, y) as (r, g, b); a square of side `width` unless `height`."""
    height = height or width
    done = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                          check=True, timeout=60)
    data = done.stdout
    assert len(data) == width * height * 3, f"unexpected picture size {len(data)}"
    return lambda x, y: tuple(data[3 * (y * width + x):3 * (y * width + x) + 3])


def wait_for_qr(expected_url, name, timeout=30, dpi=96):
    """Screenshots until the QR area decodes to `expected_url`; returns the crop's path."""
    last = [None]

    def check():
        snapshot = dump()
        crop = crop_qr_area(screenshot(name + ".png"), snapshot, name + "-qr.png", dpi)
        last[0] = decode_qr(crop)
        return crop if last[0] == expected_url else None

    crop = wait_for(check, timeout, interval=0.2)
    assert crop, f"QR code reads {last[0]!r}, expected {expected_url!r}"
    return crop


# -- scans over HTTPS, always to 127.0.0.1 -----------------------------------------------------

TLS = ssl.create_default_context()
TLS.check_hostname = False
TLS.verify_mode = ssl.CERT_NONE


def post_scan(port, fields):
    connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=30, context=TLS)
    try:
        connection.request("POST", "/api/scan", json.dumps(fields).encode("utf-8"),
                           {"Content-Type": "application/json"})
        reply = connection.getresponse()
        reply.read()
        return reply.status
    finally:
        connection.close()


def ping_port(port):
    """The "port" member of the ping reply: the port the receiver's state holds."""
    return curl(f"https://127.0.0.1:{port}/api/ping").json()["port"]


def refuses_connections(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2):
            return False
    except OSError:
        return True


# -- receivers with a window -------------------------------------------------------------------

class WindowCase(unittest.TestCase):
    """Starts a receiver with OPTIONS and its window for the class; ends both afterwards."""
    OPTIONS = ()
    HOLD_PORT = False  # start on a port that another listener holds
    # Two (interface name, "address/prefix length") pairs: the receiver then sees these
    # adapters and no others, in a network namespace of the class's own. Requests to it must
    # go through `command_prefix`, still to 127.0.0.1.
    ADAPTERS = ()
    command_prefix = ()
    DPI = 96  # the screen's, through the prefix's LogPixels

    @classmethod
    def setUpClass(cls):
        cls.work_dir = fresh_directory("window", cls.__name__)
        if cls.DPI != 96:
            cls.addClassCleanup(session.set_dpi, 96)
            session.set_dpi(cls.DPI)
        if cls.ADAPTERS:
            cls.enter_own_network()
        cls.held = HeldPort().__enter__() if cls.HOLD_PORT else None
        cls.port = cls.held.port if cls.held else free_port()
        cls.receiver = Receiver(session, cls.work_dir, ["-p", str(cls.port), *cls.OPTIONS],
                                cls.port, command_prefix=cls.command_prefix)
        try:
            wait_for_window(lambda c: c.get(IDC_LOG, {}).get("text"), "the first log line", 60)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def enter_own_network(cls):
        """Wine makes sockets in its server and lists adapters in a service, so the server
        moves into the namespace for the class; class clean-ups (run even when set-up fails,
        after tearDownClass) move it back, then delete the namespace with its interfaces."""
        try:
            namespace = NetworkNamespace(f"quillmark-window-{os.getpid()}")
        except RuntimeError as error:
            raise AssertionError(f"{cls.__name__} needs a network namespace: {error}") from None
        cls.addClassCleanup(namespace.close)
        namespace.add_veth_pair(*cls.ADAPTERS)
        cls.addClassCleanup(session.restart_server)
        session.restart_server(namespace.command_prefix)
        cls.command_prefix = namespace.command_prefix

    @classmethod
    def tearDownClass(cls):
        cls.receiver.stop()
        if cls.held:
            cls.held.__exit__()
        gone = wait_for(lambda: probe("dump", expect_window=False)[0] == 2, 30)
        assert gone, "the receiver's window outlived its process"

    def setUp(self):
        self.addCleanup(self.close_stray_message_box)

    def close_stray_message_box(self):
        found, box = probe("message-box", expect_window=False)
        if found == 0 and box["found"]:
            dismiss_message_box()

    def current_port(self):
        return int(re.match(r"Port (\d+)  \|", text_of(IDC_STATUS))[1])

    def scan_count(self):
        return int(re.search(r"\|  (\d+) scan\(s\)$", text_of(IDC_STATUS))[1])

    def post_and_wait(self, fields):
        """Posts one scan and waits for its log line; returns that line parsed."""
        before = self.scan_count()
        self.assertEqual(post_scan(self.current_port(), fields), 200)
        controls = wait_for_window(
            lambda c: c[IDC_STATUS]["text"].endswith(f"|  {before + 1} scan(s)"),
            "the scan's count in the status line")
        last = log_lines(controls[IDC_LOG]["text"])[-1]
        match = SCAN_LINE.match(last)
        self.assertIsNotNone(match, f"last log line is not a scan line: {last!r}")
        return match.groups()


class Layout(WindowCase):
    """Default options: the window as it first appears. At 96 DPI everything is the control
    table's own numbers, to the pixel; the subclasses run the same tests at other DPIs, where
    each edge is the table's × DPI / 96 within a pixel."""

    def scaled(self, value):
        return scaled(value, self.DPI)

    def assert_edges_near(self, actual, table):
        assert_edges_near(self, actual, table, self.DPI)

    @property
    def shot_name(self):
        return "window" if self.DPI == 96 else f"window-{self.DPI}dpi"

    def test_window_title_style_and_size(self):
        snapshot = dump()
        self.assertEqual(snapshot["title"],
                         "Quillmark \u2014 PC Barcode Receiver (QR & Keyboard Wedge)")
        style = snapshot["style"]
        self.assertEqual(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
                         WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)
        self.assertEqual(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0, "the size must be fixed")
        left, top, right, bottom = snapshot["outer"]
        self.assertEqual((right - left, bottom - top), (self.scaled(768), self.scaled(492)))

    def test_every_control_in_its_place(self):
        snapshot = dump()
        controls = snapshot["controls"]
        self.assertEqual(len(controls), len(CONTROLS), [c["class"] for c in controls])
        for index, (kind, text, ident, x, y, w, h, style, ex_style) in enumerate(CONTROLS):
            with self.subTest(control=index + 1, text=text, id=ident):
                control = controls[index]  # child order is creation order
                self.assertEqual(control["class"].lower(), kind.lower())
                self.assertEqual(control["id"], ident)
                if text is not None:
                    self.assertEqual(control["text"], text)
                if kind == "ComboBox":
                    # The combo box hands WS_VSCROLL to its list; its own rectangle is the
                    # closed field, whose height the system chooses.
                    self.assertEqual(control["style"] & ~WS_VSCROLL,
                                     (WS_CHILD_VISIBLE | style) & ~WS_VSCROLL)
                    self.assert_edges_near(control["rect"][:3], [x, y, x + w])
                    self.assertLess(control["rect"][3], self.scaled(y + h))
                else:
                    self.assertEqual(hex(control["style"]), hex(WS_CHILD_VISIBLE | style))
                    self.assert_edges_near(control["rect"], [x, y, x + w, y + h])
                self.assertEqual(hex(control["ex_style"]), hex(ex_style))
        left, top, right, bottom = snapshot["outer"]
        self.assertTrue(left >= 0 and top >= 0 and right <= SCREEN[0] and bottom <= SCREEN[1],
                        f"the whole window on the screen: {snapshot['outer']}")

    def test_initial_contents(self):
        controls = controls_by_id(dump())
        combo = controls[IDC_ADAPTER]
        self.assertGreaterEqual(len(combo["items"]), 1)
        self.assertEqual(combo["selected"], 0)
        for item in combo["items"]:
            self.assertRegex(item, r"^\d+\.\d+\.\d+\.\d+  \u2014  .+$")
        self.assertEqual(combo["text"], combo["items"][0])
        address = selected_address(controls)
        self.assertEqual(controls[IDC_URL]["text"], pairing_url(address, self.port))
        self.assertEqual(controls[IDC_TRUST_HINT]["text"],
                         f"Phones: open https://{address}:{self.port}/trust.html once to stop "
                         "certificate warnings")
        self.assertEqual(controls[IDC_PORT]["text"], str(self.port))
        for box in (IDC_AUTO_TYPE, IDC_PRESS_ENTER, IDC_COPY_CLIPBOARD):
            self.assertEqual(controls[box]["check"], 1, box)
        self.assertEqual(controls[IDC_STATUS]["text"], status_text(self.port, 0))
        self.assertEqual(log_lines(controls[IDC_LOG]["text"]), [LISTENING.format(self.port)])
        # Far above the edit control's default, which silently stops new lines.
        self.assertGreaterEqual(controls[IDC_LOG]["limit"], 1 << 20)

    def test_qr_code_shows_the_pairing_url_with_frame_and_quiet_zone(self):
        controls = controls_by_id(dump())
        url = pairing_url(selected_address(controls), self.port)
        side = qr_square(self.DPI)[2]
        pixel = rgb_pixels(wait_for_qr(url, self.shot_name, dpi=self.DPI), side)
        last = side - 1
        for i in range(side):
            for x, y in ((i, 0), (i, last), (0, i), (last, i)):
                self.assertEqual(pixel(x, y), FRAME_GREY, f"frame at {x},{y}")
        dark = [(x, y) for y in range(1, last) for x in range(1, last)
                if pixel(x, y) != WHITE]
        for x, y in dark:
            self.assertEqual(pixel(x, y), NEAR_BLACK, f"only white and near-black inside: {x},{y}")
        left, right = min(x for x, _ in dark), max(x for x, _ in dark) + 1
        top, bottom = min(y for _, y in dark), max(y for _, y in dark) + 1
        # The top-left finder pattern's first row is 7 dark modules: whole pixels each.
        run = next(n for n in range(left, right) if pixel(n, top) != NEAR_BLACK) - left
        self.assertEqual(run % 7, 0)
        scale = run // 7
        modules = (right - left) // scale
        self.assertEqual((right - left, bottom - top), (modules * scale, modules * scale))
        self.assertEqual((modules - 17) % 4, 0, "a QR symbol is 17 + 4 × version modules")
        self.assertEqual(scale, self.scaled(QR_DRAWING) // (modules + 6))
        offset = (side - (modules + 6) * scale) // 2
        self.assertEqual((left, top), (offset + 3 * scale, offset + 3 * scale),
                         "symbol centred, three light modules of quiet zone around it")

    def test_qr_code_is_painted_again_after_minimise_and_restore(self):
        url = text_of(IDC_URL)
        side = qr_square(self.DPI)[2]
        before = rgb_pixels(wait_for_qr(url, "before-minimise", dpi=self.DPI), side)
        probe("minimize")
        self.assertTrue(wait_for(lambda: decode_qr(crop_qr_area(
            screenshot("minimised.png"), dump(), "minimised-qr.png", self.DPI)) != url, 20),
            "the QR code should leave the screen with the window")
        probe("restore")
        after = rgb_pixels(wait_for_qr(url, "after-restore", dpi=self.DPI), side)
        self.assertEqual([after(x, y) for y in range(side) for x in range(side)],
                         [before(x, y) for y in range(side) for x in range(side)],
                         "the same picture, pixel for pixel")

    def test_labels_check_boxes_and_url_box_sit_on_the_window_background(self):
        snapshot = dump()
        wait_for_qr(text_of(IDC_URL), self.shot_name, dpi=self.DPI)  # painted in full
        pixel = rgb_pixels(screenshot(self.shot_name + ".png"), *SCREEN)
        x0, y0 = snapshot["client_origin"]
        background = pixel(x0 + 4, y0 + 4)  # beside the QR square, outside every control
        self.assertEqual(background, WHITE)
        for control in snapshot["controls"]:
            kind, style = control["class"].lower(), control["style"]
            check_box = kind == "button" and style & 0xF == 3
            if not ((kind == "static" and control["text"]) or check_box or
                    control["id"] == IDC_URL):
                continue
            with self.subTest(text=control["text"]):
                left, top, right, bottom = control["rect"]
                inset = 3 if control["ex_style"] & 0x200 else 0  # inside the sunken edge
                colours = Counter(pixel(x0 + x, y0 + y)
                                  for y in range(top + inset, bottom - inset)
                                  for x in range(left + inset, right - inset))
                self.assertEqual(colours.most_common(1)[0][0], background,
                                 "the colour behind the text")
                self.assertIn(TEXT_BLACK, colours, "text in the system's text colour")


class Layout144(Layout):
    DPI = 144


class Layout192(Layout):
    DPI = 192


class DpiChange(WindowCase):
    """A move to a monitor of another DPI. Wine never sends WM_DPICHANGED itself, so the probe
    sends it as Windows would."""

    def assert_laid_out_for(self, dpi):
        snapshot = dump()
        left, top, right, bottom = snapshot["outer"]
        self.assertEqual((right - left, bottom - top), (scaled(768, dpi), scaled(492, dpi)),
                         "the suggested size")
        for control, (kind, _, _, x, y, w, h, _, _) in zip(snapshot["controls"], CONTROLS):
            with self.subTest(dpi=dpi, control=control["text"] or control["id"]):
                edges = [x, y, x + w] if kind == "ComboBox" else [x, y, x + w, y + h]
                assert_edges_near(self, control["rect"][:len(edges)], edges, dpi)
        wait_for_qr(text_of(IDC_URL), f"dpi-changed-{dpi}", dpi=dpi)

    def test_controls_size_and_qr_code_follow_the_new_dpi_and_back(self):
        probe("dpi-changed", 144)
        self.assert_laid_out_for(144)
        probe("dpi-changed", 96)
        self.assert_laid_out_for(96)


class AdapterChoice(WindowCase):
    """Two adapters whose order only the wired rule decides: by name, and by interface index,
    "Wi-Fi" would come first."""
    ADAPTERS = (("Wi-Fi", "192.168.77.2/24"), ("eth-quill", "10.77.1.2/24"))
    FIRST, SECOND = "10.77.1.2", "192.168.77.2"

    def lan_addresses(self):
        """The ping reply's "lanAddresses", asked inside the receiver's namespace."""
        reply = curl(f"https://127.0.0.1:{self.port}/api/ping",
                     command_prefix=self.command_prefix)
        return reply.json()["lanAddresses"]

    def test_adapter_selection_changes_url_and_qr_without_logging(self):
        before = controls_by_id(dump())
        self.assertEqual(before[IDC_ADAPTER]["items"],
                         [f"{self.FIRST}  \u2014  eth-quill", f"{self.SECOND}  \u2014  Wi-Fi"])
        self.assertEqual(before[IDC_ADAPTER]["selected"], 0)
        first_url = pairing_url(self.FIRST, self.port)
        self.assertEqual(before[IDC_URL]["text"], first_url)
        self.assertEqual(self.lan_addresses(), [self.FIRST])
        wait_for_qr(first_url, "adapter-first")

        # No selection at all: nothing changes.
        probe("select", IDC_ADAPTER, -1)
        after = controls_by_id(dump())
        self.assertEqual(after[IDC_ADAPTER]["selected"], -1)
        self.assertEqual(after[IDC_URL]["text"], first_url)
        self.assertEqual(after[IDC_LOG]["text"], before[IDC_LOG]["text"])
        self.assertEqual(self.lan_addresses(), [self.FIRST])

        probe("select", IDC_ADAPTER, 1)
        after = controls_by_id(dump())
        second_url = pairing_url(self.SECOND, self.port)
        self.assertEqual(after[IDC_ADAPTER]["selected"], 1)
        self.assertEqual(after[IDC_URL]["text"], second_url)
        self.assertEqual(after[IDC_LOG]["text"], before[IDC_LOG]["text"], "no log line")
        self.assertEqual(after[IDC_STATUS]["text"], before[IDC_STATUS]["text"])
        self.assertEqual(self.lan_addresses(), [self.SECOND])
        wait_for_qr(second_url, "adapter-second")

        probe("select", IDC_ADAPTER, 0)
        self.assertEqual(text_of(IDC_URL), first_url)
        self.assertEqual(self.lan_addresses(), [self.FIRST])
        wait_for_qr(first_url, "adapter-first-again")


class StartOptions(WindowCase):
    OPTIONS = ("--no-type", "--no-copy")

    def test_check_boxes_follow_the_command_line(self):
        controls = controls_by_id(dump())
        self.assertEqual([controls[i]["check"] for i in
                          (IDC_AUTO_TYPE, IDC_PRESS_ENTER, IDC_COPY_CLIPBOARD)], [0, 1, 0])

    def test_port_box_and_url_carry_the_port_option(self):
        controls = controls_by_id(dump())
        self.assertEqual(controls[IDC_PORT]["text"], str(self.port))
        self.assertEqual(controls[IDC_URL]["text"],
                         pairing_url(selected_address(controls), self.port))

    def test_scan_outcome_follows_the_options(self):
        self.assertEqual(self.post_and_wait({"text": "OPT-1"})[1:], ("OPT-1", "100", "Received"))


class TypingOptions(WindowCase):
    OPTIONS = ("--no-type", "--suffix-key", "tab", "--key-delay", "5")

    def test_check_box_names_tab_and_the_log_says_how_scans_are_typed(self):
        controls = controls_by_id(dump())
        self.assertEqual(controls[IDC_PRESS_ENTER]["text"], "Press Tab after typing barcode")
        self.assertEqual(controls[IDC_PRESS_ENTER]["check"], 1)
        self.assertEqual(log_lines(controls[IDC_LOG]["text"]), [
            LISTENING.format(self.port),
            "Typing: Unicode characters, 5 ms between characters, Tab after each scan"])


class StartupBindFailure(WindowCase):
    HOLD_PORT = True

    def test_failure_is_the_first_log_line_and_a_port_can_then_be_applied(self):
        controls = controls_by_id(dump())
        lines = log_lines(controls[IDC_LOG]["text"])
        self.assertEqual(len(lines), 1, lines)
        self.assertRegex(lines[0], rf"^Could not listen on port {self.port}: .+ \(os error \d+\)$")
        self.assertEqual(controls[IDC_STATUS]["text"], status_text(self.port, 0))

        # Nothing listened before, so a working port starts the first server.
        port = free_port()
        probe("set-text", IDC_PORT, port)
        probe("click", IDC_APPLY_PORT)
        controls = wait_for_window(lambda c: len(log_lines(c[IDC_LOG]["text"])) == 2,
                                   "the listening line")
        self.assertEqual(log_lines(controls[IDC_LOG]["text"])[1], LISTENING.format(port))
        self.assertEqual(controls[IDC_STATUS]["text"], status_text(port, 0))
        self.assertEqual(ping_port(port), port)


class Closing(WindowCase):
    def test_closing_the_window_ends_the_process(self):
        probe("close")
        self.assertEqual(self.receiver.process.wait(timeout=30), 0)


class Commands(WindowCase):
    """Typing is off, so scans never send keys to whatever window has the focus."""
    OPTIONS = ("--no-type",)

    def test_apply_port_moves_url_qr_status_and_server(self):
        old = self.current_port()
        new = free_port()
        probe("set-text", IDC_PORT, f"  {new} ")  # blanks around the digits are trimmed
        probe("click", IDC_APPLY_PORT)
        controls = wait_for_window(
            lambda c: log_lines(c[IDC_LOG]["text"])[-1] == LISTENING.format(new),
            "the new server's listening line")
        url = pairing_url(selected_address(controls), new)
        self.assertEqual(controls[IDC_URL]["text"], url)
        self.assertEqual(controls[IDC_STATUS]["text"], status_text(new, self.scan_count()))
        wait_for_qr(url, "after-apply-port")
        self.assertEqual(ping_port(new), new)
        self.assertTrue(wait_for(lambda: refuses_connections(old), 10),
                        "the old server should close its listener")

    def test_apply_port_on_a_busy_port_keeps_everything_as_it_was(self):
        port = self.current_port()
        before = controls_by_id(dump())
        url = before[IDC_URL]["text"]
        with HeldPort() as held:
            probe("set-text", IDC_PORT, held.port)
            probe("post-click", IDC_APPLY_PORT)
            box = wait_for_message_box()
            self.assertEqual(box["caption"], "Port Error")
            self.assertRegex(box["text"],
                             rf"^Could not listen on port {held.port}: .+ \(os error \d+\)$")
            screenshot("port-error.png")
            dismiss_message_box()
        after = controls_by_id(dump())
        self.assertEqual(after[IDC_PORT]["text"], str(port), "the port box shows the old port")
        self.assertEqual(after[IDC_URL]["text"], url)
        self.assertEqual(after[IDC_STATUS]["text"], before[IDC_STATUS]["text"])
        self.assertEqual(after[IDC_LOG]["text"], before[IDC_LOG]["text"])
        # The state, the old server and the QR code still name the old port.
        self.assertEqual(ping_port(port), port)
        redirect = curl(f"http://127.0.0.1:{port}/x")
        self.assertRegex(redirect.headers["location"], rf"^https://[0-9.]+:{port}/x$")
        wait_for_qr(url, "after-port-error")

    def test_apply_port_on_its_own_port_reports_the_busy_port(self):
        port = self.current_port()
        probe("set-text", IDC_PORT, port)
        probe("post-click", IDC_APPLY_PORT)
        box = wait_for_message_box()
        self.assertEqual(box["caption"], "Port Error")
        self.assertTrue(box["text"].startswith(f"Could not listen on port {port}: "), box)
        dismiss_message_box()
        self.assertEqual(ping_port(port), port)

    def test_apply_port_ignores_texts_that_are_no_usable_port(self):
        before = controls_by_id(dump())
        for text in ("80", "0", "1023", "70000", "abc", ""):
            with self.subTest(text=text):
                probe("set-text", IDC_PORT, text)
                probe("click", IDC_APPLY_PORT)  # returns once the command has run
                after = controls_by_id(dump())
                self.assertFalse(probe("message-box")[1]["found"])
                for control in (IDC_URL, IDC_STATUS, IDC_LOG):
                    self.assertEqual(after[control]["text"], before[control]["text"])
                self.assertEqual(after[IDC_PORT]["text"], text, "the box is left as typed")
        port = self.current_port()
        self.assertEqual(ping_port(port), port)
        probe("set-text", IDC_PORT, port)

    def test_copy_full_url(self):
        url = text_of(IDC_URL)
        probe("click", IDC_COPY_URL)
        wait_for_window(lambda c: log_lines(c[IDC_LOG]["text"])[-1] ==
                        "Copied URL to clipboard: " + url, "the copy's log line")
        self.assertEqual(probe("clipboard")[1]["text"], url)

    def test_allow_firewall_logs_the_request(self):
        port = self.current_port()
        probe("click", IDC_ALLOW_FIREWALL)
        wait_for_window(lambda c: log_lines(c[IDC_LOG]["text"])[-1] ==
                        f"Requested Windows Firewall rule for TCP port {port}.",
                        "the firewall log line")

    def test_about_box_and_the_qr_code_repainted_after_it(self):
        url = text_of(IDC_URL)
        probe("post-click", IDC_ABOUT)
        box = wait_for_message_box()
        self.assertEqual(box["caption"], f"About Quillmark {project_version()}")
        self.assertEqual(box["text"], "Quillmark PC Barcode Receiver\r\n\r\nPowered by Brackenfold"
                         "\r\n\r\nQuillmark local CA, SHA-256 fingerprint:\r\n" +
                         ca_fingerprint())
        screenshot("about.png")
        dismiss_message_box()
        wait_for_qr(url, "after-about")

    def test_clear_log_keeps_the_count(self):
        self.post_and_wait({"text": "BEFORE-CLEAR"})
        count = self.scan_count()
        probe("click", IDC_CLEAR_LOG)
        controls = controls_by_id(dump())
        self.assertEqual(controls[IDC_LOG]["text"], "")
        self.assertEqual(controls[IDC_STATUS]["text"], status_text(self.current_port(), count))
        self.post_and_wait({"text": "AFTER-CLEAR"})
        lines = log_lines(text_of(IDC_LOG))
        self.assertEqual(len(lines), 1, lines)
        self.assertEqual(SCAN_LINE.match(lines[0]).group(2), "AFTER-CLEAR")

    def test_scan_appears_with_its_count(self):
        count = self.scan_count()
        fields = {"text": "4006381333931", "format": "EAN-13", "confidence": 97}
        self.assertEqual(self.post_and_wait(fields), ("EAN-13", "4006381333931", "97", "Copied"))
        self.assertEqual(text_of(IDC_STATUS), status_text(self.current_port(), count + 1))
        self.assertEqual(probe("clipboard")[1]["text"], "4006381333931")
        screenshot("window-after-scan.png")

    def test_check_boxes_switch_the_delivery(self):
        self.assertEqual(controls_by_id(dump())[IDC_COPY_CLIPBOARD]["check"], 1)
        probe("click", IDC_COPY_CLIPBOARD)
        self.assertEqual(controls_by_id(dump())[IDC_COPY_CLIPBOARD]["check"], 0)
        self.assertEqual(self.post_and_wait({"text": "NOCOPY"})[3], "Received")
        probe("click", IDC_COPY_CLIPBOARD)
        self.assertEqual(self.post_and_wait({"text": "COPY"})[3], "Copied")

        # Keys then go to the receiver's own window, which has the focus and ignores them.
        probe("click", IDC_AUTO_TYPE)
        self.addCleanup(probe, "click", IDC_AUTO_TYPE)
        self.assertEqual(controls_by_id(dump())[IDC_AUTO_TYPE]["check"], 1)
        self.assertEqual(self.post_and_wait({"text": "TYPED"})[3], "Copied & Typed+Enter")
        probe("click", IDC_PRESS_ENTER)
        self.addCleanup(probe, "click", IDC_PRESS_ENTER)
        self.assertEqual(controls_by_id(dump())[IDC_PRESS_ENTER]["check"], 0)
        self.assertEqual(self.post_and_wait({"text": "NOENTER"})[3], "Copied & Typed")

    def test_new_lines_go_to_the_end_wherever_the_caret_is(self):
        self.post_and_wait({"text": "FIRST"})
        probe("set-caret", IDC_LOG, 0)
        self.post_and_wait({"text": "SECOND"})
        lines = log_lines(text_of(IDC_LOG))
        self.assertEqual([SCAN_LINE.match(line).group(2) for line in lines[-2:]],
                         ["FIRST", "SECOND"])

    def test_five_hundred_scans_in_a_row_all_appear(self):
        probe("click", IDC_CLEAR_LOG)
        count = self.scan_count()
        port = self.current_port()
        texts = [f"ROW{n:03d}-" + "7" * 60 for n in range(500)]
        for text in texts:
            self.assertEqual(post_scan(port, {"text": text, "format": "CODE-128"}), 200)
        controls = wait_for_window(
            lambda c: c[IDC_STATUS]["text"] == status_text(port, count + 500),
            "500 scans counted", 120)
        lines = wait_for_window(lambda c: len(log_lines(c[IDC_LOG]["text"])) == 500,
                                "500 log lines", 60)[IDC_LOG]["text"]
        shown = [SCAN_LINE.match(line).group(2) for line in log_lines(lines)]
        self.assertEqual(shown, texts)
        self.assertGreater(controls[IDC_LOG]["length"], 32767,
                           "more text than the edit control's default limit")
        screenshot("window-500-scans.png")

    def test_long_log_drops_its_oldest_lines(self):
        probe("click", IDC_CLEAR_LOG)
        port = self.current_port()
        # Long scans (words, as in a QR code with text) reach the bound in a few dozen lines.
        texts = [f"LONG{n:02d}" + f" {n:02d}word" * 500 for n in range(100)]
        for text in texts:
            self.assertEqual(post_scan(port, {"text": text}), 200)
        controls = wait_for_window(lambda c: last_scan_text(c) == texts[-1],
                                   "the newest long scan", 60)
        log = controls[IDC_LOG]
        self.assertLessEqual(log["length"], LOG_TRIM_THRESHOLD)
        shown = [SCAN_LINE.match(line).group(2) for line in log_lines(log["text"])]
        self.assertGreaterEqual(len(shown), 2)
        self.assertLess(len(shown), len(texts), "the oldest lines went")
        self.assertEqual(shown, texts[-len(shown):], "whole lines, newest last")


if __name__ == "__main__":
    unittest.main()
