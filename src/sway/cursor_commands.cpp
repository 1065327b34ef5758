#include "sway/cursor_commands.h"

#include <cmath>

#include <fmt/format.h>

namespace tarvik {

namespace {

// Characters that Sway's command parser treats as separators, quoting or escapes, plus the
// control characters, none of which occur in a real seat name.
bool seat_name_is_safe(std::string_view seat) {
  if (seat.empty()) return false;
  for (char c : seat) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
    switch (c) {
      case ' ':
      case ';':
      case ',':
      case '"':
      case '\'':
      case '\\':
        return false;
      default:
        break;
    }
  }
  return true;
}

std::expected<void, SwayError> check_seat(std::string_view seat) {
  if (seat_name_is_safe(seat)) return {};
  return std::unexpected(SwayError{SwayError::Kind::InvalidSeat, fmt::format("{:?}", seat)});
}

}  // namespace

int scroll_presses(double step) {
  const double presses = std::round(step / 15.0);
  // The negated comparison also catches NaN.
  if (!(presses >= 1.0)) return 1;
  if (presses >= static_cast<double>(max_scroll_presses)) return max_scroll_presses;
  return static_cast<int>(presses);
}

std::string_view sway_button_name(PointerButton button) {
  switch (button) {
    case PointerButton::Left:
      return "button1";
    case PointerButton::Middle:
      return "button2";
    case PointerButton::Right:
      return "button3";
  }
  return "button1";
}

CommandText cursor_set_command(std::string_view seat, std::int64_t x, std::int64_t y) {
  if (auto ok = check_seat(seat); !ok) return std::unexpected(ok.error());
  return fmt::format("seat {} cursor set {} {}", seat, x, y);
}

CommandText cursor_move_command(std::string_view seat, double dx, double dy) {
  if (auto ok = check_seat(seat); !ok) return std::unexpected(ok.error());
  return fmt::format("seat {} cursor move {:.3f} {:.3f}", seat, dx, dy);
}

namespace {

double with_carry(double amount, double carried) {
  return std::isfinite(amount) ? amount + carried : amount;
}

// What Sway leaves unmoved of `amount`: the text carries it rounded to three decimals, and Sway
// reads that as an integer truncated toward zero.
double dropped(double amount) {
  if (!std::isfinite(amount)) return 0;
  const double written = std::round(amount * 1000) / 1000;
  // Beyond 2^52 a double has no fraction left to lose.
  if (!std::isfinite(written) || std::fabs(written) >= 0x1p52) return 0;
  return amount - std::trunc(written);
}

}  // namespace

CursorMoveCarry::Amounts CursorMoveCarry::amounts(double dx, double dy) const {
  return {with_carry(dx, carried_.dx), with_carry(dy, carried_.dy)};
}

void CursorMoveCarry::sent(Amounts sent) {
  carried_ = {std::isfinite(sent.dx) ? dropped(sent.dx) : carried_.dx,
              std::isfinite(sent.dy) ? dropped(sent.dy) : carried_.dy};
}

CommandText cursor_button_command(std::string_view seat, PointerButton button, bool release) {
  if (auto ok = check_seat(seat); !ok) return std::unexpected(ok.error());
  return fmt::format("seat {} cursor {} {}", seat, release ? "release" : "press",
                     sway_button_name(button));
}

CommandText cursor_click_command(std::string_view seat, PointerButton button) {
  if (auto ok = check_seat(seat); !ok) return std::unexpected(ok.error());
  const auto name = sway_button_name(button);
  return fmt::format("seat {0} cursor press {1}; seat {0} cursor release {1}", seat, name);
}

CommandText cursor_scroll_command(std::string_view seat, ScrollDirection direction,
                                  double step) {
  if (auto ok = check_seat(seat); !ok) return std::unexpected(ok.error());
  const int button = 4 + static_cast<int>(direction);
  const std::string press = fmt::format("seat {} cursor press button{}", seat, button);
  const int presses = scroll_presses(step);
  std::string text;
  text.reserve(static_cast<std::size_t>(presses) * (press.size() + 2));
  for (int i = 0; i < presses; ++i) {
    if (i > 0) text += "; ";
    text += press;
  }
  return text;
}

}  // namespace tarvik
