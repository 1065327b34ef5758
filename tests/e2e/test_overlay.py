"""Overlays on headless Sway: grid mode is drawn over the desktop and parked again, one overlay
per output in sorted order, and a layout change ends grid mode."""

import re
import time
import unittest

from harness import DesktopTest, EVENT_TIMEOUT

# Colours that cannot come from the probe's pattern: a half-transparent red tint, opaque blue
# label boxes with green letters, no cell fill and no badge.
CONFIG = """
[ui]
overlay_background = "#ff000080"
cell_background = "#00000000"
label_background = "#0000ffff"
label_foreground = "#00ff00ff"
show_badge = false
"""

GRID_REQUEST = ('{"version":1,"command":{"Grid":{"scope":"all","output":null,'
                '"action":"choose","auto_descend":null,"max_depth":null}}}')


def tinted(under, alpha=128):
    """The probe pixel seen through the red tint (premultiplied source-over)."""
    keep = 1 - alpha / 255
    return (round(255 * alpha / 255 + under[0] * keep), round(under[1] * keep),
            round(under[2] * keep))


def close(a, b, tolerance=3):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def count(image, predicate, box):
    x0, y0, x1, y1 = box
    return sum(1 for y in range(y0, y1, 2) for x in range(x0, x1, 2)
               if predicate(image.pixel(x, y)))


def is_label_box(p):
    return p[2] > 200 and p[0] < 40 and p[1] < 40


def is_label_text(p):
    return p[1] > 200 and p[0] < 60 and p[2] < 60


class OverlayChecks(DesktopTest):
    def assert_grid_shown(self, shot, baseline):
        # Points that no label box covers (the corners of the output) show the tint over the
        # desktop; the whole picture differs from the desktop.
        for x, y in [(3, shot.height - 3), (shot.width - 3, shot.height - 3)]:
            expected = tinted(baseline.pixel(x, y))
            self.assertTrue(close(shot.pixel(x, y), expected),
                            f"pixel {x},{y}: {shot.pixel(x, y)} is not the tint {expected}")
        box = (0, 0, shot.width, shot.height)
        self.assertGreater(count(shot, is_label_box, box), 500, "no label boxes drawn")
        self.assertGreater(count(shot, is_label_text, box), 50, "no label letters drawn")

    def assert_desktop(self, shot, baseline):
        self.assertTrue(self.looks_like(shot, baseline), "the overlay still covers the desktop")

    def looks_like(self, shot, baseline):
        # Exactly the desktop, but for the cursor the compositor may draw into the picture.
        samples = range(0, len(shot.rgb), 3 * 97)
        return sum(1 for i in samples
                   if shot.rgb[i:i + 3] != baseline.rgb[i:i + 3]) < len(samples) // 200

    def wait_for_screenshot(self, name, predicate, timeout=EVENT_TIMEOUT):
        """Screenshots until one satisfies predicate: the compositor shows a commit at its
        next frame, not at once."""
        deadline = time.monotonic() + timeout
        while True:
            shot = self.desktop.screenshot(name)
            if predicate(shot) or time.monotonic() > deadline:
                return shot
            time.sleep(0.1)


class OverlayTest(OverlayChecks):
    def test_grid_is_drawn_and_cancel_parks_it(self):
        self.start_probe()
        self.start_daemon(CONFIG)
        baseline = self.desktop.screenshot("desktop")

        status, out, err = self.client("grid")
        self.assertEqual((status, out), (0, ""), err)
        shot = self.wait_for_screenshot("grid", lambda s: s.rgb != baseline.rgb)
        self.assert_grid_shown(shot, baseline)

        status, out, err = self.client("cancel")
        self.assertEqual((status, out), (0, ""), err)
        self.assert_desktop(self.wait_for_screenshot("cancelled",
                                                     lambda s: self.looks_like(s, baseline)),
                            baseline)

        # The request's own answer, and the same overlay shown again.
        self.assertEqual(self.raw_request(GRID_REQUEST), {"ok": True, "message": "grid active"})
        self.assert_grid_shown(self.wait_for_screenshot("grid-again",
                                                        lambda s: s.rgb != baseline.rgb),
                               baseline)


class TwoOutputTest(OverlayChecks):
    def add_output_left(self):
        self.desktop.swaymsg("create_output")
        self.desktop.swaymsg("--", "output", "HEADLESS-2", "resolution", "800x600",
                             "position", "-800", "0")

    def overlay_order(self, daemon, start):
        names = []
        for line in daemon.err.lines()[start:]:
            match = re.search(r"creating overlay output=(\S+)", line)
            if match:
                names.append(match.group(1))
        return names

    def test_an_added_output_gets_its_overlay_in_sorted_order(self):
        daemon = self.start_daemon(CONFIG)
        mark = daemon.err.mark()
        self.add_output_left()
        self.assertIsNotNone(daemon.wait_log("rebuilding output surfaces reason=output",
                                             start=mark))
        self.assertIsNotNone(daemon.wait_log("output available name=HEADLESS-1 position=0,0 "
                                             "size=1280x720", start=mark))
        # HEADLESS-2 lies left of HEADLESS-1, so it comes first although it came last.
        deadline = time.monotonic() + EVENT_TIMEOUT
        while time.monotonic() < deadline:
            order = self.overlay_order(daemon, mark)
            if order[-2:] == ["HEADLESS-2", "HEADLESS-1"]:
                break
            time.sleep(0.1)
        self.assertEqual(self.overlay_order(daemon, mark)[-2:], ["HEADLESS-2", "HEADLESS-1"])
        self.assertIsNotNone(daemon.wait_log("output available name=HEADLESS-2 "
                                             "position=-800,0 size=800x600", start=mark))

        left = self.desktop.screenshot("left-desktop", "HEADLESS-2")
        right = self.desktop.screenshot("right-desktop", "HEADLESS-1")
        self.assertEqual(self.raw_request(GRID_REQUEST), {"ok": True, "message": "grid active"})
        time.sleep(0.5)
        self.assert_grid_shown(self.desktop.screenshot("left-grid", "HEADLESS-2"), left)
        self.assert_grid_shown(self.desktop.screenshot("right-grid", "HEADLESS-1"), right)

    def test_moving_an_output_ends_grid_mode(self):
        self.start_probe()
        daemon = self.start_daemon(CONFIG)
        baseline = self.desktop.screenshot("desktop")
        self.assertEqual(self.raw_request(GRID_REQUEST), {"ok": True, "message": "grid active"})
        self.assert_grid_shown(self.wait_for_screenshot("grid", lambda s: s.rgb != baseline.rgb),
                               baseline)

        mark = daemon.err.mark()
        self.desktop.swaymsg("--", "output", "HEADLESS-1", "position", "100", "50")
        self.assertIsNotNone(daemon.wait_log("rebuilding output surfaces reason=output changed",
                                             start=mark))
        self.assertIsNotNone(daemon.wait_log("output available name=HEADLESS-1 "
                                             "position=100,50 size=1280x720", start=mark))
        self.assert_desktop(self.wait_for_screenshot("moved", lambda s: self.looks_like(s, baseline)),
                            baseline)


if __name__ == "__main__":
    unittest.main()
