#include "render/frame.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mode/labels.h"

namespace tarvik {

namespace {

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

void sort_unique(std::vector<std::uint32_t>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
}

// A half-open box of whole pixels.
struct PixelBox {
  std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;

  bool contains(const PixelBox& other) const {
    return other.x0 >= x0 && other.y0 >= y0 && other.x1 <= x1 && other.y1 <= y1;
  }
  bool intersects(const PixelBox& other) const {
    return other.x0 < x1 && x0 < other.x1 && other.y0 < y1 && y0 < other.y1;
  }
  void include(const PixelBox& other) {
    x0 = std::min(x0, other.x0);
    y0 = std::min(y0, other.y0);
    x1 = std::max(x1, other.x1);
    y1 = std::max(y1, other.y1);
  }
};

PixelBox pixel_box(const Rect& r) {
  return PixelBox{r.x, r.y, std::int64_t{r.x} + r.width, std::int64_t{r.y} + r.height};
}

// Every pixel a drawing of this float rectangle may touch; everything when it is not finite.
PixelBox pixel_box(float x, float y, float width, float height) {
  constexpr std::int64_t huge = std::int64_t{1} << 40;
  constexpr float limit = 1e9f;
  if (!(std::fabs(x) < limit && std::fabs(y) < limit && std::fabs(width) < limit &&
        std::fabs(height) < limit)) {
    return PixelBox{-huge, -huge, huge, huge};
  }
  return PixelBox{static_cast<std::int64_t>(std::floor(x)),
                  static_cast<std::int64_t>(std::floor(y)),
                  static_cast<std::int64_t>(std::ceil(x + std::max(width, 0.0f))),
                  static_cast<std::int64_t>(std::ceil(y + std::max(height, 0.0f)))};
}

// Where a cell's label box and letters go.
struct LabelLayout {
  float size = 0;
  float margin = 0;
  float box_left = 0;
  float box_top = 0;
  float box_width = 0;
  float box_height = 0;
  PixelBox touched;  // every pixel the box and the letters may change
};

LabelLayout layout_label(TextRenderer& text, const config::Ui& ui, const GridCell& cell,
                         const RectF& r) {
  LabelLayout label;
  label.size = ui.font_size;
  const float s = label.size;
  label.margin = std::max(0.65f * s, 6.0f);
  label.box_height = 1.3f * s;
  label.box_width = 2 * label.margin + text.measure_text(cell.label, s);
  // Centred on the cell and never clipped to it: a box wider than the cell overflows it.
  label.box_left = r.x + (r.width - label.box_width) / 2;
  label.box_top = r.y + (r.height - label.box_height) / 2;
  label.touched = pixel_box(label.box_left, label.box_top, label.box_width, label.box_height);

  const std::uint32_t key = size_key(s);
  float pen = label.box_left + label.margin;
  const float baseline = std::floor(label.box_top + s);
  for (std::size_t position = 0; position < cell.label.size();) {
    const CachedGlyph& glyph = text.glyph(next_character(cell.label, position), key);
    if (glyph.width > 0 && glyph.height > 0) {
      label.touched.include(pixel_box(
          std::floor(pen) + static_cast<float>(glyph.xmin),
          baseline - static_cast<float>(glyph.ymin) - static_cast<float>(glyph.height),
          static_cast<float>(glyph.width), static_cast<float>(glyph.height)));
    }
    pen += glyph.advance;
  }
  return label;
}

// The letters of a label, and its box unless that was drawn already (batched).
void draw_label(Canvas& canvas, TextRenderer& text, const config::Ui& ui, const GridCell& cell,
                const LabelLayout& label, bool matched, std::size_t typed_count, float opacity,
                bool box_drawn) {
  if (!box_drawn) {
    fill_rect(canvas, ui.label_background, label.box_left, label.box_top, label.box_width,
              label.box_height, opacity);
  }
  const float s = label.size;
  const std::uint32_t key = size_key(s);
  const TextPaint plain{s, ui.label_foreground, opacity};
  const TextPaint typed{s, ui.matched_foreground, opacity};
  float pen = label.box_left + label.margin;
  const float baseline = label.box_top + s;
  std::size_t k = 0;
  for (std::size_t position = 0; position < cell.label.size(); ++k) {
    const CachedGlyph& glyph = text.glyph(next_character(cell.label, position), key);
    const float advance = glyph.advance;
    if (matched && k < typed_count) {
      fill_rect(canvas, ui.matched_background, pen, label.box_top, advance, label.box_height,
                opacity);
      text.draw_glyph(canvas, glyph, typed, pen, baseline);
    } else {
      text.draw_glyph(canvas, glyph, plain, pen, baseline);
    }
    pen += advance;
  }
}

// One drawn cell of the frame.
struct CellPlan {
  std::size_t index = 0;
  const GridCell* cell = nullptr;
  Rect shown;         // the cell's rectangle as displayed
  bool matched = false;
  float opacity = 1;  // of everything but the selection
  LabelLayout label;
  // Its fill lands on plain background and is written directly (see plan_direct_fills).
  std::optional<std::uint32_t> direct;
  // Its label box lies inside the cell too, and is copied from a stamp (stamp_label_boxes).
  bool batched_box = false;
};

// A cell fill that lands on pixels holding only the background leaves one value everywhere:
// the rasteriser's blend of the two. Such fills are written straight into the canvas together
// with the background, which is most of a frame's pixels at the cost of a single pass.
// Whatever a cell draws beyond its own rectangle (a label wider than the cell, the selection
// outline) is remembered, and later cells it reaches are blended as usual, so the pixels are
// exactly those of drawing everything in order.
void plan_direct_fills(std::vector<CellPlan>& plans, std::optional<std::size_t> selected,
                       const config::Ui& ui, Color background) {
  const std::uint32_t under = premultiplied_pixel(background);
  std::vector<PixelBox> spills;
  std::optional<Color> last_paint;
  std::uint32_t last_value = 0;
  for (CellPlan& plan : plans) {
    const PixelBox own = pixel_box(plan.shown);
    const bool untouched = std::none_of(spills.begin(), spills.end(),
                                        [&](const PixelBox& spill) { return spill.intersects(own); });
    const Color paint = with_opacity(ui.cell_background, plan.opacity);
    if (untouched && paint.a != 0) {
      if (paint != last_paint) {
        last_value = composite_pixel(under, paint, 1.0f);
        last_paint = paint;
      }
      plan.direct = last_value;
      // Nothing but this cell's own fill is under its label box, so the box can be drawn
      // ahead of the other cells' letters, which it cannot reach.
      plan.batched_box = own.contains(pixel_box(plan.label.box_left, plan.label.box_top,
                                                plan.label.box_width, plan.label.box_height));
    }
    PixelBox drawn = plan.label.touched;
    if (selected == plan.index) {
      // Half the outline lies outside the cell; its miter corners reach no further.
      const float reach = std::fabs(ui.selected_border_width) / 2 + 1;
      const RectF r = to_float(plan.shown);
      drawn.include(pixel_box(r.x - reach, r.y - reach, r.width + 2 * reach, r.height + 2 * reach));
    }
    if (own.contains(drawn)) continue;
    // Labels overflowing many small cells: not worth tracking, blend all later cells.
    if (spills.size() >= 16) {
      for (CellPlan* rest = &plan + 1; rest != plans.data() + plans.size(); ++rest) {
        rest->direct.reset();
        rest->batched_box = false;
      }
      return;
    }
    spills.push_back(drawn);
  }
}

// Fills the canvas with the background and the direct cell fills in one pass: the rows of
// each horizontal band crossed by the same cells are alike, so one row is composed and copied.
void fill_background_and_cells(Canvas& canvas, Color background,
                               std::span<const CellPlan> plans) {
  struct Span {
    std::uint32_t x0, y0, x1, y1;
    std::uint32_t value;
  };
  std::vector<Span> spans;
  for (const CellPlan& plan : plans) {
    if (!plan.direct) continue;
    const std::uint64_t x1 = std::min<std::uint64_t>(std::uint64_t{plan.shown.x} + plan.shown.width, canvas.width());
    const std::uint64_t y1 = std::min<std::uint64_t>(std::uint64_t{plan.shown.y} + plan.shown.height, canvas.height());
    if (plan.shown.x >= x1 || plan.shown.y >= y1) continue;
    spans.push_back(Span{plan.shown.x, plan.shown.y, static_cast<std::uint32_t>(x1),
                         static_cast<std::uint32_t>(y1), *plan.direct});
  }
  if (spans.empty()) {
    fill_canvas(canvas, background);
    return;
  }
  const std::uint32_t under = premultiplied_pixel(background);
  std::vector<std::uint32_t> edges{0, canvas.height()};
  for (const Span& span : spans) {
    edges.push_back(span.y0);
    edges.push_back(span.y1);
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.y0 < b.y0; });

  const std::uint32_t width = canvas.width();
  const std::size_t stride = std::size_t{width} * 4;
  std::uint8_t* bytes = canvas.pixels().data();
  std::vector<const Span*> active;
  std::size_t next = 0;
  for (std::size_t e = 0; e + 1 < edges.size(); ++e) {
    const std::uint32_t top = edges[e];
    const std::uint32_t bottom = edges[e + 1];
    std::erase_if(active, [&](const Span* span) { return span->y1 <= top; });
    while (next < spans.size() && spans[next].y0 <= top) active.push_back(&spans[next++]);
    std::sort(active.begin(), active.end(),
              [](const Span* a, const Span* b) { return a->x0 < b->x0; });
    std::uint8_t* row = bytes + top * stride;
    const auto put = [row](std::uint32_t from, std::uint32_t to, std::uint32_t value) {
      for (std::uint32_t x = from; x < to; ++x) std::memcpy(row + std::size_t{x} * 4, &value, 4);
    };
    std::uint32_t x = 0;
    for (const Span* span : active) {
      const std::uint32_t from = std::max(span->x0, x);
      put(x, from, under);
      put(from, span->x1, span->value);
      x = std::max(x, span->x1);
    }
    put(x, width, under);
    for (std::uint32_t y = top + 1; y < bottom; ++y) std::memcpy(bytes + y * stride, row, stride);
  }
  canvas.mark_dirty();
}

// Label boxes over directly filled cells: the rasteriser's result depends only on the box's
// position within its first pixel, its size, its paint and the plain value under it, so each
// distinct box is drawn once on a small canvas and copied to every cell that shows it.
void stamp_label_boxes(Canvas& canvas, Color color, std::span<const CellPlan> plans) {
  struct Stamp {
    float x, y, width, height;  // the box relative to its first pixel, plus a 1-pixel margin
    Color paint;
    std::uint32_t under;
    std::uint32_t columns, rows;
    std::vector<std::uint8_t> pixels;  // columns x rows, from the first pixel
  };
  std::vector<Stamp> stamps;
  const std::size_t stride = std::size_t{canvas.width()} * 4;
  std::uint8_t* bytes = nullptr;
  for (const CellPlan& plan : plans) {
    if (!plan.batched_box) continue;
    const LabelLayout& l = plan.label;
    const Color paint = with_opacity(color, plan.opacity);
    if (paint.a == 0 || !(l.box_width > 0) || !(l.box_height > 0)) continue;
    const PixelBox box = pixel_box(l.box_left, l.box_top, l.box_width, l.box_height);
    // Exact in single precision: the fraction of a float below 2^23 and a small integer.
    const float x = l.box_left - static_cast<float>(box.x0) + 1;
    const float y = l.box_top - static_cast<float>(box.y0) + 1;
    const auto columns = static_cast<std::uint32_t>(box.x1 - box.x0);
    const auto rows = static_cast<std::uint32_t>(box.y1 - box.y0);
    auto found = std::find_if(stamps.begin(), stamps.end(), [&](const Stamp& s) {
      return s.x == x && s.y == y && s.width == l.box_width && s.height == l.box_height &&
             s.paint == paint && s.under == *plan.direct;
    });
    if (found == stamps.end()) {
      auto patch = Canvas::create(columns + 2, rows + 2, Canvas::Start::Undefined);
      if (!patch) {
        // No room for the patch: fill in place, which is what the patch would show.
        fill_rect(canvas, paint, l.box_left, l.box_top, l.box_width, l.box_height, 1.0f);
        bytes = nullptr;
        continue;
      }
      store_rect(*patch, 0, 0, columns + 2, rows + 2, *plan.direct);
      fill_rect(*patch, paint, x, y, l.box_width, l.box_height, 1.0f);
      Stamp stamp{x, y, l.box_width, l.box_height, paint, *plan.direct, columns, rows, {}};
      stamp.pixels.resize(std::size_t{columns} * rows * 4);
      const std::span<const std::uint8_t> source = patch->pixels();
      const std::size_t patch_stride = std::size_t{columns + 2} * 4;
      for (std::uint32_t r = 0; r < rows; ++r) {
        std::memcpy(stamp.pixels.data() + std::size_t{r} * columns * 4,
                    source.data() + (r + 1) * patch_stride + 4, std::size_t{columns} * 4);
      }
      stamps.push_back(std::move(stamp));
      found = stamps.end() - 1;
    }
    // The box lies inside its cell, and the cell inside the canvas; clip anyway.
    const std::int64_t x0 = std::max<std::int64_t>(box.x0, 0);
    const std::int64_t y0 = std::max<std::int64_t>(box.y0, 0);
    const std::int64_t x1 = std::min<std::int64_t>(box.x1, canvas.width());
    const std::int64_t y1 = std::min<std::int64_t>(box.y1, canvas.height());
    if (x0 >= x1 || y0 >= y1) continue;
    if (bytes == nullptr) bytes = canvas.pixels().data();
    for (std::int64_t row = y0; row < y1; ++row) {
      const std::uint8_t* from = found->pixels.data() +
                                 ((row - box.y0) * found->columns + (x0 - box.x0)) * 4;
      std::memcpy(bytes + row * stride + x0 * 4, from, static_cast<std::size_t>(x1 - x0) * 4);
    }
  }
  canvas.mark_dirty();
}

}  // namespace

namespace {

// One grid frame onto a canvas of the output's size; every pixel is written.
void draw_grid_onto(Canvas& canvas, TextRenderer& text, const FrameInput& input,
                    const OutputRecord& output, std::span<const Hint> hints,
                    GridDrawing drawing) {
  const config::Ui& ui = input.config.ui;
  const config::Grid& grid = input.config.grid;
  const GridSession& session = *input.session;
  const GridLevel& level = current_level(session);
  const Display display = display_of(input);
  const float t = display.progress;
  const float f = display.fade;

  Color background = ui.overlay_background;
  if (display.view) {
    // The scrim darkens from the normal background to the lens scrim as the lens opens.
    const float a0 = static_cast<float>(background.a) / 255.0f;
    const float alpha = std::clamp(a0 + (ui.lens_scrim_opacity - a0) * t, 0.0f, 1.0f);
    background.a = static_cast<std::uint8_t>(std::round(255.0f * alpha));
  }

  const std::size_t typed_count = character_count(session.typed);
  std::vector<CellPlan> plans;
  for (std::size_t index = 0; index < level.cells.size(); ++index) {
    const GridCell& cell = level.cells[index];
    if (cell.output != output.name) continue;
    CellPlan plan;
    plan.index = index;
    plan.cell = &cell;
    plan.matched = label_matches(cell.label, session.typed);
    float o = 1.0f;
    if (!plan.matched && grid.unmatched != UnmatchedStyle::Keep) {
      if (grid.unmatched == UnmatchedStyle::Dim && grid.unmatched_opacity > 0) {
        o = grid.unmatched_opacity;
      } else {
        continue;  // hidden: not drawn and no grid lines at its edges
      }
    }
    if (display.view) o *= ui.lens_cell_opacity;
    plan.opacity = o * f;
    plan.shown = map_through_view(display.view, cell.rect());
    plan.label = layout_label(text, ui, cell, to_float(plan.shown));
    plans.push_back(plan);
  }

  const bool lens_image =
      display.view && input.capture != nullptr && input.capture_output == output.name;
  // A lens image leaves no plain background for cells to land on.
  if (drawing == GridDrawing::Direct && !lens_image) {
    plan_direct_fills(plans, session.selected, ui, background);
  }
  fill_background_and_cells(canvas, background, plans);
  if (lens_image) draw_lens_image(canvas, *display.view, *input.capture);
  stamp_label_boxes(canvas, ui.label_background, plans);

  std::vector<std::uint32_t> vertical;
  std::vector<std::uint32_t> horizontal;
  vertical.reserve(2 * plans.size());
  horizontal.reserve(2 * plans.size());
  for (const CellPlan& plan : plans) {
    const RectF r = to_float(plan.shown);
    if (!plan.direct) {
      fill_rect(canvas, ui.cell_background, r.x, r.y, r.width, r.height, plan.opacity);
    }
    draw_label(canvas, text, ui, *plan.cell, plan.label, plan.matched, typed_count, plan.opacity,
               plan.batched_box);

    const Rect& shown = plan.shown;
    vertical.push_back(shown.x);
    vertical.push_back(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{shown.x} + shown.width, UINT32_MAX)));
    horizontal.push_back(shown.y);
    horizontal.push_back(static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{shown.y} + shown.height, UINT32_MAX)));

    if (session.selected == plan.index) {
      // After the label, so the translucent selection tints the label box too.
      fill_rect(canvas, ui.selected_background, r.x, r.y, r.width, r.height, f);
      stroke_rect(canvas, with_opacity(ui.selected_border, f), r.x, r.y, r.width, r.height,
                  ui.selected_border_width);
    }
  }

  sort_unique(vertical);
  sort_unique(horizontal);
  const Rect bounds =
      display.view ? display.view->lens : Rect{0, 0, canvas.width(), canvas.height()};
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
    const Color shadow{0, 0, 0,
                       static_cast<std::uint8_t>(std::round(220.0f * std::clamp(t, 0.0f, 1.0f)))};
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
}

// The mouse frame onto a transparent canvas of the output's size.
void draw_mouse_onto(Canvas& canvas, TextRenderer& text, const FrameInput& input,
                     const MouseFrameState& mouse) {
  const config::Ui& ui = input.config.ui;
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
}

PlannedFrame planned(const OutputRecord& output, Canvas::Start start) {
  return PlannedFrame{&output, logical_size(output.width), logical_size(output.height), start};
}

// Draws every planned frame onto a canvas of its own.
std::expected<std::vector<OverlayFrame>, RenderError> draw_planned(TextRenderer& text,
                                                                   const FrameInput& input,
                                                                   const FramePlan& plan) {
  std::vector<OverlayFrame> frames;
  for (const PlannedFrame& frame : plan.frames) {
    auto canvas = Canvas::create(frame.width, frame.height, frame.start);
    if (!canvas) return std::unexpected(canvas.error());
    draw_frame(text, input, plan, frame, *canvas);
    frames.push_back(
        OverlayFrame{frame.output->name, frame.width, frame.height, canvas->release_pixels()});
  }
  return frames;
}

}  // namespace

std::expected<Canvas, RenderError> draw_grid_canvas(TextRenderer& text, const FrameInput& input,
                                                    const OutputRecord& output,
                                                    std::span<const Hint> hints,
                                                    GridDrawing drawing) {
  // Every pixel is written by the grid's background pass.
  auto canvas = Canvas::create(logical_size(output.width), logical_size(output.height),
                               Canvas::Start::Undefined);
  if (!canvas) return std::unexpected(canvas.error());
  draw_grid_onto(*canvas, text, input, output, hints, drawing);
  return canvas;
}

FramePlan plan_frames(const FrameInput& input) {
  FramePlan plan;
  if (input.capture_pending) return plan;
  if (input.mouse) {
    plan.mouse = input.mouse;
    const std::string& name =
        input.pointer_target ? input.pointer_target->output : input.focused_output;
    const OutputRecord* output = find_output(input.outputs, name);
    if (output != nullptr && overlay_configured(input.overlays, name)) {
      plan.frames.push_back(planned(*output, Canvas::Start::Transparent));
    }
    return plan;
  }
  if (input.session == nullptr) return plan;
  const GridSession& session = *input.session;
  const GridLevel& level = current_level(session);
  if (input.config.ui.show_action_hints && selected_cell(session) != nullptr) {
    plan.hints = grid_hints(input.config.bindings.grid, can_descend(session));
  }
  for (const OutputRecord& output : input.outputs) {
    if (!overlay_configured(input.overlays, output.name)) continue;
    // Outputs without a cell of this level keep showing what they showed before.
    const bool holds_cell = std::any_of(level.cells.begin(), level.cells.end(),
                                        [&](const GridCell& cell) { return cell.output == output.name; });
    if (!holds_cell) continue;
    plan.frames.push_back(planned(output, Canvas::Start::Undefined));
  }
  return plan;
}

void draw_frame(TextRenderer& text, const FrameInput& input, const FramePlan& plan,
                const PlannedFrame& frame, Canvas& canvas) {
  if (plan.mouse) {
    draw_mouse_onto(canvas, text, input, *plan.mouse);
  } else {
    draw_grid_onto(canvas, text, input, *frame.output, plan.hints, GridDrawing::Direct);
  }
}

std::expected<std::vector<OverlayFrame>, RenderError> render_grid_frames(TextRenderer& text,
                                                                         const FrameInput& input) {
  FrameInput grid = input;
  grid.mouse.reset();
  return draw_planned(text, grid, plan_frames(grid));
}

std::expected<std::optional<OverlayFrame>, RenderError> render_mouse_frame(
    TextRenderer& text, const FrameInput& input, const MouseFrameState& mouse) {
  FrameInput shown = input;
  shown.mouse = mouse;
  shown.capture_pending = false;
  auto frames = draw_planned(text, shown, plan_frames(shown));
  if (!frames) return std::unexpected(frames.error());
  if (frames->empty()) return std::nullopt;
  return std::move(frames->front());
}

std::expected<std::vector<OverlayFrame>, RenderError> render_frames(TextRenderer& text,
                                                                    const FrameInput& input) {
  return draw_planned(text, input, plan_frames(input));
}

}  // namespace tarvik
