// One step of work produced by key handling, carried out by the controller's apply_effects.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "cli/command.h"

namespace tarvik {

namespace effect {
struct Redraw {
  bool operator==(const Redraw&) const = default;
};
// Output-local logical pixels.
struct MoveTo {
  std::string output;
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  bool operator==(const MoveTo&) const = default;
};
struct Click {
  PointerButton button = PointerButton::Left;
  bool operator==(const Click&) const = default;
};
struct DoubleClick {
  PointerButton button = PointerButton::Left;
  bool operator==(const DoubleClick&) const = default;
};
struct SetButton {
  PointerButton button = PointerButton::Left;
  bool release = false;
  bool operator==(const SetButton&) const = default;
};
struct Scroll {
  ScrollDirection direction = ScrollDirection::Up;
  bool operator==(const Scroll&) const = default;
};
struct EnterMouse {
  bool operator==(const EnterMouse&) const = default;
};
struct EnterScroll {
  bool operator==(const EnterScroll&) const = default;
};
struct Exit {
  bool operator==(const Exit&) const = default;
};
}  // namespace effect

using Effect = std::variant<effect::Redraw, effect::MoveTo, effect::Click, effect::DoubleClick,
                            effect::SetButton, effect::Scroll, effect::EnterMouse,
                            effect::EnterScroll, effect::Exit>;
using Effects = std::vector<Effect>;

}  // namespace tarvik
