"""Preserve focus on headless Sway: with general.preserve_focus the daemon takes the keys
through an input-method keyboard grab while the focused window keeps its keyboard focus.

The keys come from the tests' own virtual keyboard, a client of its own: Sway does not hand an
input method the keys of a virtual keyboard made by that same input method's client, but it
does forward every other keyboard of the seat."""

import os
import re
import socket
import struct
import time
import unittest
from datetime import datetime, timedelta
from pathlib import Path

from harness import DesktopTest, EVENT_TIMEOUT

# 40 x 40 root cells on the 1280 x 720 output: 32 columns, 18 rows, two-letter labels in row
# order (aa, ab, ... az, ba, ...).
TILE = 40
COLUMNS = 1280 // TILE

PRESERVE = """
[general]
preserve_focus = true

[grid]
root_min_tile_width = 40
root_min_tile_height = 40
"""

# A distinctive repeat, far from Sway's defaults (25 keys per second after 600 ms).
REPEAT_RATE = 4
REPEAT_DELAY_MS = 100

UNAVAILABLE = ("input-method capture unavailable: another input method may own the seat, or "
               "the seat was removed; overlay focus will not be taken")


def cell_label(column, row):
    index = row * COLUMNS + column
    return "abcdefghijklmnopqrstuvwxyz"[index // 26] + "abcdefghijklmnopqrstuvwxyz"[index % 26]


def cell_centre(column, row):
    return column * TILE + TILE // 2, row * TILE + TILE // 2


class WireClient:
    """A Wayland client spoken directly on the wire: enough to become the input method of a
    seat, so the daemon finds the seat taken. Closing it gives the seat back."""

    def __init__(self, runtime_dir, display):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(EVENT_TIMEOUT)
        self.sock.connect(str(Path(runtime_dir) / display))
        self.next_id = 2
        self.pending = b""

    def close(self):
        self.sock.close()

    def new_id(self):
        self.next_id += 1
        return self.next_id - 1

    @staticmethod
    def uint(value):
        return struct.pack("<I", value)

    @staticmethod
    def string(text):
        data = text.encode() + b"\0"
        return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)

    def request(self, target, opcode, payload=b""):
        self.sock.sendall(struct.pack("<II", target, ((8 + len(payload)) << 16) | opcode) + payload)

    def read_event(self):
        while True:
            if len(self.pending) >= 8:
                target, word = struct.unpack_from("<II", self.pending)
                size = word >> 16
                if len(self.pending) >= size:
                    payload = self.pending[8:size]
                    self.pending = self.pending[size:]
                    return target, word & 0xFFFF, payload
            chunk = self.sock.recv(65536)
            if not chunk:
                raise RuntimeError("the compositor closed the connection")
            self.pending += chunk

    def roundtrip(self):
        """The events that arrived before the answer to a wl_display.sync."""
        callback = self.new_id()
        self.request(1, 0, self.uint(callback))
        events = []
        while True:
            event = self.read_event()
            if event[0] == 1 and event[1] == 0:
                raise RuntimeError(f"protocol error: {event[2]!r}")
            if event[0] == callback:
                return events
            events.append(event)

    def take_seat(self):
        """Becomes the input method of the first seat; fails if the seat is already taken."""
        registry = self.new_id()
        self.request(1, 1, self.uint(registry))
        globals_ = {}
        for target, opcode, payload in self.roundtrip():
            if target == registry and opcode == 0:
                name, length = struct.unpack_from("<II", payload)
                interface = payload[8:8 + length - 1].decode()
                globals_.setdefault(interface, name)

        def bind(interface, version):
            new = self.new_id()
            self.request(registry, 0, self.uint(globals_[interface]) + self.string(interface) +
                         self.uint(version) + self.uint(new))
            return new

        seat = bind("wl_seat", 1)
        manager = bind("zwp_input_method_manager_v2", 1)
        input_method = self.new_id()
        self.request(manager, 0, self.uint(seat) + self.uint(input_method))
        # zwp_input_method_v2.unavailable is event 6.
        if any(t == input_method and op == 6 for t, op, _ in self.roundtrip()):
            raise RuntimeError("the seat already has an input method")


def log_time(line):
    """The time of day of a daemon log line ("TRC 10:14:45.597Z ...")."""
    return datetime.strptime(line.split()[1], "%H:%M:%S.%fZ")


class ClientTest(DesktopTest):
    def command(self, *args):
        """Runs one client command: its status, standard output and the lines of standard
        error that are not log lines."""
        status, out, err = self.client(*args)
        printed = [l for l in err.splitlines() if not re.match(r"(ERR|WRN|INF|DBG|TRC) ", l)]
        return status, out, printed


class PreserveFocusTest(ClientTest):
    extra_sway_config = (f"input type:keyboard repeat_rate {REPEAT_RATE}",
                         f"input type:keyboard repeat_delay {REPEAT_DELAY_MS}")

    def start_focused_probe(self):
        probe = self.start_probe()
        self.assertIsNotNone(probe.out.wait_for("keyboard enter"), "the probe never got focus")
        return probe

    def start_grid(self, daemon, *options):
        mark = daemon.err.mark()
        self.assertEqual(self.command("grid", *options), (0, "", []))
        self.assertIsNotNone(daemon.wait_log("input-method keyboard grab started seat=seat0",
                                             start=mark))
        return mark

    def assert_no_line(self, process, text, start):
        self.assertEqual([l for l in process.out.lines()[start:] if text in l], [])

    def test_label_and_click_reach_the_daemon_while_the_window_keeps_focus(self):
        probe = self.start_focused_probe()
        daemon = self.start_daemon(PRESERVE, extra_args=("--log-level", "trace"))
        seen = probe.out.mark()
        self.start_grid(daemon, "--action", "left")

        column, row = 7, 5
        label = cell_label(column, row)
        self.keyboard.type(label)
        pressed = probe.out.wait_for("pointer button 272 pressed", start=seen)
        self.assertIsNotNone(pressed, "the click did not land")
        self.assertIsNotNone(probe.out.wait_for("pointer button 272 released", start=seen))
        positions = [l for l in probe.out.lines()[seen:probe.out.lines().index(pressed, seen)]
                     if l.startswith(("pointer enter", "pointer motion"))]
        x, y = cell_centre(column, row)
        self.assertTrue(positions, "the pointer never moved onto the probe")
        self.assertEqual(positions[-1].split()[-2:], [f"{x:.2f}", f"{y:.2f}"])

        # The window kept the keyboard the whole time, and the typed letters went to the
        # daemon only.
        self.assert_no_line(probe, "keyboard leave", seen)
        self.assert_no_line(probe, "keyboard key", seen)
        for letter in label:
            self.assertIsNotNone(daemon.wait_log(f"input-method key name={letter} "))

        # The click ended the mode: the grab is gone and the keys go to the window again.
        self.assertIsNotNone(daemon.wait_log("input-method keyboard grab released"))
        mark = probe.out.mark()
        self.keyboard.tap("x")
        self.assertIsNotNone(probe.out.wait_for("keyboard key 45 pressed", start=mark))
        self.assertIsNone(daemon.err.wait_for("keyboard capture lost", 0))
        # The grab was torn down from inside its own delivery; the daemon lives on.
        self.assertTrue(daemon.running())

    def test_holding_a_key_repeats_at_the_rate_of_the_grab(self):
        probe = self.start_focused_probe()
        daemon = self.start_daemon(PRESERVE, extra_args=("--log-level", "trace"))
        seen = probe.out.mark()
        mark = self.start_grid(daemon)

        # b is no grid binding: "bb" selects a cell and the mode waits, so the grab stays.
        self.keyboard.send("down b")
        time.sleep(1.3)
        self.keyboard.send("up b")
        released = daemon.wait_log("input-method key name=b code=48 released=true", start=mark)
        self.assertIsNotNone(released)
        time.sleep(0.6)

        lines = daemon.err.lines()[mark:]
        press = next(l for l in lines if "name=b code=48 released=false repeat=false" in l)
        repeats = [l for l in lines if "name=b code=48 released=false repeat=true" in l]
        # 100 ms, then every 250 ms while held for 1.3 s: about five; none after the release.
        self.assertGreaterEqual(len(repeats), 3, repeats)
        self.assertLess(lines.index(repeats[-1]), lines.index(released))
        first = log_time(repeats[0]) - log_time(press)
        self.assertGreaterEqual(first, timedelta(milliseconds=REPEAT_DELAY_MS - 5))
        self.assertLess(first, timedelta(milliseconds=450), "not the grab's delay")
        gaps = sorted(log_time(b) - log_time(a) for a, b in zip(repeats, repeats[1:]))
        median = gaps[len(gaps) // 2]
        self.assertGreater(median, timedelta(milliseconds=150), "faster than the grab's rate")
        self.assertLess(median, timedelta(milliseconds=500), "slower than the grab's rate")
        self.assert_no_line(probe, "keyboard key", seen)

    def test_unplugging_the_keyboard_ends_the_mode_and_releases_the_button(self):
        probe = self.start_focused_probe()
        daemon = self.start_daemon(PRESERVE)
        mark = daemon.err.mark()
        self.assertEqual(self.command("mouse"), (0, "", []))
        self.assertIsNotNone(daemon.wait_log("input-method keyboard grab started", start=mark))

        seen = probe.out.mark()
        self.keyboard.send("down s")  # bindings.mouse.left_button: held while the key is
        self.assertIsNotNone(probe.out.wait_for("pointer button 272 pressed", start=seen))
        self.keyboard.unplug()

        # Whichever loss the compositor reports first (the grab's seat or the daemon's own),
        # the mode ends, the button comes up and the grab goes.
        self.assertIsNotNone(probe.out.wait_for("pointer button 272 released", start=seen))
        self.assertIsNotNone(daemon.wait_log("input-method keyboard grab released", start=mark))
        lost = [l for l in daemon.err.lines()[mark:] if "keyboard capture lost: " in l]
        for line in lost:
            self.assertTrue(line.endswith("keyboard capture lost: input-method seat lost its "
                                          "keyboard"), line)
        self.assertTrue(daemon.running())


class SetupFailureTest(ClientTest):
    def test_a_seat_owned_by_another_input_method_refuses_the_grab(self):
        self.start_probe()
        daemon = self.start_daemon(PRESERVE)
        holder = WireClient(self.desktop.runtime_dir, self.desktop.wayland_display)
        self.addCleanup(holder.close)
        holder.take_seat()

        for command in (["grid"], ["mouse"]):
            with self.subTest(command[0]):
                self.assertEqual(self.command(*command),
                                 (1, "", [f"tarvik: daemon rejected request: {UNAVAILABLE}"]))

        # Once the other input method leaves, the seat is free again.
        holder.close()
        time.sleep(0.2)
        mark = daemon.err.mark()
        self.assertEqual(self.command("grid"), (0, "", []))
        self.assertIsNotNone(daemon.wait_log("input-method keyboard grab started", start=mark))

    def test_a_compositor_without_input_methods_refuses_preserve_focus(self):
        self.start_daemon(PRESERVE, env={"TARVIK_TEST_HIDE_GLOBALS": "zwp_input_method_manager_v2"})
        for command in (["grid"], ["mouse"]):
            with self.subTest(command[0]):
                self.assertEqual(self.command(*command),
                                 (1, "", ["tarvik: daemon rejected request: preserve_focus "
                                          "requires zwp_input_method_manager_v2"]))


if __name__ == "__main__":
    unittest.main()
