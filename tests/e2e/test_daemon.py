"""The daemon on headless Sway: start-up, the single-instance rule, raw protocol requests, and
the end of the daemon when the compositor goes away."""

import os
import signal
import unittest

from harness import DesktopTest, EVENT_TIMEOUT


class DaemonLifecycleTest(DesktopTest):
    def test_starts_with_private_socket_and_refuses_a_second_daemon(self):
        first = self.start_daemon()
        self.assertIsNotNone(first.wait_log(f"bound daemon socket path={self.socket_path()}"))
        self.assert_socket_mode(0o600)

        second = self.start_daemon(name="second", wait=False)
        status = second.wait(EVENT_TIMEOUT)
        self.assertEqual(status, 1)
        self.assertIsNotNone(second.err.wait_for(
            f"tarvik: another daemon is already running at {self.socket_path()}", 1))

        # The first one keeps its socket file and keeps serving.
        self.assert_socket_mode(0o600)
        self.assertEqual(self.raw_request('{"version":1,"command":"Cancel"}'),
                         {"ok": True, "message": "cancelled"})
        self.assertTrue(first.running())

    def test_a_killed_daemon_leaves_a_socket_file_the_next_start_replaces(self):
        first = self.start_daemon()
        first.stop(signal.SIGKILL)
        self.assertTrue(self.socket_path().exists())
        self.start_daemon(name="next")
        self.assert_socket_mode(0o600)
        self.assertEqual(self.raw_request('{"version":1,"command":"Cancel"}'),
                         {"ok": True, "message": "cancelled"})

    def test_raw_requests_get_the_protocol_answers(self):
        self.start_daemon()
        cases = [
            ('[1,"Cancel"]', True, "cancelled"),
            ('{"version":1,"command":"Cancel","client":"e2e"}', True, "cancelled"),
            ('{"version":2,"command":"Reload"}', False,
             "daemon rejected request: protocol version 2 is unsupported; expected 1"),
            ('{"version":1,"command":{"Daemon":{"config":null,"seat":null}}}', False,
             "daemon requests cannot be nested"),
        ]
        for text, ok, message in cases:
            with self.subTest(request=text):
                self.assertEqual(self.raw_request(text), {"ok": ok, "message": message})
        answer = self.raw_request('{"version":1}')
        self.assertFalse(answer["ok"])
        self.assertTrue(answer["message"].startswith(
            "invalid daemon message: missing field `command` at line 1 column"), answer)

    def test_client_commands_succeed_silently(self):
        daemon = self.start_daemon()
        status, out, err = self.client("reload")
        self.assertEqual((status, out), (0, ""), err)
        self.assertIsNotNone(daemon.wait_log('received IPC command="Reload"'))


class CompositorGoneTest(DesktopTest):
    def check_daemon_ends(self, sig):
        daemon = self.start_daemon()
        socket_path = self.socket_path()
        self.assertTrue(socket_path.exists())
        self.desktop.kill(sig)
        status = daemon.wait(EVENT_TIMEOUT)
        self.assertEqual(status, 1, "the daemon must fail when its compositor is gone")
        self.assertIsNotNone(daemon.err.wait_for("tarvik: event loop failed: ", 1),
                             "\n".join(daemon.err.lines()[-5:]))
        self.assertFalse(os.path.exists(socket_path), "the socket file must be removed")

    def test_sigterm_of_the_compositor_ends_the_daemon(self):
        self.check_daemon_ends(signal.SIGTERM)

    def test_sigkill_of_the_compositor_ends_the_daemon(self):
        self.check_daemon_ends(signal.SIGKILL)


if __name__ == "__main__":
    unittest.main()
