// On-screen help: the hint panel listing the keys that act next, where it is placed beside a
// selected cell, and the lists for grid and mouse mode.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "config/config.h"
#include "mode/rect.h"
#include "render/canvas.h"
#include "render/text_renderer.h"

namespace tarvik {

struct Hint {
  std::string key;               // the binding as configured, or a combination of bindings
  std::string_view description;  // fixed text
  bool operator==(const Hint&) const = default;
};

// The grid actions once a cell is selected; "Refine grid" only when `can_refine`.
std::vector<Hint> grid_hints(const config::GridBindings& bindings, bool can_refine);

// Mouse mode's lock state, as far as the hints show it.
struct MouseLockState {
  std::optional<PointerButton> locked{};  // a button held down for dragging
  bool armed = false;                   // the lock key was pressed and waits for a button
  bool operator==(const MouseLockState&) const = default;
};

// The plain mouse mode's keys (never shown in the scroll variant).
std::vector<Hint> mouse_hints(const config::MouseBindings& bindings, const MouseLockState& lock);

// The panel's size and placement inside `area`; nothing when it does not fit.
struct HintPanelLayout {
  float left = 0;
  float top = 0;
  float width = 0;
  float height = 0;
  float text_size = 0;
  float key_width = 0;     // the widest key text
  float column_width = 0;  // key + gap + widest description
  std::size_t columns = 0;
  std::size_t rows = 0;
};
std::optional<HintPanelLayout> layout_hint_panel(TextRenderer& text, const config::Ui& ui,
                                                 std::span<const Hint> hints, const Rect& area,
                                                 bool anchored);

// Draws the panel centred in `area`, or at its lower-left corner when `anchored`.
void draw_hint_panel(Canvas& canvas, TextRenderer& text, const config::Ui& ui,
                     std::span<const Hint> hints, const Rect& area, bool anchored);

// The largest of the four bands of a width x height canvas outside `rect` (ties: right over
// left, then top over that, then bottom over the rest). Zero-sized when nothing is free.
Rect largest_free_band(std::uint32_t width, std::uint32_t height, const Rect& rect);

}  // namespace tarvik
