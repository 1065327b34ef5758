#include "render/frame.h"

#include <algorithm>
#include <cmath>

#include "mode/labels.h"

namespace tarvik {

namespace {

struct RectF {
  float x = 0, y = 0, width = 0, height = 0;
};

RectF to_float(const Rect& r) {
  return RectF{static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.width),
               static_cast<float>(r.height)};
}

std::uint32_t logical_size(std::int32_t value) {
  return value > 0 ? static_cast<std::uint32_t>(value) : 0;
}

const OutputRecord* find_output(std::span<const OutputRecord> outputs, std::string_view name) {
  for (const OutputRecord& output : outputs) {
    if (output.name == name) return &output;
  }
  return nullptr;
}

bool overlay_configured(std::span<const Overlay> overlays, std::string_view name) {
  return std::any_of(overlays.begin(), overlays.end(), [&](const Overlay& overlay) {
    return overlay.name == name && overlay.configured;
  });
}

std::size_t character_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t position = 0; position < text.size(); ++count) {
    next_character(text, position);
  }
  return count;
}

// How the current level is shown: through which view, how far the lens has opened, and how
// far the grid has faded in.
struct Display {
  std::optional<LensView> view;
  float progress = 1.0f;
  float fade = 1.0f;
};

Display display_of(const FrameInput& input) {
  Display display;
  if (input.animation) {
    display.view = input.animation->view;
    display.progress = input.animation->finished ? 1.0f : input.animation->progress;
  } else {
    display.view = current_view(*input.session);
  }
  if (display.view) {
    display.fade = std::clamp((display.progress - 0.25f) / 0.75f, 0.0f, 1.0f);
  }
  return display;
}

void draw_label(Canvas& canvas, TextRenderer& text, const config::Ui& ui, const GridCell& cell,
                const RectF& r, bool matched, std::size_t typed_count, float opacity) {
  const float s = ui.font_size;
  const float label_width = text.measure_text(cell.label, s);
  const float margin = std::max(0.65f * s, 6.0f);
  const float box_height = 1.3f * s;
  const float box_width = 2 * margin + label_width;
  const float box_left = r.x + (r.width - box_width) / 2;
  const float box_top = r.y + (r.height - box_height) / 2;
  fill_rect(canvas, ui.label_background, box_left, box_top, box_width, box_height, opacity);

  const std::uint32_t key = size_key(s);
  const TextPaint plain{s, ui.label_foreground, opacity};
  const TextPaint typed{s, ui.matched_foreground, opacity};
  float pen = box_left + margin;
  const float baseline = box_top + s;
  std::size_t k = 0;
  for (std::size_t position = 0; position < cell.label.size(); ++k) {
    const char32_t character = next_character(cell.label, position);
    const float advance = text.glyph(character, key).advance;
    if (matched && k < typed_count) {
      fill_rect(canvas, ui.matched_background, pen, box_top, advance, box_height, opacity);
      text.draw_glyph(canvas, character, typed, pen, baseline);
    } else {
      text.draw_glyph(canvas, character, plain, pen, baseline);
    }
    pen += advance;
  }
}

void sort_unique(std::vector<std::uint32_t>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
}

}  // namespace

std::expected<Canvas, RenderError> draw_grid_canvas(TextRenderer& text, const FrameInput& input,
                                                    const OutputRecord& output,
                                                    std::span<const Hint> hints) {
  const config::Ui& ui = input.config.ui;
  const config::Grid& grid = input.config.grid;
  const GridSession& session = *input.session;
  const GridLevel& level = current_level(session);
  const Display display = display_of(input);
  const float t = display.progress;
  const float f = display.fade;

  auto created = Canvas::create(logical_size(output.width), logical_size(output.height));
  if (!created) return std::unexpected(created.error());
  Canvas& canvas = *created;

  Color background = ui.overlay_background;
  if (display.view) {
    // The scrim darkens from the normal background to the lens scrim as the lens opens.
    const float a0 = static_cast<float>(background.a) / 255.0f;
    const float alpha = std::clamp(a0 + (ui.lens_scrim_opacity - a0) * t, 0.0f, 1.0f);
    background.a = static_cast<std::uint8_t>(std::round(255.0f * alpha));
  }
  fill_canvas(canvas, background);

  if (display.view && input.capture != nullptr && input.capture_output == output.name) {
    draw_lens_image(canvas, *display.view, *input.capture);
  }

  const std::size_t typed_count = character_count(session.typed);
  std::vector<std::uint32_t> vertical;
  std::vector<std::uint32_t> horizontal;
  for (std::size_t index = 0; index < level.cells.size(); ++index) {
    const GridCell& cell = level.cells[index];
    if (cell.output != output.name) continue;
    const bool matched = label_matches(cell.label, session.typed);
    float o = 1.0f;
    if (!matched && grid.unmatched != UnmatchedStyle::Keep) {
      if (grid.unmatched == UnmatchedStyle::Dim && grid.unmatched_opacity > 0) {
        o = grid.unmatched_opacity;
      } else {
        continue;  // hidden: not drawn and no grid lines at its edges
      }
    }
    if (display.view) o *= ui.lens_cell_opacity;
    const Rect shown = map_through_view(display.view, cell.rect());
    const RectF r = to_float(shown);
    fill_rect(canvas, ui.cell_background, r.x, r.y, r.width, r.height, o * f);
    draw_label(canvas, text, ui, cell, r, matched, typed_count, o * f);

    const std::uint64_t right = std::uint64_t{shown.x} + shown.width;
    const std::uint64_t bottom = std::uint64_t{shown.y} + shown.height;
    vertical.push_back(shown.x);
    vertical.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(right, UINT32_MAX)));
    horizontal.push_back(shown.y);
    horizontal.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(bottom, UINT32_MAX)));

    if (session.selected == index) {
      // After the label, so the translucent selection tints the label box too.
      fill_rect(canvas, ui.selected_background, r.x, r.y, r.width, r.height, f);
      stroke_rect(canvas, with_opacity(ui.selected_border, f), r.x, r.y, r.width, r.height,
                  ui.selected_border_width);
    }
  }

  sort_unique(vertical);
  sort_unique(horizontal);
  const Rect bounds = display.view ? display.view->lens : Rect{0, 0, canvas.width(), canvas.height()};
  const float top = static_cast<float>(bounds.y);
  const float bottom = static_cast<float>(std::uint64_t{bounds.y} + bounds.height);
  const float left = static_cast<float>(bounds.x);
  const float right = static_cast<float>(std::uint64_t{bounds.x} + bounds.width);
  std::vector<Segment> lines;
  lines.reserve(vertical.size() + horizontal.size());
  for (std::uint32_t x : vertical) {
    lines.push_back({static_cast<float>(x), top, static_cast<float>(x), bottom});
  }
  for (std::uint32_t y : horizontal) {
    lines.push_back({left, static_cast<float>(y), right, static_cast<float>(y)});
  }
  stroke_segments(canvas, lines, with_opacity(ui.grid_border, f), ui.grid_border_width);

  if (display.view) {
    const RectF lens = to_float(display.view->lens);
    const Color shadow{0, 0, 0, static_cast<std::uint8_t>(std::round(220.0f * std::clamp(t, 0.0f, 1.0f)))};
    stroke_rect(canvas, shadow, lens.x, lens.y, lens.width, lens.height,
                ui.lens_border_width + 4);
    stroke_rect(canvas, with_opacity(ui.lens_border, t), lens.x, lens.y, lens.width,
                lens.height, ui.lens_border_width);
  }

  if (!hints.empty()) {
    const GridCell* selected = selected_cell(session);
    if (selected != nullptr && selected->output == output.name) {
      const Rect band = largest_free_band(canvas.width(), canvas.height(),
                                          displayed_rect(session, *selected));
      draw_hint_panel(canvas, text, ui, hints, band, false);
    }
  }
  return std::move(canvas);
}

std::expected<std::vector<OverlayFrame>, RenderError> render_grid_frames(TextRenderer& text,
                                                                         const FrameInput& input) {
  std::vector<OverlayFrame> frames;
  if (input.capture_pending || input.session == nullptr) return frames;
  const GridSession& session = *input.session;
  const GridLevel& level = current_level(session);

  std::vector<Hint> hints;
  if (input.config.ui.show_action_hints && selected_cell(session) != nullptr) {
    hints = grid_hints(input.config.bindings.grid, can_descend(session));
  }

  for (const OutputRecord& output : input.outputs) {
    if (!overlay_configured(input.overlays, output.name)) continue;
    // Outputs without a cell of this level keep showing what they showed before.
    const bool holds_cell = std::any_of(level.cells.begin(), level.cells.end(),
                                        [&](const GridCell& cell) { return cell.output == output.name; });
    if (!holds_cell) continue;
    auto canvas = draw_grid_canvas(text, input, output, hints);
    if (!canvas) return std::unexpected(canvas.error());
    const std::uint32_t width = canvas->width();
    const std::uint32_t height = canvas->height();
    frames.push_back(OverlayFrame{output.name, width, height, canvas->release_pixels()});
  }
  return frames;
}

std::expected<std::optional<OverlayFrame>, RenderError> render_mouse_frame(
    TextRenderer& text, const FrameInput& input, const MouseFrameState& mouse) {
  const config::Ui& ui = input.config.ui;
  const std::string& name =
      input.pointer_target ? input.pointer_target->output : input.focused_output;
  const OutputRecord* output = find_output(input.outputs, name);
  if (output == nullptr || !overlay_configured(input.overlays, name)) return std::nullopt;

  auto created = Canvas::create(logical_size(output->width), logical_size(output->height));
  if (!created) return std::unexpected(created.error());
  Canvas& canvas = *created;

  if (ui.show_badge) {
    const std::string_view label = mouse.scroll ? "SCROLL  u/e  y/o" : "MOUSE";
    const float s = ui.font_size;
    const float v = text.measure_text(label, s);
    const float box_width = std::ceil(v + 24);
    const float box_height = std::ceil(1.8f * s);
    fill_rect(canvas, ui.badge_background, 12, 12, box_width, box_height, 1.0f);
    stroke_rect(canvas, ui.badge_border, 12, 12, box_width, box_height, ui.badge_border_width);
    text.draw_text(canvas, label, TextPaint{s, ui.badge_foreground, 1.0f}, 24,
                   0.68f * box_height + 12);
  }

  if (ui.show_target_ring && input.pointer_target) {
    const float x = static_cast<float>(input.pointer_target->x);
    const float y = static_cast<float>(input.pointer_target->y);
    const float radius = ui.target_ring_radius;
    const float left = x - radius;
    const float top = y - radius;
    const float side = 2 * radius;
    if (std::isfinite(left) && std::isfinite(top) && std::isfinite(side)) {
      // A negative radius names the same square with its corners swapped.
      stroke_ellipse(canvas, ui.target_ring, std::min(left, x + radius),
                     std::min(top, y + radius), std::fabs(side), std::fabs(side),
                     ui.target_ring_width);
    }
  }

  if (ui.show_action_hints && !mouse.scroll) {
    const std::vector<Hint> hints = mouse_hints(input.config.bindings.mouse, mouse.lock);
    draw_hint_panel(canvas, text, ui, hints, Rect{0, 0, canvas.width(), canvas.height()}, true);
  }

  const std::uint32_t width = canvas.width();
  const std::uint32_t height = canvas.height();
  return OverlayFrame{output->name, width, height, canvas.release_pixels()};
}

std::expected<std::vector<OverlayFrame>, RenderError> render_frames(TextRenderer& text,
                                                                    const FrameInput& input) {
  if (input.capture_pending) return std::vector<OverlayFrame>{};
  if (input.mouse) {
    auto frame = render_mouse_frame(text, input, *input.mouse);
    if (!frame) return std::unexpected(frame.error());
    std::vector<OverlayFrame> frames;
    if (*frame) frames.push_back(std::move(**frame));
    return frames;
  }
  return render_grid_frames(text, input);
}

}  // namespace tarvik
