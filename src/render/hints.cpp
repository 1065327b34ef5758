#include "render/hints.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvik {

std::vector<Hint> grid_hints(const config::GridBindings& bindings, bool can_refine) {
  std::vector<Hint> hints{
      {bindings.left_click, "Left click"},     {bindings.middle_click, "Middle click"},
      {bindings.right_click, "Right click"},   {bindings.double_click, "Double click"},
      {bindings.move_only, "Move pointer"},    {bindings.enter_mouse, "Mouse mode"},
      {bindings.scroll_up, "Scroll up"},       {bindings.scroll_down, "Scroll down"},
      {bindings.scroll_left, "Scroll left"},   {bindings.scroll_right, "Scroll right"},
  };
  if (can_refine) hints.push_back({bindings.descend, "Refine grid"});
  hints.push_back({bindings.back, "Back"});
  hints.push_back({bindings.cancel, "Cancel"});
  hints.push_back({"q", "Quit"});
  return hints;
}

std::vector<Hint> mouse_hints(const config::MouseBindings& bindings, const MouseLockState& lock) {
  std::vector<Hint> hints;
  hints.push_back({bindings.left + " " + bindings.down + " " + bindings.up + " " + bindings.right,
                   "Move pointer"});
  if (lock.locked) {
    switch (*lock.locked) {
      case PointerButton::Left:
        hints.push_back({bindings.button_lock, "Release left drag"});
        break;
      case PointerButton::Middle:
        hints.push_back({bindings.button_lock, "Release middle drag"});
        break;
      case PointerButton::Right:
        hints.push_back({bindings.button_lock, "Release right drag"});
        break;
    }
  } else if (lock.armed) {
    hints.push_back({bindings.left_button, "Lock left"});
    hints.push_back({bindings.middle_button, "Lock middle"});
    hints.push_back({bindings.right_button, "Lock right"});
  } else {
    // Press the button key to click, or the lock key and then the button key to lock.
    const auto both = [&](const std::string& button) {
      return button + " / " + bindings.button_lock + " " + button;
    };
    hints.push_back({both(bindings.left_button), "Left / lock"});
    hints.push_back({both(bindings.middle_button), "Middle / lock"});
    hints.push_back({both(bindings.right_button), "Right / lock"});
  }
  hints.push_back({bindings.double_click, "Double click"});
  hints.push_back({bindings.scroll_up, "Scroll up"});
  hints.push_back({bindings.scroll_down, "Scroll down"});
  hints.push_back({bindings.scroll_left, "Scroll left"});
  hints.push_back({bindings.scroll_right, "Scroll right"});
  hints.push_back({bindings.cancel, "Exit"});
  hints.push_back({"q", "Quit"});
  return hints;
}

std::optional<HintPanelLayout> layout_hint_panel(TextRenderer& text, const config::Ui& ui,
                                                 std::span<const Hint> hints, const Rect& area,
                                                 bool anchored) {
  if (hints.empty()) return std::nullopt;
  HintPanelLayout layout;
  // A NaN size reads as the smallest hint size rather than poisoning the whole layout.
  layout.text_size = ui.font_size >= 11.0f ? ui.font_size : 11.0f;
  const float d = layout.text_size;
  float descriptions = 0;
  for (const Hint& hint : hints) {
    layout.key_width = std::max(layout.key_width, text.measure_text(hint.key, d));
    descriptions = std::max(descriptions, text.measure_text(hint.description, d));
  }
  layout.column_width = layout.key_width + 10 + descriptions;
  const float c = layout.column_width;
  layout.columns =
      hints.size() <= 5 ? 1 : (static_cast<float>(area.width) >= 2 * c + 56 ? 2 : 1);
  layout.rows = (hints.size() + layout.columns - 1) / layout.columns;
  layout.width = static_cast<float>(layout.columns) * (c + 28);
  layout.height = static_cast<float>(layout.rows) * 1.55f * d + 28;
  if (layout.width > static_cast<float>(area.width) ||
      layout.height > static_cast<float>(area.height)) {
    return std::nullopt;
  }
  const float x = static_cast<float>(area.x);
  const float y = static_cast<float>(area.y);
  if (anchored) {
    layout.left = x + 18;
    layout.top = y + static_cast<float>(area.height) - layout.height - 18;
  } else {
    layout.left = x + (static_cast<float>(area.width) - layout.width) / 2;
    layout.top = y + (static_cast<float>(area.height) - layout.height) / 2;
  }
  return layout;
}

void draw_hint_panel(Canvas& canvas, TextRenderer& text, const config::Ui& ui,
                     std::span<const Hint> hints, const Rect& area, bool anchored) {
  const std::optional<HintPanelLayout> layout =
      layout_hint_panel(text, ui, hints, area, anchored);
  if (!layout) return;
  fill_rect(canvas, ui.badge_background, layout->left, layout->top, layout->width,
            layout->height, 1.0f);
  stroke_rect(canvas, ui.badge_border, layout->left, layout->top, layout->width, layout->height,
              ui.badge_border_width);
  const float d = layout->text_size;
  const TextPaint key_paint{d, ui.matched_background, 1.0f};
  const TextPaint description_paint{d, ui.badge_foreground, 1.0f};
  for (std::size_t n = 0; n < hints.size(); ++n) {
    const std::size_t column = n / layout->rows;
    const std::size_t row = n % layout->rows;
    const float x =
        layout->left + 14 + static_cast<float>(column) * (layout->column_width + 28);
    const float baseline = layout->top + 14 + static_cast<float>(row) * 1.55f * d + d;
    text.draw_text(canvas, hints[n].key, key_paint, x, baseline);
    text.draw_text(canvas, hints[n].description, description_paint, x + layout->key_width + 10,
                   baseline);
  }
}

Rect largest_free_band(std::uint32_t width, std::uint32_t height, const Rect& rect) {
  const auto saturating_sum = [](std::uint32_t a, std::uint32_t b) {
    constexpr std::uint64_t u32_max = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{a} + b, u32_max));
  };
  const std::uint32_t right_edge = std::min(width, saturating_sum(rect.x, rect.width));
  const std::uint32_t bottom_edge = std::min(height, saturating_sum(rect.y, rect.height));
  const Rect left{0, 0, std::min(width, rect.x), height};
  const Rect right{right_edge, 0, width - right_edge, height};
  const Rect top{0, 0, width, std::min(height, rect.y)};
  const Rect bottom{0, bottom_edge, width, height - bottom_edge};
  const auto area = [](const Rect& r) { return std::uint64_t{r.width} * r.height; };
  Rect best = left;
  if (area(right) >= area(best)) best = right;
  if (area(top) >= area(best)) best = top;
  if (area(bottom) >= area(best)) best = bottom;
  return best;
}

}  // namespace tarvik
