#include "app/mouse_mode.h"

// g++ 12 reports -Wmaybe-uninitialized for every std::vector<std::variant> that grows (a known
// false positive in the variant move constructor); the effect lists built here trip it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <array>
#include <string>
#include <utility>

namespace tarvik {
namespace {

constexpr std::array<PointerButton, 3> kButtonOrder{PointerButton::Left, PointerButton::Middle,
                                                    PointerButton::Right};

bool held_by_key(const MouseState& state, PointerButton button) {
  for (const auto& [code, held] : state.held_buttons) {
    if (held == button) return true;
  }
  return false;
}

bool direction_held(const MouseState& state, MotionDirection direction) {
  for (const auto& [code, held] : state.held_directions) {
    if (held == direction) return true;
  }
  return false;
}

std::optional<PointerButton> button_binding(const config::MouseBindings& bindings,
                                            const std::string& name) {
  if (name == bindings.left_button) return PointerButton::Left;
  if (name == bindings.middle_button) return PointerButton::Middle;
  if (name == bindings.right_button) return PointerButton::Right;
  return std::nullopt;
}

std::optional<MotionDirection> direction_binding(const config::MouseBindings& bindings,
                                                 const std::string& name) {
  if (name == bindings.left) return MotionDirection::Left;
  if (name == bindings.down) return MotionDirection::Down;
  if (name == bindings.up) return MotionDirection::Up;
  if (name == bindings.right) return MotionDirection::Right;
  return std::nullopt;
}

std::optional<ScrollDirection> scroll_binding(const config::MouseBindings& bindings,
                                              const std::string& name) {
  if (name == bindings.scroll_up) return ScrollDirection::Up;
  if (name == bindings.scroll_down) return ScrollDirection::Down;
  if (name == bindings.scroll_left) return ScrollDirection::Left;
  if (name == bindings.scroll_right) return ScrollDirection::Right;
  return std::nullopt;
}

}  // namespace

bool button_down(const MouseState& state, PointerButton button) {
  return state.locked == button || held_by_key(state, button);
}

DirectionVector direction_vector(const MouseState& state) {
  const auto held = [&](MotionDirection d) { return direction_held(state, d) ? 1 : 0; };
  return DirectionVector{held(MotionDirection::Right) - held(MotionDirection::Left),
                         held(MotionDirection::Down) - held(MotionDirection::Up)};
}

Effects press_button(MouseState& state, std::uint32_t code, PointerButton button) {
  const bool was_down = button_down(state, button);
  const bool key_is_new = state.held_buttons.insert_or_assign(code, button).second;
  if (!was_down && key_is_new) return {effect::SetButton{button, false}};
  return {};
}

Effects release_key(MouseState& state, std::uint32_t code) {
  state.held_directions.erase(code);
  const auto it = state.held_buttons.find(code);
  if (it == state.held_buttons.end()) return {};
  const PointerButton button = it->second;
  state.held_buttons.erase(it);
  if (button_down(state, button)) return {};
  return {effect::SetButton{button, true}};
}

Effects toggle_lock(MouseState& state) {
  if (const auto locked = state.locked) {
    state.locked.reset();
    if (held_by_key(state, *locked)) return {effect::Redraw{}};
    return {effect::SetButton{*locked, true}, effect::Redraw{}};
  }
  state.lock_armed = !state.lock_armed;
  return {effect::Redraw{}};
}

Effects lock_button(MouseState& state, PointerButton button) {
  // Arming only happens while nothing is locked, so the lock never moves between buttons.
  if (state.locked == button) return {effect::Redraw{}};
  state.locked = button;
  if (held_by_key(state, button)) return {effect::Redraw{}};
  return {effect::SetButton{button, false}, effect::Redraw{}};
}

Effects release_effects(MouseState& state) {
  Effects effects;
  for (PointerButton button : kButtonOrder) {
    if (button_down(state, button)) effects.push_back(effect::SetButton{button, true});
  }
  state = MouseState{};
  return effects;
}

Effects mouse_key_effects(MouseState& state, const config::MouseBindings& bindings,
                          const KeyEvent& event) {
  if (event.released) return release_key(state, event.code);

  const std::string& name = event.name;
  if (name == bindings.cancel) {
    Effects effects = release_effects(state);
    effects.push_back(effect::Exit{});
    return effects;
  }
  if (name == "q") return {effect::Exit{}};
  if (name == bindings.double_click) {
    if (event.repeat) return {};
    return {effect::DoubleClick{PointerButton::Left}};
  }
  if (name == bindings.button_lock) {
    if (event.repeat) return {};
    return toggle_lock(state);
  }

  Effects effects;
  if (state.lock_armed) {
    state.lock_armed = false;
    if (const auto button = button_binding(bindings, name)) return lock_button(state, *button);
    effects.push_back(effect::Redraw{});
  }
  if (const auto direction = direction_binding(bindings, name)) {
    state.held_directions.insert_or_assign(event.code, *direction);
    return effects;
  }
  if (const auto button = button_binding(bindings, name)) {
    if (event.repeat) return effects;
    Effects pressed = press_button(state, event.code, *button);
    effects.insert(effects.end(), pressed.begin(), pressed.end());
    return effects;
  }
  if (const auto direction = scroll_binding(bindings, name)) {
    effects.push_back(effect::Scroll{*direction});
  }
  return effects;
}

Effects scroll_key_effects(const config::MouseBindings& bindings, const KeyEvent& event) {
  if (event.released) return {};
  if (event.name == bindings.cancel) return {effect::Exit{}};
  if (const auto direction = scroll_binding(bindings, event.name)) {
    return {effect::Scroll{*direction}};
  }
  return {};
}

}  // namespace tarvik
