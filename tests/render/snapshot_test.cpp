// Frames at real output sizes with the default look, written as PNG into the build folder
// (render-snapshots/) for a person to inspect, and checked for what that person would look
// for: labels centred on their cells, the hint panel clear of the selected cell, the lens
// showing the screen under it.
#include <gtest/gtest.h>

#include <algorithm>

#include "mode/labels.h"
#include "render/frame.h"
#include "render_support.h"

namespace tarvik {
namespace {

using testing::configured;
using testing::embedded_text;
using testing::one_output;
using testing::Pixel;
using testing::pixel_at;
using testing::session_over;
using testing::snapshot_path;
using testing::write_png_detail;

const Color dark{40, 40, 40, 255};

class Snapshot : public ::testing::Test {
 protected:
  Config config;
  TextRenderer text = embedded_text();
  std::vector<OutputRecord> outputs = one_output("DP-1", 1920, 1080);
  std::vector<Overlay> overlays = configured(outputs);

  FrameInput input(const GridSession& session) {
    return FrameInput{.config = config, .outputs = outputs, .overlays = overlays,
                      .session = &session};
  }
  Canvas draw(const GridSession& session) {
    const FrameInput in = input(session);
    std::vector<Hint> hints;
    if (config.ui.show_action_hints && selected_cell(session) != nullptr) {
      hints = grid_hints(config.bindings.grid, can_descend(session));
    }
    auto canvas = draw_grid_canvas(text, in, outputs[0], hints);
    if (!canvas) throw std::runtime_error(canvas.error().message());
    return std::move(*canvas);
  }
};

TEST_F(Snapshot, DefaultGridLabelsAreCentredOnTheirCells) {
  GridSession session = session_over("DP-1", 1920, 1080, config);
  Canvas canvas = draw(session);
  EXPECT_TRUE(canvas.write_png(snapshot_path("grid-default.png")));
  EXPECT_TRUE(write_png_detail(canvas, 0, 0, 300, 170, 4, dark,
                               snapshot_path("grid-default-detail.png")));
  const GridLevel& level = current_level(session);
  ASSERT_EQ(level.cells.size(), 400u);
  for (const GridCell& cell : level.cells) {
    // The letters' ink (near-white label foreground) is centred across the cell.
    std::uint32_t left = UINT32_MAX, right = 0;
    for (std::uint32_t y = cell.y; y < cell.y + cell.height; ++y) {
      for (std::uint32_t x = cell.x + 2; x + 2 < cell.x + cell.width; ++x) {
        if (pixel_at(canvas, x, y).r > 128) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
      }
    }
    ASSERT_LT(left, right) << cell.label;
    EXPECT_NEAR((left + right + 1) / 2.0, cell.x + cell.width / 2.0, 2.0) << cell.label;
  }
}

TEST_F(Snapshot, TypedPrefixAndSelectionWithHints) {
  GridSession session = session_over("DP-1", 1920, 1080, config);
  type_label_letter(session, "i");
  Canvas typed = draw(session);
  EXPECT_TRUE(typed.write_png(snapshot_path("grid-typed-i.png")));

  type_label_letter(session, "a");
  const GridCell* selected = selected_cell(session);
  ASSERT_NE(selected, nullptr);
  Canvas with_hints = draw(session);
  EXPECT_TRUE(with_hints.write_png(snapshot_path("grid-selected-ia.png")));
  EXPECT_TRUE(write_png_detail(with_hints, 700, 500, 240, 130, 4, dark,
                               snapshot_path("grid-selected-ia-detail.png")));
  EXPECT_TRUE(write_png_detail(with_hints, 1180, 440, 240, 120, 4, dark,
                               snapshot_path("grid-hints-detail.png")));

  // The panel covers neither the selected cell nor its surroundings' other side.
  config.ui.show_action_hints = false;
  Canvas without_hints = draw(session);
  std::size_t changed = 0;
  for (std::uint32_t y = 0; y < 1080; ++y) {
    for (std::uint32_t x = 0; x < 1920; ++x) {
      const bool differs = pixel_at(with_hints, x, y) != pixel_at(without_hints, x, y);
      changed += differs;
      if (differs) {
        ASSERT_TRUE(x >= selected->x + selected->width) << "panel left of the cell at " << x;
      }
    }
  }
  EXPECT_GT(changed, 10000u);
}

TEST_F(Snapshot, LensOverAScreenCapture) {
  config.grid.refinement_zoom = 4;
  GridSession session = session_over("DP-1", 1920, 1080, config, true);
  type_label_letter(session, "i");
  type_label_letter(session, "a");
  ASSERT_TRUE(descend(session));
  const LensView view = *current_view(session);
  EXPECT_EQ(view.lens, (Rect{624, 459, 384, 216}));

  // A stand-in desktop at scale 2: diagonal stripes, so magnification shows.
  HeldCapture capture;
  capture.width = 3840;
  capture.height = 2160;
  capture.logical_width = 1920;
  capture.logical_height = 1080;
  capture.pixels.resize(std::size_t{3840} * 2160 * 4);
  for (std::uint32_t y = 0; y < 2160; ++y) {
    for (std::uint32_t x = 0; x < 3840; ++x) {
      std::uint8_t* p = &capture.pixels[(std::size_t{y} * 3840 + x) * 4];
      const bool stripe = (x + y) / 24 % 2 == 0;
      p[0] = stripe ? 30 : 200;
      p[1] = stripe ? 120 : 210;
      p[2] = stripe ? 200 : 220;
      p[3] = 255;
    }
  }
  FrameInput in = input(session);
  in.capture = &capture;
  in.capture_output = "DP-1";
  auto canvas = draw_grid_canvas(text, in, outputs[0], {});
  ASSERT_TRUE(canvas);
  EXPECT_TRUE(canvas->write_png(snapshot_path("grid-lens.png")));
  EXPECT_TRUE(write_png_detail(*canvas, 600, 440, 440, 260, 2, dark,
                               snapshot_path("grid-lens-detail.png")));
  // Along a row inside the lens, above the label boxes, every pixel shows the stripe of the
  // capture pixel the 4 x magnification maps it to (the capture being at scale 2), except on
  // the child grid's lines and where the stripe changes.
  const auto stripe_at = [](std::uint32_t x, std::uint32_t y) {
    const std::uint32_t cx = 2 * (768 + (x - 624) / 4);
    const std::uint32_t cy = 2 * (540 + (y - 459) / 4);
    return (cx + cy) / 24 % 2 == 0;
  };
  const std::uint32_t row = 463;
  std::size_t checked = 0;
  for (std::uint32_t x = 630; x < 1000; ++x) {
    if (stripe_at(x - 1, row) != stripe_at(x + 1, row) || (x - 624 + 1) % 48 <= 2) continue;
    const bool dark_stripe = pixel_at(*canvas, x, row).r < 110;
    ASSERT_EQ(dark_stripe, stripe_at(x, row)) << x;
    ++checked;
  }
  EXPECT_GT(checked, 250u);
}

TEST_F(Snapshot, MouseModeFrame) {
  FrameInput in{.config = config, .outputs = outputs, .overlays = overlays};
  in.mouse = MouseFrameState{};
  in.pointer_target = GridPoint{"DP-1", 816, 567};
  auto frames = render_frames(text, in);
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->size(), 1u);
  auto canvas = *Canvas::create(1920, 1080);
  std::copy(frames->front().pixels.begin(), frames->front().pixels.end(),
            canvas.pixels().begin());
  canvas.mark_dirty();
  EXPECT_TRUE(canvas.write_png(snapshot_path("mouse.png")));
  EXPECT_TRUE(write_png_detail(canvas, 0, 0, 200, 60, 4, dark,
                               snapshot_path("mouse-badge-detail.png")));
  EXPECT_TRUE(write_png_detail(canvas, 0, 880, 440, 200, 2, dark,
                               snapshot_path("mouse-hints-detail.png")));
  EXPECT_TRUE(write_png_detail(canvas, 776, 527, 80, 80, 4, dark,
                               snapshot_path("mouse-ring-detail.png")));
}

}  // namespace
}  // namespace tarvik
