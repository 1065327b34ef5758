"""Pointer actions on headless Sway, seen by the probe window that covers the output: grid
actions at the chosen cell's centre, refinement, mouse mode, one-shot clicks and scrolls, and
the compositor-command fallback without a virtual pointer. Cell positions are worked out from
the layout rules (grid.py), never taken from a run."""

import time
import unittest

import grid
from harness import DesktopTest, EVENT_TIMEOUT

OUTPUT = ("HEADLESS-1", 1280, 720)


def at(x, y):
    """Matches the probe line that puts the pointer at (x, y)."""
    ends = (f"pointer motion {x:.2f} {y:.2f}", f"pointer enter {x:.2f} {y:.2f}")
    return lambda line: line in ends


class PointerTest(DesktopTest):
    settings = grid.Settings()
    config = None

    def setUp(self):
        super().setUp()
        self.probe = self.start_probe()
        self.daemon = self.start_daemon(self.config)

    def expect(self, lines, start, timeout=EVENT_TIMEOUT):
        """Each expected line (text or predicate) in this order, after `start`; returns the
        index after the last one."""
        index = start
        for expected in lines:
            predicate = expected if callable(expected) else (lambda l, e=expected: l == e)
            found = self.probe.out.wait_for(
                lambda l, p=predicate: p(l), timeout,
                start=index)
            self.assertIsNotNone(found, f"probe never showed {expected!r} after line {index}; "
                                        f"last lines: {self.probe.out.lines()[-8:]}")
            index = self.probe.out.lines().index(found, index) + 1
        return index

    def open_grid(self, *args, command="grid"):
        mark = self.probe.out.mark()
        status, out, err = self.client(command, *args)
        self.assertEqual((status, out), (0, ""), err)
        # The overlay takes the keyboard once it is shown at full size.
        self.assertIsNotNone(self.probe.out.wait_for("keyboard leave", EVENT_TIMEOUT,
                                                     start=mark),
                             "the overlay never took the keyboard")

    def root(self):
        return grid.root_level(self.settings, [OUTPUT])

    def pointer_position(self):
        for line in reversed(self.probe.out.lines()):
            parts = line.split()
            if parts[:2] in (["pointer", "motion"], ["pointer", "enter"]):
                return float(parts[2]), float(parts[3])
        return None


class GridActionTest(PointerTest):
    def test_action_keys_act_at_the_cell_centre(self):
        cases = [
            ("s", (333, 222), ["pointer button 272 pressed", "pointer button 272 released",
                               "pointer frame"]),
            ("f", (1000, 100), ["pointer button 273 pressed", "pointer button 273 released"]),
            ("d", (50, 700), ["pointer button 274 pressed", "pointer button 274 released"]),
            ("c", (640, 360), ["pointer button 272 pressed", "pointer button 272 released",
                               "pointer button 272 pressed", "pointer button 272 released"]),
            ("u", (200, 500), ["pointer axis_source 0", "pointer axis 0 -15.00",
                               "pointer axis_discrete 0 -1"]),
            ("e", (900, 600), ["pointer axis 0 15.00", "pointer axis_discrete 0 1"]),
            ("y", (1200, 300), ["pointer axis 1 -15.00", "pointer axis_discrete 1 -1"]),
            ("o", (700, 30), ["pointer axis 1 15.00", "pointer axis_discrete 1 1"]),
        ]
        for key, point, events in cases:
            with self.subTest(key=key):
                cell = grid.cell_at(self.root(), *point)
                self.open_grid()
                mark = self.probe.out.mark()
                self.keyboard.type(cell.label)
                self.keyboard.tap(key)
                # Axis events come before the discrete step within one frame.
                ordered = [e for e in events if "axis_discrete" not in e]
                after = self.expect([at(*cell.target())] + ordered, mark)
                for extra in (e for e in events if "axis_discrete" in e):
                    self.assertIsNotNone(self.probe.out.wait_for(extra, EVENT_TIMEOUT, after - 2))
                self.client("cancel")

    def test_move_action_warps_without_a_click(self):
        cell = grid.cell_at(self.root(), 444, 333)
        self.open_grid("--action", "move")
        mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.expect([at(*cell.target())], mark)
        time.sleep(0.3)
        self.assertFalse(any("button" in l for l in self.probe.out.lines()[mark:]))

    def test_back_unselects_and_cancel_leaves_without_acting(self):
        first = grid.cell_at(self.root(), 100, 100)
        second = next(c for c in self.root()
                      if c.label[0] == first.label[0] and c.label != first.label)
        self.open_grid()
        mark = self.probe.out.mark()
        self.keyboard.type(first.label)
        self.keyboard.tap("BackSpace")  # unselects and drops the last letter
        self.keyboard.tap(second.label[1])
        self.keyboard.tap("s")
        self.expect([at(*second.target()), "pointer button 272 pressed"], mark)

        self.open_grid()
        mark = self.probe.out.mark()
        self.keyboard.type(first.label)
        self.keyboard.tap("Escape")
        self.assertIsNotNone(self.probe.out.wait_for("keyboard enter", EVENT_TIMEOUT, mark))
        time.sleep(0.3)
        self.assertFalse(any("button" in l or "motion" in l
                             for l in self.probe.out.lines()[mark:]))


class RefinementTest(PointerTest):
    def refine_and_click(self, point, child_point):
        root = self.root()
        cell = grid.cell_at(root, *point)
        child = grid.cell_at(grid.child_level(self.settings, cell, 1, OUTPUT[1:]), *child_point)
        self.open_grid()
        mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.keyboard.tap("Return")
        time.sleep(0.5)  # the lens animation, when there is one
        self.keyboard.type(child.label)
        shot = self.desktop.screenshot("selected")
        self.keyboard.tap("s")
        self.expect([at(*child.target()), "pointer button 272 pressed",
                     "pointer button 272 released"], mark)
        return cell, shot


class RefinementWithoutLensTest(RefinementTest):
    config = "[grid]\nrefinement_zoom = 1.0\n"
    settings = grid.Settings(refinement_zoom=1.0)

    def test_a_child_cell_is_chosen_inside_the_selected_cell(self):
        self.refine_and_click((500, 300), (530, 320))


class RefinementWithLensTest(RefinementTest):
    config = '[grid]\nrefinement_zoom = 3.0\n[ui]\nlens_border = "#00ff00ff"\n'
    settings = grid.Settings(refinement_zoom=3.0)

    def test_the_lens_shows_the_magnified_desktop_and_the_click_lands_exactly(self):
        desktop = self.desktop.screenshot("desktop")
        cell, shot = self.refine_and_click((610, 350), (640, 360))
        lx, ly, lw, lh = grid.lens_rect(self.settings, cell, OUTPUT[1:])
        # The lens frame is drawn around the lens rectangle.
        border = [shot.pixel(x, ly) for x in range(lx + 5, lx + lw - 5, 7)]
        self.assertGreater(sum(1 for p in border if p[1] > 200 and p[0] < 80 and p[2] < 80),
                           len(border) // 2, f"no lens frame at {lx},{ly} {lw}x{lh}")
        # Inside, the probe's 40-pixel checkers appear three times larger: a point of the
        # desktop and the point mapped into the lens look alike (colours dimmed by the grid).
        matches = 0
        samples = 0
        for dx in range(5, cell.width - 5, 9):
            for dy in range(5, cell.height - 5, 9):
                source = desktop.pixel(cell.x + dx, cell.y + dy)
                shown = shot.pixel(lx + dx * lw // cell.width, ly + dy * lh // cell.height)
                dark_source = max(source) < 40
                dark_shown = max(shown) < 60
                samples += 1
                matches += dark_source == dark_shown
        self.assertGreater(matches, samples * 0.8,
                           "the lens does not show the magnified desktop")


class MouseModeTest(PointerTest):
    def test_holding_a_direction_moves_by_the_speed_curve(self):
        cell = grid.cell_at(self.root(), 300, 360)
        self.open_grid("--action", "mouse")
        mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.expect([at(*cell.target())], mark)
        # Mouse mode shows its overlay again after the grid: let the keyboard focus settle, as
        # a person would, or the focus change drops the held key.
        time.sleep(0.4)
        start_x, start_y = self.pointer_position()
        began = time.monotonic()
        self.keyboard.down("l")
        time.sleep(0.5)
        self.keyboard.up("l")
        held = time.monotonic() - began
        time.sleep(0.3)
        x, y = self.pointer_position()
        # Defaults: 60 px/s rising to 1800 px/s over 1.24 s, ease-in-out; before the midpoint
        # of the curve the distance is 60 t + 1740 * 2 * (t / 1.243)^3 / 3.
        rate = 1400 / 1740
        expected = 60 * held + 1740 * 2 * rate ** 2 * held ** 3 / 3
        self.assertAlmostEqual(y, start_y, delta=0.01)
        self.assertGreater(x - start_x, expected * 0.6, f"held {held:.2f} s")
        self.assertLess(x - start_x, expected * 1.6, f"held {held:.2f} s")

    def test_the_lock_keeps_the_button_down_across_motion(self):
        self.open_grid(command="mouse")
        mark = self.probe.out.mark()
        self.keyboard.tap("v")
        self.keyboard.tap("s")
        self.expect(["pointer button 272 pressed"], mark)
        self.keyboard.down("j")
        time.sleep(0.3)
        self.keyboard.up("j")
        after_motion = self.expect([lambda l: l.startswith("pointer motion")], mark)
        time.sleep(0.2)
        self.assertNotIn("pointer button 272 released", self.probe.out.lines()[mark:])
        self.keyboard.tap("v")
        self.expect(["pointer button 272 released"], after_motion)

    def test_unplugging_the_keyboard_ends_the_mode_and_releases_buttons(self):
        self.open_grid(command="mouse")
        mark = self.probe.out.mark()
        self.keyboard.tap("v")
        self.keyboard.tap("d")
        self.expect(["pointer button 274 pressed"], mark)
        self.keyboard.unplug()
        self.expect(["pointer button 274 released"], mark)


class OneShotTest(PointerTest):
    def test_click_and_scroll_act_at_the_current_position(self):
        cell = grid.cell_at(self.root(), 800, 400)
        self.open_grid("--action", "move")
        mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.expect([at(*cell.target())], mark)

        mark = self.probe.out.mark()
        self.assertEqual(self.client("click", "right")[0], 0)
        self.expect(["pointer button 273 pressed", "pointer button 273 released"], mark)
        mark = self.probe.out.mark()
        self.assertEqual(self.client("scroll", "down", "--step", "45")[0], 0)
        self.expect(["pointer axis 0 45.00"], mark)
        self.assertIsNotNone(self.probe.out.wait_for("pointer axis_discrete 0 3", 1, mark))
        self.assertEqual(self.pointer_position(), tuple(float(v) for v in cell.target()))


class CompositorCommandFallbackTest(PointerTest):
    # Without the daemon's virtual pointer the seat needs a pointer device of its own.
    with_pointer_device = True

    def setUp(self):
        DesktopTest.setUp(self)
        self.probe = self.start_probe()
        self.daemon = self.start_daemon(
            env={"TARVIK_TEST_HIDE_GLOBALS": "zwlr_virtual_pointer_manager_v1"})
        self.assertIsNotNone(self.daemon.wait_log("virtual_pointer=false"))

    def test_click_and_scroll_go_through_cursor_commands(self):
        cell = grid.cell_at(self.root(), 250, 650)
        self.open_grid()
        mark = self.probe.out.mark()
        self.keyboard.type(cell.label)
        self.keyboard.tap("s")
        self.expect([at(*cell.target()), "pointer button 272 pressed",
                     "pointer button 272 released"], mark)
        mark = self.probe.out.mark()
        self.assertEqual(self.client("scroll", "down", "--step", "45")[0], 0)
        self.expect([lambda l: l.startswith("pointer axis 0 ")], mark)


if __name__ == "__main__":
    unittest.main()
