// The texts of Sway's seat cursor commands. Each builder checks the seat name first: the name is
// spliced into a command line that Sway splits on white space, ';' and ',', so a name holding
// any of those (or quotes) would change what the line means.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "cli/command.h"
#include "sway/sway_error.h"

namespace tarvik {

using CommandText = std::expected<std::string, SwayError>;

// Scroll steps are turned into button presses of 15 units each; beyond this many presses the
// request is clipped, not refused: a huge step still scrolls as far as is sensible, and the
// command text stays a few kilobytes however large the step is.
inline constexpr int max_scroll_presses = 100;

// Presses for a scroll step: round(step / 15) half away from zero, at least 1 (also for a
// step that is not a number), at most max_scroll_presses.
int scroll_presses(double step);

// The Sway name of a button: "button1", "button2", "button3".
std::string_view sway_button_name(PointerButton button);

CommandText cursor_set_command(std::string_view seat, std::int64_t x, std::int64_t y);
// Amounts with exactly three decimals. Sway 1.7 reads them as integers, truncating toward zero
// (0.500 moves by nothing), so sub-pixel motion sent this way is lost unless the caller
// accumulates it; the virtual pointer is the path that keeps fractions.
CommandText cursor_move_command(std::string_view seat, double dx, double dy);
// Carries the part of each `cursor move` that Sway drops over to the next one, so that a slow
// motion of a fraction of a pixel per step still adds up to whole pixels.
class CursorMoveCarry {
 public:
  struct Amounts {
    double dx = 0;
    double dy = 0;
    bool operator==(const Amounts&) const = default;
  };

  // The amounts to send for a motion of (dx, dy): the motion plus what earlier commands lost.
  // A part that is not finite passes through as it is and takes no carry.
  Amounts amounts(double dx, double dy) const;
  // Records that `sent` went out: what Sway drops of it (its fraction, after the three-decimal
  // rounding of the command text) is carried into the next motion.
  void sent(Amounts sent);
  Amounts carried() const { return carried_; }

 private:
  Amounts carried_;
};

CommandText cursor_button_command(std::string_view seat, PointerButton button, bool release);
CommandText cursor_click_command(std::string_view seat, PointerButton button);
CommandText cursor_scroll_command(std::string_view seat, ScrollDirection direction, double step);

}  // namespace tarvik
