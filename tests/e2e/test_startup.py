"""Start-up failures of the daemon on headless Sway, each with the text the user sees. A test
switch (TARVIK_TEST_HIDE_GLOBALS) hides globals from the daemon, standing in for compositors
that lack them."""

import unittest

from harness import DesktopTest, Daemon, EVENT_TIMEOUT


class StartupFailureTest(DesktopTest):
    def run_daemon(self, name, env=None, args=(), config=None):
        daemon = self.start(Daemon, self.desktop, self.log_dir, config, args, name, env or {})
        status = daemon.wait(EVENT_TIMEOUT)
        return status, daemon

    def test_each_failure_ends_the_daemon_with_its_message(self):
        cases = [
            ("no-layer-shell", {"TARVIK_TEST_HIDE_GLOBALS": "zwlr_layer_shell_v1"}, (), None,
             "tarvik: required Wayland global is unavailable: the requested global was not "
             "found in the registry"),
            ("no-shm", {"TARVIK_TEST_HIDE_GLOBALS": "wl_shm"}, (), None,
             "tarvik: required Wayland global is unavailable: the requested global was not "
             "found in the registry"),
            ("no-outputs", {"TARVIK_TEST_HIDE_GLOBALS": "wl_output"}, (), None,
             "tarvik: required Wayland global is unavailable: no Wayland output supplied "
             "usable geometry"),
            ("no-inhibitor", {"TARVIK_TEST_HIDE_GLOBALS":
                              "zwp_keyboard_shortcuts_inhibit_manager_v1"}, (), None,
             "tarvik: cannot initialize application: required keyboard shortcut inhibition is "
             "unavailable"),
            ("other-seat", {}, ("--seat", "seat1"), None,
             "tarvik: no keyboard-capable Wayland seat matched the requested seat"),
            ("no-compositor", {"WAYLAND_DISPLAY": "tarvik-no-such-display"}, (), None,
             "tarvik: cannot connect to Wayland: Could not find wayland compositor"),
            ("socket-garbage", {"WAYLAND_SOCKET": "x7"}, (), None,
             "tarvik: cannot connect to Wayland: WAYLAND_SOCKET was set but contained garbage"),
        ]
        for name, env, args, config, message in cases:
            with self.subTest(name):
                status, daemon = self.run_daemon(name, env, args, config)
                self.assertEqual(status, 1, "\n".join(daemon.err.lines()[-5:]))
                self.assertIn(message, daemon.err.lines())
                self.assertIsNone(daemon.err.wait_for("daemon started", 0))

    def test_optional_globals_may_be_missing(self):
        daemon = self.start_daemon(
            config_text="[general]\nrequire_shortcut_inhibit = false\n",
            env={"TARVIK_TEST_HIDE_GLOBALS": "zwp_keyboard_shortcuts_inhibit_manager_v1,"
                                             "zwlr_virtual_pointer_manager_v1,"
                                             "zwlr_screencopy_manager_v1"})
        self.assertIsNotNone(daemon.wait_log(
            "bound optional Wayland globals shortcut_inhibit=false virtual_pointer=false "
            "screencopy=false"))
        self.assertIsNotNone(daemon.wait_log(
            "virtual pointer unavailable; using compositor cursor commands"))
        self.assertEqual(self.raw_request('{"version":1,"command":"Cancel"}'),
                         {"ok": True, "message": "cancelled"})


class NoKeyboardTest(DesktopTest):
    # The headless seat has no keyboard until a device is plugged in.
    with_keyboard = False

    def test_a_seat_without_keyboard_does_not_qualify(self):
        daemon = self.start(Daemon, self.desktop, self.log_dir)
        self.assertEqual(daemon.wait(EVENT_TIMEOUT), 1)
        self.assertIn("tarvik: no keyboard-capable Wayland seat matched the requested seat",
                      daemon.err.lines())


if __name__ == "__main__":
    unittest.main()
