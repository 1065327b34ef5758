// Mouse mode's state: which keys hold which directions and buttons, the button lock, and the
// key rules of mouse mode and of its scroll-only variant. Everything here is pure bookkeeping
// that answers with effects; the controller carries them out.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "app/backend.h"
#include "config/config.h"
#include "mode/effect.h"

namespace tarvik {

enum class MotionDirection { Up, Down, Left, Right };

// Held keys are tracked by key code, so a release is recognised whatever the key's name became
// meanwhile, and a key pressed before the mode began finds nothing to release.
struct MouseState {
  std::map<std::uint32_t, MotionDirection> held_directions;
  std::map<std::uint32_t, PointerButton> held_buttons;
  std::optional<PointerButton> locked;
  bool lock_armed = false;
  bool operator==(const MouseState&) const = default;
};

struct DirectionVector {
  int dx = 0;  // -1 left, 1 right
  int dy = 0;  // -1 up, 1 down
  bool operator==(const DirectionVector&) const = default;
};

// Locked, or held by at least one key.
bool button_down(const MouseState& state, PointerButton button);

// Opposite keys cancel each other; diagonals are not normalised.
DirectionVector direction_vector(const MouseState& state);

// A press of a button key (not a repeat): presses the button unless it is already down.
Effects press_button(MouseState& state, std::uint32_t code, PointerButton button);

// Any key released: stops its direction and releases its button when nothing else keeps it down.
Effects release_key(MouseState& state, std::uint32_t code);

// The lock key: unlocks a locked button, else arms or disarms the lock.
Effects toggle_lock(MouseState& state);

// A button key pressed while the lock is armed (the arming has already ended).
Effects lock_button(MouseState& state, PointerButton button);

// A release for every button that is down, left, middle, right; empties the whole state.
Effects release_effects(MouseState& state);

// The effects of one key event in mouse mode. Direction keys only change the state: motion is
// started by the controller after the key.
Effects mouse_key_effects(MouseState& state, const config::MouseBindings& bindings,
                          const KeyEvent& event);

// The scroll variant: only the cancel and scroll keys act; releases are ignored.
Effects scroll_key_effects(const config::MouseBindings& bindings, const KeyEvent& event);

}  // namespace tarvik
