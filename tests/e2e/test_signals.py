"""Stopping the daemon by signal on headless Sway: SIGTERM and SIGINT end it in order (the
active mode cancelled with its held button released, the socket file removed, exit status 0),
and a new daemon starts in its place."""

import os
import signal
import socket
import subprocess
import time
import unittest

import grid
from harness import DesktopTest, EVENT_TIMEOUT
from test_pointer import OUTPUT, at

# A stopped daemon has at most a roundtrip to make, then the sanitizers' exit checks when built
# with them; far less than this even on a busy machine.
STOP_TIMEOUT = 10.0


class SignalShutdownTest(DesktopTest):
    def setUp(self):
        super().setUp()
        self.probe = self.start_probe()

    def client_ok(self, *args):
        status, out, err = self.client(*args)
        self.assertEqual((status, out), (0, ""), err)

    def wait_probe(self, text, start):
        found = self.probe.out.wait_for(text, EVENT_TIMEOUT, start=start)
        self.assertIsNotNone(found, f"probe never showed {text!r}; last lines: "
                                    f"{self.probe.out.lines()[-8:]}")
        return self.probe.out.lines().index(found, start)

    def enter_mouse_mode(self, how, point=(640, 360)):
        """Mouse mode, straight or through the mouse action of the grid cell at `point`."""
        mark = self.probe.out.mark()
        if how == "mouse":
            self.client_ok("mouse")
            self.wait_probe("keyboard leave", mark)
        else:
            self.client_ok("grid", "--action", "mouse")
            self.wait_probe("keyboard leave", mark)
            cell = grid.cell_at(grid.root_level(grid.Settings(), [OUTPUT]), *point)
            self.keyboard.type(cell.label)
            self.wait_probe(at(*cell.target()), mark)
            # Mouse mode shows its overlay again; let the keyboard focus settle on it.
            time.sleep(0.4)

    def lock_button(self, key, code):
        mark = self.probe.out.mark()
        self.keyboard.tap("v")
        self.keyboard.tap(key)
        return self.wait_probe(f"pointer button {code} pressed", mark)

    def assert_stopped_in_order(self, daemon, *names):
        """Any one of `names` may be the signal the daemon reports."""
        status = daemon.wait(STOP_TIMEOUT)
        daemon.err.wait_closed(2)
        # Under the sanitizer build a leak or memory error report also makes the status non-zero;
        # name the report rather than only the status.
        reports = [l for l in daemon.err.lines() if "Sanitizer" in l]
        self.assertEqual(reports, [], "\n".join(daemon.err.lines()[-30:]))
        self.assertEqual(status, 0, "\n".join(daemon.err.lines()[-10:]))
        self.assertIsNotNone(daemon.err.wait_for(
            lambda l: any(l.endswith(f"received {n}, shutting down") for n in names), 1),
            "\n".join(daemon.err.lines()[-10:]))
        self.assertIsNotNone(daemon.err.wait_for("daemon stopped", 1))
        self.assertFalse(any(line.startswith("tarvik: ") for line in daemon.err.lines()),
                         "\n".join(daemon.err.lines()[-10:]))
        self.assertFalse(os.path.exists(self.socket_path()), "the socket file must be removed")

    def test_a_signal_releases_the_locked_button_and_ends_the_daemon(self):
        cases = [
            (signal.SIGTERM, "mouse", None, "s", 272),
            (signal.SIGINT, "mouse", None, "d", 274),
            # Cells away from wherever the pointer was left, so the move shows as motion.
            (signal.SIGTERM, "grid", (200, 150), "f", 273),
            (signal.SIGINT, "grid", (1000, 600), "s", 272),
        ]
        for n, (sig, how, point, key, code) in enumerate(cases):
            with self.subTest(signal=sig.name, mode=how):
                daemon = self.start_daemon(name=f"daemon-{n}")
                self.enter_mouse_mode(how, point)
                pressed = self.lock_button(key, code)
                daemon.popen.send_signal(sig)
                self.wait_probe(f"pointer button {code} released", pressed)
                self.assert_stopped_in_order(daemon, sig.name)

        # The next daemon binds the socket afresh and serves a grid.
        self.start_daemon(name="after")
        self.client_ok("grid")
        self.client_ok("cancel")

    def test_a_second_signal_during_the_shutdown_changes_nothing(self):
        daemon = self.start_daemon()
        self.enter_mouse_mode("mouse")
        pressed = self.lock_button("s", 272)
        daemon.popen.send_signal(signal.SIGTERM)
        daemon.popen.send_signal(signal.SIGINT)
        daemon.popen.send_signal(signal.SIGTERM)
        self.wait_probe("pointer button 272 released", pressed)
        # Signals pending together are read lowest number first, so either may come first.
        self.assert_stopped_in_order(daemon, "SIGTERM", "SIGINT")
        self.assertEqual(sum("shutting down" in line for line in daemon.err.lines()), 1)
        released = [l for l in self.probe.out.lines()[pressed:] if "button 272 released" in l]
        self.assertEqual(len(released), 1)

    def test_a_signal_during_a_preserve_focus_drag_releases_the_button_and_the_grab(self):
        daemon = self.start_daemon("[general]\npreserve_focus = true\n")
        mark = daemon.err.mark()
        self.client_ok("mouse")
        self.assertIsNotNone(daemon.wait_log("input-method keyboard grab started", start=mark))
        pressed = self.lock_button("s", 272)
        daemon.popen.send_signal(signal.SIGTERM)
        self.wait_probe("pointer button 272 released", pressed)
        self.assert_stopped_in_order(daemon, "SIGTERM")
        self.assertIsNotNone(daemon.err.wait_for("input-method keyboard grab released", 1,
                                                 start=mark))

    def test_an_idle_daemon_ends_at_once(self):
        daemon = self.start_daemon()
        self.assertTrue(self.socket_path().exists())
        daemon.popen.send_signal(signal.SIGTERM)
        self.assert_stopped_in_order(daemon, "SIGTERM")

    def test_a_client_command_keeps_the_default_reaction_to_signals(self):
        # A client waiting for an answer that never comes must still die by the signal, not
        # wait on: nothing but the daemon blocks them. The stand-in daemon is a socket that
        # accepts and never answers.
        self.socket_path().parent.mkdir(parents=True, exist_ok=True)
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as silent:
            silent.bind(str(self.socket_path()))
            silent.listen(1)
            silent.settimeout(EVENT_TIMEOUT)
            env = self.desktop.env()
            client = subprocess.Popen([os.environ["TARVIK_EXECUTABLE"], "cancel"], env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                conn, _ = silent.accept()
                with conn:
                    client.send_signal(signal.SIGTERM)
                    self.assertEqual(client.wait(STOP_TIMEOUT), -signal.SIGTERM)
            finally:
                if client.poll() is None:
                    client.kill()
                    client.wait()


if __name__ == "__main__":
    unittest.main()
