"""The daemon on headless Sway under load and against clients that misbehave: long runs of
requests, many clients at once, oversized, silent, vanishing and random clients. Each gets its
answer or is dropped, and the daemon keeps serving the next one."""

import json
import os
import random
import socket
import subprocess
import threading
import time
import unittest

from harness import CLIENT_TIMEOUT, DesktopTest, required_env

CANCEL = '{"version":1,"command":"Cancel"}'
GRID = ('{"version":1,"command":{"Grid":{"scope":"all","output":null,"action":"choose",'
        '"auto_descend":null,"max_depth":null}}}')
MOUSE = '{"version":1,"command":"Mouse"}'
RELOAD = '{"version":1,"command":"Reload"}'

# How long the daemon waits for a request line before it gives up on a connection (1 second),
# with room for a loaded machine.
READ_DEADLINE = 1.0
SLACK = 5.0


def read_answer(sock):
    """Everything the daemon writes until it closes; None when it reset the connection."""
    answer = b""
    try:
        while chunk := sock.recv(8192):
            answer += chunk
    except ConnectionResetError:
        return None
    return answer


def decode(answer):
    """The one JSON line an answer must be."""
    text = answer.decode("utf-8")
    if not text.endswith("\n") or "\n" in text[:-1]:
        raise AssertionError(f"not one line: {text!r}")
    return json.loads(text)


class StressTest(DesktopTest):
    def setUp(self):
        super().setUp()
        self.daemon = self.start_daemon()

    def connect(self):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(sock.close)
        sock.settimeout(CLIENT_TIMEOUT)
        sock.connect(str(self.socket_path()))
        return sock

    def request(self, text):
        sock = self.connect()
        sock.sendall(text.encode() + b"\n")
        answer = read_answer(sock)
        sock.close()
        self.assertIsNotNone(answer, f"connection reset for {text}")
        return decode(answer)

    def assert_still_serving(self):
        self.assertTrue(self.daemon.running(), "the daemon ended:\n"
                        + "\n".join(self.daemon.err.lines()[-20:]))
        self.assertEqual(self.request(CANCEL), {"ok": True, "message": "cancelled"})
        done = subprocess.run([required_env("TARVIK_EXECUTABLE"), "cancel"], capture_output=True,
                              text=True, env=self.desktop.env(), timeout=CLIENT_TIMEOUT)
        # Its standard error carries only its own info log lines.
        self.assertEqual((done.returncode, done.stdout), (0, ""), done.stderr)

    def assert_refused_or_dropped(self, answer, what):
        """A misbehaving client gets a failure answer, or its connection is closed or reset."""
        if answer:
            reply = decode(answer)
            self.assertFalse(reply["ok"], f"{what} was accepted: {reply}")
            self.assertIsInstance(reply["message"], str)

    def test_a_thousand_requests_in_a_row_are_all_answered(self):
        # Each mode request replaces the one before; every fifth request is a reload.
        cycle = [(GRID, "grid active"), (CANCEL, "cancelled"), (MOUSE, "mouse mode active"),
                 (CANCEL, "cancelled"), (RELOAD, "configuration reloaded")]
        answers = {}
        for n in range(1000):
            text, message = cycle[n % len(cycle)]
            reply = self.request(text)
            if reply != {"ok": True, "message": message}:
                self.fail(f"request {n} ({text}) got {reply}")
            answers[message] = answers.get(message, 0) + 1
        self.assertEqual(sum(answers.values()), 1000)
        self.assert_still_serving()

    def test_twenty_clients_at_once_are_all_answered(self):
        # All twenty are connected (waiting in the listen queue) before any writes its request,
        # so the daemon meets them together.
        socks = [self.connect() for _ in range(20)]
        for sock in socks:
            sock.sendall(CANCEL.encode() + b"\n")
        for n, sock in enumerate(socks):
            answer = read_answer(sock)
            self.assertIsNotNone(answer, f"client {n} was reset")
            self.assertEqual(decode(answer), {"ok": True, "message": "cancelled"}, f"client {n}")

        # And twenty real clients started together.
        executable = required_env("TARVIK_EXECUTABLE")
        clients = [subprocess.Popen([executable, "cancel"], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, env=self.desktop.env())
                   for _ in range(20)]
        for n, client in enumerate(clients):
            try:
                out, err = client.communicate(timeout=CLIENT_TIMEOUT)
            except subprocess.TimeoutExpired:
                client.kill()
                client.communicate()
                self.fail(f"client {n} did not finish")
            self.assertEqual((client.returncode, out), (0, b""), f"client {n}: {err!r}")
        self.assert_still_serving()

    def test_a_mebibyte_without_a_line_feed_is_refused_or_dropped(self):
        sock = self.connect()
        payload = b"x" * (1 << 20)
        sent = []

        def send():
            # The daemon stops reading after 64 KiB, so the rest may be refused by a reset.
            try:
                sock.sendall(payload)
                sent.append(len(payload))
            except (BrokenPipeError, ConnectionResetError, socket.timeout):
                pass

        writer = threading.Thread(target=send, daemon=True)
        writer.start()
        answer = read_answer(sock)
        writer.join(CLIENT_TIMEOUT)
        self.assertFalse(writer.is_alive(), "the writer is still blocked")
        self.assert_refused_or_dropped(answer, "a request without a line feed")
        if answer:
            self.assertTrue(decode(answer)["message"].startswith("invalid daemon message: "))
        self.assert_still_serving()

    def test_a_silent_client_holds_the_daemon_no_longer_than_its_deadline(self):
        silent = self.connect()
        time.sleep(0.1)  # let the daemon take the silent one first
        started = time.monotonic()
        self.assertEqual(self.request(CANCEL), {"ok": True, "message": "cancelled"})
        self.assertLess(time.monotonic() - started, READ_DEADLINE + SLACK)
        # The silent one has been given up on: a failure answer or a closed connection.
        self.assert_refused_or_dropped(read_answer(silent), "a silent client")
        self.assert_still_serving()

    def test_clients_that_leave_early_do_not_disturb_the_next(self):
        # Gone before writing anything, gone halfway through a request, and gone after the
        # request but before the answer.
        self.connect().close()
        half = self.connect()
        half.sendall(GRID[:20].encode())
        half.close()
        impatient = self.connect()
        impatient.sendall(GRID.encode() + b"\n")
        impatient.close()
        # Shut down only for writing: the daemon sees the end of the request at once.
        ended = self.connect()
        ended.sendall(CANCEL.encode())
        ended.shutdown(socket.SHUT_WR)
        self.assertEqual(decode(read_answer(ended)), {"ok": True, "message": "cancelled"})
        self.assert_still_serving()

    def test_random_bytes_are_refused_or_dropped(self):
        rng = random.Random(20240611)
        for n in range(200):
            size = rng.choice([0, 1, 2, 7, 64, 500, 4096, 70000])
            data = bytes(rng.randrange(256) for _ in range(size))
            if rng.random() < 0.5:
                data += b"\n"
            sock = self.connect()
            try:
                sock.sendall(data)
                sock.shutdown(socket.SHUT_WR)
            except (BrokenPipeError, ConnectionResetError):
                pass
            answer = read_answer(sock)
            sock.close()
            with self.subTest(case=n, size=len(data)):
                self.assert_refused_or_dropped(answer, f"random bytes {data[:40]!r}")
        self.assert_still_serving()


class SwayGoneTest(DesktopTest):
    def test_requests_fail_with_the_sway_error_while_its_socket_is_gone(self):
        gone = f"{self.desktop.runtime_dir}/gone.sock"
        self.daemon = self.start_daemon(env={"SWAYSOCK": gone})
        refusal = {"ok": False, "message": "Sway IPC error: No such file or directory (os error 2)"}
        for text in [GRID, MOUSE, '{"version":1,"command":{"Click":"left"}}',
                     '{"version":1,"command":{"Scroll":{"direction":"up","step":null}}}']:
            self.assertEqual(StressTest.request(self, text), refusal, text)
        # What needs no focus query still works, and the daemon lives on.
        self.assertEqual(StressTest.request(self, RELOAD),
                         {"ok": True, "message": "configuration reloaded"})
        self.assertTrue(self.daemon.running())

    connect = StressTest.connect


def memory_kib(pid):
    """Resident memory of a process: total, anonymous and shared (the overlay pools), in KiB."""
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "RssAnon", "RssShmem"):
                fields[key] = int(value.split()[0])
    return fields


@unittest.skipIf(os.environ.get("TARVIK_SANITIZED"), "the sanitizers keep freed memory in quarantine")
class MemoryTest(DesktopTest):
    """The overlay buffers of a 4K grid are large; parking the overlays must give them back."""

    extra_sway_config = ("output HEADLESS-1 resolution 3840x2160 position 0 0",)
    # One frame of 3840 x 2160 four-byte pixels: 31.6 MiB.
    FRAME_KIB = 3840 * 2160 * 4 // 1024

    request = StressTest.request
    connect = StressTest.connect

    def session(self):
        """Idle, peak and settled memory around five grid and mouse sessions."""
        daemon = self.start_daemon()
        self.assertEqual(self.request(CANCEL), {"ok": True, "message": "cancelled"})
        idle = memory_kib(daemon.pid)
        peak = 0
        for _ in range(5):
            for text, message in [(GRID, "grid active"), (MOUSE, "mouse mode active"),
                                  (CANCEL, "cancelled")]:
                self.assertEqual(self.request(text), {"ok": True, "message": message})
                peak = max(peak, memory_kib(daemon.pid)["VmRSS"])
        # A pool shrinks once the compositor has released its buffers, a moment after parking.
        deadline = time.monotonic() + SLACK
        while True:
            settled = memory_kib(daemon.pid)
            if settled["RssShmem"] <= 1024 or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        print(f"\nresident KiB at 3840x2160: idle {idle}, peak {peak}, settled {settled}")
        self.assertGreater(peak - idle["VmRSS"], self.FRAME_KIB, "no frame was ever resident")
        return idle, settled

    def test_the_overlay_pools_shrink_after_a_large_grid_session(self):
        idle, settled = self.session()
        self.assertLessEqual(settled["RssShmem"], idle["RssShmem"] + 1024)

    # glibc raises its mmap threshold to the size of the first canvas freed (just under 32 MiB
    # at 4K), so later canvases come from the heap; the daemon trims the heap when a mode ends.
    def test_resident_memory_returns_near_its_start_after_a_large_grid_session(self):
        idle, settled = self.session()
        self.assertLess(settled["VmRSS"] - idle["VmRSS"], 8 * 1024)


if __name__ == "__main__":
    unittest.main()
