#include <array>
#include <cmath>
#include <string_view>

#include "config/config.h"

namespace tarvik {
namespace {

bool unit_interval(double v) { return v >= 0.0 && v <= 1.0; }  // false for NaN

bool mouse_bindings_usable(const config::MouseBindings& m) {
  const std::array<std::string_view, 14> keys{
      m.left,      m.down,        m.up,          m.right,       m.left_button,
      m.middle_button, m.right_button, m.double_click, m.button_lock, m.scroll_up,
      m.scroll_down,   m.scroll_left,  m.scroll_right, m.cancel,
  };
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].empty()) return false;
    for (std::size_t j = i + 1; j < keys.size(); ++j) {
      if (keys[i] == keys[j]) return false;
    }
  }
  return true;
}

}  // namespace

std::expected<void, std::string> validate(const Config& config) {
  const auto& grid = config.grid;
  const auto& ui = config.ui;
  const auto& motion = config.motion;
  const auto& scroll = config.scroll;

  if (grid.root_min_tile_width == 0 || grid.root_min_tile_height == 0 || grid.min_tile_width == 0 ||
      grid.min_tile_height == 0) {
    return std::unexpected("minimum tile dimensions must be positive");
  }
  if (grid.max_label_length < 1 || grid.max_label_length > 4) {
    return std::unexpected("max_label_length must be between 1 and 4");
  }
  if (!(std::isfinite(grid.refinement_zoom) && grid.refinement_zoom >= 1.0 &&
        grid.refinement_zoom <= 32.0)) {
    return std::unexpected("refinement_zoom must be a finite value between 1 and 32");
  }
  if (grid.max_depth < 1 || grid.max_cells < 2 || grid.max_cells > 65536) {
    return std::unexpected("max_depth must be positive and max_cells must be between 2 and 65536");
  }
  if (!unit_interval(grid.unmatched_opacity)) {
    return std::unexpected("unmatched_opacity must be between 0 and 1");
  }
  if (!(unit_interval(ui.lens_scrim_opacity) && std::isfinite(ui.lens_border_width) &&
        ui.lens_border_width > 0.0f && ui.lens_animation_ms <= 1000 &&
        unit_interval(ui.lens_cell_opacity))) {
    return std::unexpected(
        "lens opacities must be between 0 and 1, lens_border_width must be positive, and "
        "lens_animation_ms must not exceed 1000");
  }
  // Zero acceleration (constant speed) and a start at the top speed are both fine.
  if (!(std::isfinite(motion.initial_speed) && std::isfinite(motion.acceleration) &&
        std::isfinite(motion.max_speed) && motion.initial_speed > 0.0 &&
        motion.acceleration >= 0.0 && motion.initial_speed <= motion.max_speed &&
        motion.tick_hz >= 30 && motion.tick_hz <= 1000)) {
    return std::unexpected("invalid motion speed or tick rate");
  }
  if (!(std::isfinite(scroll.vertical_step) && scroll.vertical_step > 0.0 &&
        std::isfinite(scroll.horizontal_step) && scroll.horizontal_step > 0.0)) {
    return std::unexpected("scroll steps must be positive finite values");
  }
  // Grid bindings may repeat or be empty; in mouse mode every key must mean one thing.
  if (!mouse_bindings_usable(config.bindings.mouse)) {
    return std::unexpected("mouse bindings must be non-empty and unique");
  }
  return {};
}

}  // namespace tarvik
