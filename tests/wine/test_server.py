"""The HTTPS server on Winsock: ping, the plain-HTTP redirect, connections that say nothing,
parallel clients, and the pairing URL on the console."""

import os
import re
import socket
import threading
import unittest

from quillmark_wine import Receiver, curl, open_module_session, run_target

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
        # The receive time-out (SO_RCVTIMEO in milliseconds) ends the wait; a wrong unit
        # would keep the connection open far longer than this test waits.
        with socket.create_connection(("127.0.0.1", receiver.port), timeout=30) as client:
            self.assertEqual(client.recv(1), b"", "the receiver answered a silent client")
        self.assertEqual(ping().status, 200)


if __name__ == "__main__":
    unittest.main()
