"""Outputs and seats changing under a running daemon on headless Sway: the scale rule, changes
that are not real layout changes, a brief loss of the keyboard focus, and a keyboard that is
unplugged and plugged in again."""

import time
import unittest

import grid
from harness import DesktopTest, Keyboard, Probe, EVENT_TIMEOUT
from test_pointer import OUTPUT, PointerTest, at


class ScaleTest(DesktopTest):
    def test_a_scaled_output_is_listed_at_its_logical_size(self):
        self.desktop.swaymsg("output", "HEADLESS-1", "scale", "2")
        for name, env in [("with-xdg-output", None),
                          ("without-xdg-output", {"TARVIK_TEST_HIDE_GLOBALS":
                                                  "zxdg_output_manager_v1"})]:
            with self.subTest(name):
                daemon = self.start_daemon(name=name, env=env)
                self.assertIsNotNone(daemon.wait_log(
                    "output available name=HEADLESS-1 position=0,0 size=640x360"))
                self.assertEqual(self.client("grid")[0], 0)
                self.assertEqual(self.client("cancel")[0], 0)
                daemon.stop()


class LayoutChangeTest(PointerTest):
    def test_a_refresh_change_keeps_grid_mode(self):
        cell = grid.cell_at(self.root(), 900, 500)
        self.open_grid()
        mark = self.daemon.err.mark()
        self.desktop.swaymsg("output", "HEADLESS-1", "resolution", "1280x720@30Hz")
        # Sway's own refresh took effect; the daemon saw a description and found no change.
        deadline = time.monotonic() + EVENT_TIMEOUT
        while self.desktop.outputs()[0]["current_mode"]["refresh"] != 30000:
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.1)
        time.sleep(0.5)
        self.assertIsNone(self.daemon.wait_log("rebuilding output surfaces", 0, start=mark))
        probe_mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.keyboard.tap("s")
        self.expect([at(*cell.target()), "pointer button 272 pressed"], probe_mark)


class FocusFlickerTest(PointerTest):
    def test_a_leave_followed_at_once_by_an_enter_keeps_grid_mode(self):
        # A second client mapping an exclusive overlay-layer surface makes Sway take the
        # keyboard from the daemon's overlay and give it straight back.
        cell = grid.cell_at(self.root(), 640, 360)
        self.open_grid()
        mark = self.daemon.err.mark()
        intruder = self.start(Probe, self.desktop.env(), self.log_dir, 200, 100,
                              ("--intruder",), "intruder")
        left = self.daemon.wait_log("keyboard focus left", start=mark)
        self.assertIsNotNone(left)
        self.assertIsNotNone(self.daemon.wait_log(
            "keyboard focus entered", start=self.daemon.err.lines().index(left, mark)))
        time.sleep(0.3)  # well beyond the 50 ms focus check
        intruder.stop()
        probe_mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.keyboard.tap("s")
        self.expect([at(*cell.target()), "pointer button 272 pressed"], probe_mark)


class KeyboardReplugTest(PointerTest):
    def test_a_keyboard_plugged_in_again_drives_the_grid(self):
        self.open_grid()
        self.keyboard.unplug()
        self.assertIsNotNone(self.probe.out.wait_for("seat keyboard removed", EVENT_TIMEOUT))
        self.keyboard = self.start(Keyboard, self.desktop.env(), self.log_dir)
        cell = grid.cell_at(self.root(), 100, 600)
        self.open_grid()
        mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.keyboard.tap("s")
        self.expect([at(*cell.target()), "pointer button 272 pressed"], mark)


if __name__ == "__main__":
    unittest.main()
