"""The HTTPS server on Winsock: ping, the plain-HTTP redirect, connections that say nothing,
parallel clients, short bodies over TLS, one client that holds many connections, thousands of
idle connections from many clients, the pairing key, and the pairing URL on the console."""

import json
import os
import re
import resource
import select
import socket
import ssl
import threading
import time
import unittest

from quillmark_wine import (Receiver, ca_fingerprint, curl, identity_folder, listening_line,
                            open_module_session, post_scan, run_target)
from wine_harness import wait_for

# How long the receiver waits for a request's head, dribbled or not, before it closes.
HEAD_DEADLINE_S = 10

session = None
work_dir = None
receiver = None


def setUpModule():
    global session, work_dir, receiver
    session, work_dir = open_module_session("server")
    receiver = Receiver.headless(session, work_dir).wait_listening()
    unittest.addModuleCleanup(receiver.stop)


def advertised_address():
    """The address in the pairing URL the receiver printed (an address of this machine under
    Wine; tests never send anything to it)."""
    receiver.wait_for_output("Pairing URL: ")
    match = re.search(r"Pairing URL: https://([0-9.]+):(\d+)/", receiver.output())
    return match[1]


def ping():
    return curl(f"https://127.0.0.1:{receiver.port}/api/ping")


def tls_exchange(port, request, shut_down=False, source="", timeout=30):
    """One request over a TLS connection of Python's own (from `source`, a loopback address);
    with `shut_down`, the sending side is shut down after it, without close_notify. Returns all
    the receiver sent until it closed."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE  # the receiver's certificate is self-signed
    raw = socket.create_connection(("127.0.0.1", port), timeout=timeout,
                                   source_address=(source, 0) if source else None)
    with context.wrap_socket(raw) as tls:
        tls.sendall(request)
        if shut_down:
            socket.socket.shutdown(tls, socket.SHUT_WR)  # the plain socket's: no close_notify
        answer = b""
        while chunk := tls.recv(65536):
            answer += chunk
    return answer


def scan_request(text, query=""):
    body = json.dumps({"text": text}).encode()
    return (f"POST /api/scan{query} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
            f"Content-Length: {len(body)}\r\n\r\n").encode() + body


def response_bytes(status, body):
    return (f"HTTP/1.1 {status}\r\nContent-Type: application/json; charset=utf-8\r\n"
            f"Content-Length: {len(body)}\r\nCache-Control: no-store\r\n"
            "Access-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: GET, POST, OPTIONS\r\n"
            "Access-Control-Allow-Headers: Content-Type\r\nConnection: close\r\n\r\n").encode() + body


class Console(unittest.TestCase):
    def test_pairing_url_is_printed(self):
        address = advertised_address()
        port = receiver.port
        self.assertIn(f"Pairing URL: https://{address}:{port}/?pc=https%3A%2F%2F{address}%3A"
                      f"{port}%2Fapi%2Fscan\n", receiver.output())


def local_ipv4_addresses():
    """Every IPv4 address of this Linux machine (the kernel's local routes)."""
    with open("/proc/net/fib_trie") as table:
        return set(re.findall(r"\|-- ([0-9.]+)\n\s+/32 host LOCAL", table.read()))


class Adapters(unittest.TestCase):
    def test_advertised_address_is_one_of_this_machines(self):
        # Under Wine the adapters are the Linux interfaces. Loopback and link-local addresses
        # are never advertised while there is another; without one, 127.0.0.1 stands in.
        usable = {a for a in local_ipv4_addresses()
                  if not a.startswith(("127.", "169.254.")) and a != "0.0.0.0"}
        self.assertIn(advertised_address(), usable or {"127.0.0.1"})


class Ping(unittest.TestCase):
    def test_reply_names_this_computer_port_and_address(self):
        self.assertEqual(run_target(session, work_dir, "--environment", "COMPUTERNAME",
                                    "computername.txt"), 0)
        with open(os.path.join(work_dir, "computername.txt"), encoding="utf-8") as file:
            computer_name = file.read()
        reply = ping()
        self.assertEqual(reply.status, 200)
        self.assertEqual(reply.headers["content-type"], "application/json; charset=utf-8")
        self.assertEqual(reply.json(), {
            "ok": True, "client": "quillmark-receiver-gui", "protocol": "https",
            "host": computer_name, "port": receiver.port,
            "lanAddresses": [advertised_address()]})

    def test_parallel_clients_are_all_answered(self):
        replies = [None] * 12

        def call(index):
            replies[index] = ping()

        threads = [threading.Thread(target=call, args=(i,)) for i in range(len(replies))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual([r.status for r in replies], [200] * len(replies))


class PlainHttp(unittest.TestCase):
    def test_redirect_to_https_keeps_the_target(self):
        reply = curl(f"http://127.0.0.1:{receiver.port}/about?x=1")
        self.assertEqual(reply.status, 302)
        self.assertEqual(reply.headers["location"],
                         f"https://{advertised_address()}:{receiver.port}/about?x=1")
        self.assertEqual(reply.headers["content-length"], "0")
        self.assertEqual(reply.headers["connection"], "close")
        self.assertEqual(reply.body, b"")

    def test_bare_request_line_goes_to_the_root(self):
        with socket.create_connection(("127.0.0.1", receiver.port), timeout=15) as client:
            client.sendall(b"GET\r\n\r\n")
            answer = b""
            while chunk := client.recv(4096):
                answer += chunk
        self.assertTrue(answer.startswith(b"HTTP/1.1 302 Found\r\n"), answer)
        self.assertIn(f"\r\nLocation: https://{advertised_address()}:{receiver.port}/\r\n"
                      .encode(), answer)


class QuietClients(unittest.TestCase):
    def test_client_that_closes_at_once_leaves_the_server_running(self):
        for _ in range(3):
            socket.create_connection(("127.0.0.1", receiver.port), timeout=5).close()
        self.assertEqual(ping().status, 200)

    def test_silent_client_is_disconnected(self):
        # The 5 s receive time-out ends the wait; one taken in the wrong unit would keep the
        # connection open far longer than this test waits.
        with socket.create_connection(("127.0.0.1", receiver.port), timeout=30) as client:
            self.assertEqual(client.recv(1), b"", "the receiver answered a silent client")
        self.assertEqual(ping().status, 200)


class ShortBody(unittest.TestCase):
    def test_is_answered_with_400_over_tls(self):
        # 4 of 10 announced bytes, then silence (answered after the 5 s receive time-out) or a
        # shut-down sending side without close_notify.
        expected = response_bytes("400 Bad Request",
                                  b'{"ok":false,"error":"Incomplete request body"}')
        request = (b"POST /api/scan HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 10\r\n\r\n"
                   b'{"te')
        for shut_down in (False, True):
            with self.subTest(shut_down=shut_down):
                self.assertEqual(tls_exchange(receiver.port, request, shut_down), expected)
        self.assertEqual(ping().status, 200)


class Dribbler:
    """Connections from one loopback address that send a byte now and then, or nothing."""

    def __init__(self, port, source):
        self.port = port
        self.source = source
        self.dribbling = []
        self.silent = []
        self.opened_at = {}  # connection: when it was opened (time.monotonic())
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._drip)

    def open(self, count, start=None):
        for _ in range(count):
            connection = socket.create_connection(("127.0.0.1", self.port), timeout=30,
                                                  source_address=(self.source, 0))
            self.opened_at[connection] = time.monotonic()
            if start is None:
                self.silent.append(connection)
            else:
                connection.sendall(start)
                self.dribbling.append(connection)

    def _drip(self):
        while not self._stop.wait(1):
            for connection in self.dribbling:
                try:
                    connection.send(b"a")
                except OSError:
                    pass

    def start(self):
        self._thread.start()

    def closed_by_server(self, younger_than=None):
        """How many of them the receiver has closed: they are never answered, so anything
        readable is the end. With `younger_than` (seconds), only those opened since then."""
        now = time.monotonic()
        poller = select.poll()  # select() cannot take descriptors past 1023
        for connection in self.dribbling + self.silent:
            if younger_than is None or now - self.opened_at[connection] < younger_than:
                poller.register(connection, select.POLLIN)
        return len(poller.poll(0))

    def close(self):
        self._stop.set()
        if self._thread.is_alive():
            self._thread.join()
        for connection in self.dribbling + self.silent:
            connection.close()


class OneClientCannotBlock(unittest.TestCase):
    """127.0.0.2 holds 300 silent and 50 dribbling connections; 100 scans from 127.0.0.1 are all
    answered, each within a second. Wine's sockets are Linux sockets, so the second loopback
    address is a client of its own for the receiver too."""

    def test_scans_from_another_address_are_served(self):
        quiet = Receiver.headless(session, work_dir, "--no-type", "--no-copy").wait_listening()
        self.addCleanup(quiet.stop)
        hostile = Dribbler(quiet.port, "127.0.0.2")
        self.addCleanup(hostile.close)
        # The dribbling ones first: those the receiver keeps stay open until the request-head
        # deadline (10 s), longer than the scans take.
        hostile.open(25, b"GET /")
        hostile.open(25, b"\x16\x03\x01\x40\x00")
        hostile.open(300)
        hostile.start()
        beyond_cap = 350 - 16
        self.assertTrue(wait_for(lambda: hostile.closed_by_server() >= beyond_cap, 30),
                        f"only {hostile.closed_by_server()} closed at once")

        worst = 0.0
        for i in range(100):
            text = f"TWO-CLIENTS-{i}"
            start = time.monotonic()
            answer = tls_exchange(quiet.port, scan_request(text))
            took = time.monotonic() - start
            worst = max(worst, took)
            self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer)
            self.assertIn(f'"text":"{text}"'.encode(), answer)
            self.assertLess(took, 1.0, f"scan {i}")
        print(f"\nworst scan latency with a hostile client (Wine): {worst * 1000:.0f} ms; "
              f"{350 - hostile.closed_by_server()} hostile connections still open", flush=True)
        self.assertEqual(len(quiet.scan_log_lines()), 100)


class ManyIdleConnections(unittest.TestCase):
    """Idle connections cost the receiver no thread: 2,000 of them, 16 from each of 125
    loopback addresses, are held while scans from 127.0.0.1 are answered."""

    def test_scans_are_answered_while_thousands_are_held(self):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
        self.addCleanup(resource.setrlimit, resource.RLIMIT_NOFILE, (soft, hard))
        quiet = Receiver.headless(session, work_dir, "--no-type", "--no-copy").wait_listening()
        self.addCleanup(quiet.stop)
        clients = [Dribbler(quiet.port, f"127.0.{1 + n // 250}.{1 + n % 250}") for n in range(125)]
        for client in clients:
            self.addCleanup(client.close)
            client.open(16, b"GET /")  # dribbling: held until the request-head deadline (10 s)
            client.start()
        for i in range(20):
            answer = tls_exchange(quiet.port, scan_request(f"AMONG-IDLE-{i}"))
            self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer)
        # Any connection still younger than the request-head deadline must be open; on a busy
        # machine the oldest may have met the deadline by now, as they should.
        self.assertEqual(sum(client.closed_by_server(younger_than=HEAD_DEADLINE_S)
                             for client in clients), 0)
        self.assertEqual(len(quiet.scan_log_lines()), 20)


class PairingKey(unittest.TestCase):
    def test_scans_need_the_key_of_the_pairing_url(self):
        keyed = Receiver.headless(session, work_dir, "--pairing-key", "--no-type",
                                  "--no-copy").wait_listening()
        self.addCleanup(keyed.stop)
        keyed.wait_for_output("Pairing URL: ")
        match = re.search(r"Pairing URL: https://\S+%2Fapi%2Fscan%3Fkey%3D([\w-]{22})\n",
                          keyed.output())
        self.assertIsNotNone(match, keyed.output())
        refusal = b'{"ok":false,"error":"Pairing key required: scan the QR code shown by the receiver again"}'
        self.assertEqual(tls_exchange(keyed.port, scan_request("NO-KEY")),
                         response_bytes("403 Forbidden", refusal))
        self.assertEqual(post_scan(keyed.port, {"text": "X"}).status, 403)
        answer = tls_exchange(keyed.port, scan_request("WITH-KEY", f"?key={match[1]}"))
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK\r\n"), answer)
        keyed.wait_for_output("] WITH-KEY (100% - Received)")
        self.assertEqual([entry[1] for entry in keyed.scan_log_lines()], ["WITH-KEY"])
        self.assertEqual(keyed.output().count(
            "Refused a scan from 127.0.0.1: wrong pairing key\n"), 1)
        self.assertEqual(curl(f"https://127.0.0.1:{keyed.port}/api/ping").status, 200)


def served_certificate(port):
    """The server certificate the receiver on `port` sends, as DER."""
    with socket.create_connection(("127.0.0.1", port), timeout=15) as raw:
        context = ssl.create_default_context()
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        with context.wrap_socket(raw) as tls:
            return tls.getpeercert(binary_form=True)


class LastingIdentity(unittest.TestCase):
    def test_identity_lives_in_local_app_data_and_is_reused(self):
        folder = identity_folder()
        for name in ("ca.crt", "ca.key", "server.crt", "server.key"):
            self.assertTrue(os.path.isfile(os.path.join(folder, name)), name)
        with open(os.path.join(folder, "ca.crt"), "rb") as file:
            ca_before = file.read()
        first = served_certificate(receiver.port)
        again = Receiver.headless(session, work_dir, "--no-type", "--no-copy").wait_listening()
        self.addCleanup(again.stop)
        self.assertEqual(served_certificate(again.port), first)
        self.assertNotIn("Made a new local CA", again.output())
        with open(os.path.join(folder, "ca.crt"), "rb") as file:
            self.assertEqual(file.read(), ca_before)
        self.assertIn(f"Local CA fingerprint (SHA-256): {ca_fingerprint()}\n", again.output())
        self.assertIn("/trust.html once to stop certificate warnings\n", again.output())
        # The served CA is the file's, as DER.
        served = curl(f"https://127.0.0.1:{again.port}/quillmark-ca.crt")
        self.assertEqual(served.body, ssl.PEM_cert_to_DER_cert(ca_before.decode()))


if __name__ == "__main__":
    unittest.main()
