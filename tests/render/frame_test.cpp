#include "render/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "mode/labels.h"
#include "render_support.h"

namespace tarvik {
namespace {

using testing::configured;
using testing::embedded_text;
using testing::one_output;
using testing::Pixel;
using testing::pixel_at;
using testing::plain_config;
using testing::session_over;

// A 600 x 360 output cut into 6 x 6 cells of 100 x 60 labelled aa .. bj; "ba" is the cell at
// (200, 240), index 26.
class GridFrame : public ::testing::Test {
 protected:
  GridFrame() {
    config.grid.root_min_tile_width = 100;
    config.grid.root_min_tile_height = 60;
  }

  GridSession& session() {
    if (!session_) session_ = session_over("DP-1", 600, 360, config, capture_available);
    return *session_;
  }

  FrameInput input() {
    return FrameInput{.config = config, .outputs = outputs, .overlays = overlays,
                      .session = &session()};
  }

  // The one frame of a redraw.
  OverlayFrame frame() { return frame(input()); }
  OverlayFrame frame(const FrameInput& in) {
    auto frames = render_frames(text, in);
    if (!frames) ADD_FAILURE() << frames.error().message();
    if (!frames || frames->size() != 1) {
      ADD_FAILURE() << "expected exactly one frame";
      return {};
    }
    return std::move(frames->front());
  }

  static Pixel at(const OverlayFrame& f, std::uint32_t x, std::uint32_t y) {
    return pixel_at(f.pixels, f.width, x, y);
  }

  Config config = plain_config();
  bool capture_available = false;
  TextRenderer text = embedded_text();
  std::vector<OutputRecord> outputs = one_output("DP-1", 600, 360);
  std::vector<Overlay> overlays = configured(outputs);
  std::optional<GridSession> session_;
};

TEST_F(GridFrame, FrameCoversTheOutputInDisplayByteOrder) {
  config.ui.overlay_background = Color{200, 100, 50, 255};
  const OverlayFrame f = frame();
  EXPECT_EQ(f.output, "DP-1");
  EXPECT_EQ(f.width, 600u);
  EXPECT_EQ(f.height, 360u);
  ASSERT_EQ(f.pixels.size(), 600u * 360 * 4);
  // B, G, R, A in memory.
  EXPECT_EQ(f.pixels[0], 50);
  EXPECT_EQ(f.pixels[1], 100);
  EXPECT_EQ(f.pixels[2], 200);
  EXPECT_EQ(f.pixels[3], 255);
}

TEST_F(GridFrame, TypedLettersSitOnAMatchedTileOneAdvanceWide) {
  config.ui.font_size = 20;
  type_label_letter(session(), "b");
  const OverlayFrame f = frame();

  const float s = 20;
  const float advance = text.glyph(U'b', size_key(s)).advance;
  const float margin = 13;  // max(0.65 s, 6)
  const float box_height = 26;
  const float box_left = 200 + (100 - (2 * margin + 2 * advance)) / 2;
  const float box_top = 240 + (60 - box_height) / 2;
  const float pen = box_left + margin;
  const auto is_red = [](Pixel p) { return p.r >= 250 && p.g == 0 && p.b <= 5; };

  // Above the ascender the tile's row is pure matched background, exactly one advance wide.
  const auto row = static_cast<std::uint32_t>(box_top + 2);
  std::vector<std::uint32_t> red_columns;
  for (std::uint32_t x = 200; x < 300; ++x) {
    if (is_red(at(f, x, row))) red_columns.push_back(x);
  }
  ASSERT_FALSE(red_columns.empty());
  EXPECT_NEAR(red_columns.front(), pen, 1.0);
  EXPECT_NEAR(static_cast<float>(red_columns.back() - red_columns.front() + 1), advance, 1.0);
  EXPECT_EQ(red_columns.back() - red_columns.front() + 1, red_columns.size());  // contiguous

  // Inside the tile: matched background and matched foreground only, fully opaque; the
  // glyph's ink is there.
  bool ink = false;
  for (auto y = static_cast<std::uint32_t>(box_top + 1); y + 1 < box_top + box_height; ++y) {
    for (auto x = static_cast<std::uint32_t>(pen + 1); x + 1 < pen + advance; ++x) {
      const Pixel p = at(f, x, y);
      ASSERT_EQ(p.g, 0) << x << "," << y;
      ASSERT_EQ(p.a, 255) << x << "," << y;
      ASSERT_NEAR(p.r + p.b, 255, 2) << x << "," << y;
      ink = ink || p.b > 200;
    }
  }
  EXPECT_TRUE(ink);

  // The untyped second letter is label foreground on no tile.
  bool green = false;
  for (auto y = static_cast<std::uint32_t>(box_top); y < box_top + box_height; ++y) {
    for (auto x = static_cast<std::uint32_t>(pen + advance + 1); x < pen + 2 * advance; ++x) {
      const Pixel p = at(f, x, y);
      ASSERT_EQ(p.r, 0) << x << "," << y;
      green = green || p.g > 200;
    }
  }
  EXPECT_TRUE(green);

  // Unmatched cells get no tile: no red anywhere in row 0 of the grid.
  for (std::uint32_t y = 0; y < 60; ++y) {
    for (std::uint32_t x = 0; x < 600; ++x) ASSERT_FALSE(is_red(at(f, x, y))) << x << "," << y;
  }
}

TEST_F(GridFrame, UnmatchedCellsAreKeptDimmedOrHidden) {
  config.ui.cell_background = Color{255, 255, 255, 200};
  struct Case {
    UnmatchedStyle style;
    float opacity;
    int alpha;         // of the unmatched cell "aa"
    bool label_shown;  // its letters
  };
  const Case cases[] = {
      {UnmatchedStyle::Keep, 0.18f, 200, true},
      {UnmatchedStyle::Dim, 0.18f, 36, true},
      {UnmatchedStyle::Dim, 0.5f, 100, true},
      {UnmatchedStyle::Dim, 0.0f, 0, false},  // dim at opacity 0 is hide
      {UnmatchedStyle::Hide, 0.18f, 0, false},
  };
  for (const Case& c : cases) {
    config.grid.unmatched = c.style;
    config.grid.unmatched_opacity = c.opacity;
    session_.reset();
    type_label_letter(session(), "b");
    const OverlayFrame f = frame();
    EXPECT_NEAR(at(f, 10, 10).a, c.alpha, 1) << static_cast<int>(c.style) << " " << c.opacity;
    EXPECT_NEAR(at(f, 210, 250).a, 200, 1);  // the matched cell "ba" at full opacity
    bool letters = false;
    for (std::uint32_t y = 0; y < 60; ++y) {
      for (std::uint32_t x = 0; x < 100; ++x) {
        const Pixel p = at(f, x, y);
        letters = letters || (p.g > p.r + 10);
      }
    }
    EXPECT_EQ(letters, c.label_shown) << static_cast<int>(c.style) << " " << c.opacity;
  }
}

TEST_F(GridFrame, GridLinesRunAcrossTheOutputAtTheEdgesOfDrawnCells) {
  config.ui.grid_border = Color{255, 255, 0, 255};
  config.ui.grid_border_width = 2;
  const auto is_line = [](Pixel p) { return p.r == 255 && p.g == 255 && p.b == 0; };

  const OverlayFrame all = frame();
  for (std::uint32_t x : {100u, 200u, 500u}) EXPECT_TRUE(is_line(at(all, x, 30))) << x;
  for (std::uint32_t y : {60u, 120u, 240u}) EXPECT_TRUE(is_line(at(all, 30, y))) << y;
  EXPECT_FALSE(is_line(at(all, 150, 30)));
  EXPECT_FALSE(is_line(at(all, 30, 90)));

  // Typed b with hide: only ba .. bd (row 4 from column 2) and be .. bj (row 5) are drawn.
  config.grid.unmatched = UnmatchedStyle::Hide;
  session_.reset();
  type_label_letter(session(), "b");
  const OverlayFrame hidden = frame();
  // Horizontal lines only at the drawn cells' edges, but across the whole width.
  EXPECT_TRUE(is_line(at(hidden, 50, 240)));
  EXPECT_TRUE(is_line(at(hidden, 50, 300)));
  EXPECT_FALSE(is_line(at(hidden, 50, 180)));
  EXPECT_FALSE(is_line(at(hidden, 450, 60)));
  // Vertical lines span the whole height, also through the hidden rows.
  EXPECT_TRUE(is_line(at(hidden, 100, 30)));
  EXPECT_TRUE(is_line(at(hidden, 300, 30)));
}

TEST_F(GridFrame, TheSelectionTintsItsCellAfterTheLabel) {
  config.ui.label_background = Color{255, 255, 255, 255};
  config.ui.selected_background = Color{0, 0, 255, 128};
  config.ui.selected_border = Color{255, 0, 255, 255};
  config.ui.selected_border_width = 2;
  config.grid.unmatched = UnmatchedStyle::Keep;
  type_label_letter(session(), "b");
  type_label_letter(session(), "a");
  ASSERT_EQ(session().selected, 26u);
  const OverlayFrame f = frame();
  // The label box margin of "ba": white label box under a translucent blue.
  const float box_left = (100 - (2 * 9.1f + text.measure_text("ba", 14))) / 2;
  const Pixel box = at(f, static_cast<std::uint32_t>(200 + box_left + 2), 270);
  EXPECT_EQ(box.a, 255);
  EXPECT_GT(box.b, 240);
  EXPECT_LT(box.r, 140);
  // Another cell's label box stays white.
  const Pixel other = at(f, static_cast<std::uint32_t>(box_left + 2), 30);
  EXPECT_EQ(other, (Pixel{255, 255, 255, 255}));
  // The outline on the cell's edge.
  EXPECT_EQ(at(f, 200, 270), (Pixel{255, 0, 255, 255}));
  EXPECT_EQ(at(f, 250, 299), (Pixel{255, 0, 255, 255}));
}

TEST_F(GridFrame, FontSizeSetsTheLabelBoxGeometry) {
  config.ui.label_background = Color{255, 255, 255, 255};
  config.ui.label_foreground = Color{255, 255, 255, 0};
  struct Case {
    float size;
    float margin;
    float height;
  };
  for (const Case& c : {Case{14, 9.1f, 18.2f}, Case{8, 6, 10.4f}, Case{30, 19.5f, 39}}) {
    config.ui.font_size = c.size;
    const OverlayFrame f = frame();
    const float width = 2 * c.margin + text.measure_text("aa", c.size);
    // The box is centred on cell "aa" (0, 0, 100, 60): fully covered inside, clear outside.
    const float left = (100 - width) / 2;
    const float top = (60 - c.height) / 2;
    EXPECT_EQ(at(f, static_cast<std::uint32_t>(left + 1), 30).a, 255) << c.size;
    EXPECT_EQ(at(f, static_cast<std::uint32_t>(left + width - 1.01f), 30).a, 255) << c.size;
    EXPECT_EQ(at(f, static_cast<std::uint32_t>(left - 1), 30).a, 0) << c.size;
    EXPECT_EQ(at(f, static_cast<std::uint32_t>(left + width + 1), 30).a, 0) << c.size;
    EXPECT_EQ(at(f, 50, static_cast<std::uint32_t>(top + 1)).a, 255) << c.size;
    EXPECT_EQ(at(f, 50, static_cast<std::uint32_t>(top + c.height - 1.01f)).a, 255) << c.size;
    EXPECT_EQ(at(f, 50, static_cast<std::uint32_t>(top - 1)).a, 0) << c.size;
    EXPECT_EQ(at(f, 50, static_cast<std::uint32_t>(top + c.height + 1)).a, 0) << c.size;
  }
}

TEST_F(GridFrame, LabelsAreDrawnOnTheBaselineOneFontSizeBelowTheBoxTop) {
  config.ui.font_size = 20;
  const OverlayFrame f = frame();
  // "aa" in cell (0, 0, 100, 60): box top 17, baseline 37. The letter a has no descender, so
  // its ink ends on the baseline row (36) and starts a little above the x-height.
  int lowest = -1;
  int highest = 1000;
  for (std::uint32_t y = 0; y < 60; ++y) {
    for (std::uint32_t x = 0; x < 100; ++x) {
      if (at(f, x, y).g > 128) {
        lowest = std::max(lowest, static_cast<int>(y));
        highest = std::min(highest, static_cast<int>(y));
      }
    }
  }
  EXPECT_EQ(lowest, 36);
  EXPECT_GT(highest, 17 + 2);
}

TEST_F(GridFrame, ALensShowsTheCaptureUnderTheScrimWithItsFrame) {
  config.grid.refinement_zoom = 2;
  config.ui.overlay_background = Color{0, 0, 0, 89};
  config.ui.lens_border = Color{255, 128, 0, 255};
  config.ui.grid_border = Color{255, 255, 0, 255};
  config.ui.grid_border_width = 2;
  capture_available = true;
  type_label_letter(session(), "b");
  type_label_letter(session(), "a");
  ASSERT_TRUE(descend(session()));
  const LensView view = *current_view(session());
  ASSERT_EQ(view.lens, (Rect{150, 210, 200, 120}));

  HeldCapture capture;
  capture.width = capture.logical_width = 600;
  capture.height = capture.logical_height = 360;
  for (int i = 0; i < 600 * 360; ++i) capture.pixels.insert(capture.pixels.end(), {0, 0, 255, 255});
  FrameInput in = input();
  in.capture = &capture;
  in.capture_output = "DP-1";
  const OverlayFrame f = frame(in);

  // Outside the lens: the scrim, round(255 x 0.72).
  EXPECT_EQ(at(f, 20, 20), (Pixel{0, 0, 0, 184}));
  EXPECT_EQ(at(f, 140, 270), (Pixel{0, 0, 0, 184}));  // grid lines stay inside the lens
  // Inside: the capture, enlarged, with the child grid's lines over it.
  EXPECT_EQ(at(f, 160, 220), (Pixel{0, 0, 255, 255}));
  EXPECT_EQ(at(f, 200, 216), (Pixel{255, 255, 0, 255}));  // a child cell edge, 25 x 15 doubled
  // The lens border on the lens edge, its shadow just outside the border.
  EXPECT_EQ(at(f, 150, 270), (Pixel{255, 128, 0, 255}));
  const Pixel shadow = at(f, 146, 270);
  EXPECT_EQ(shadow.r, 0);
  EXPECT_GT(shadow.a, 184);

  // A capture of another output is not drawn in this lens.
  in.capture_output = "HDMI-A-1";
  EXPECT_EQ(at(frame(in), 160, 220), (Pixel{0, 0, 0, 184}));
}

TEST_F(GridFrame, TheAnimationFadesTheGridInDuringItsLastThreeQuarters) {
  config.grid.refinement_zoom = 2;
  config.ui.cell_background = Color{255, 255, 255, 200};
  // Small labels leave the corner of each 25 x 15 child cell free.
  config.ui.font_size = 4;
  capture_available = true;
  type_label_letter(session(), "b");
  type_label_letter(session(), "a");
  ASSERT_TRUE(descend(session()));
  LensView opening = *current_view(session());
  opening.lens = Rect{200, 240, 100, 60};

  struct Case {
    float progress;
    int scrim_alpha;  // round(255 x (0 + 0.72 t))
    int cell_alpha;   // cell background x lens_cell_opacity x fade
  };
  for (const Case& c : {Case{0.0f, 0, 0}, Case{0.25f, 46, 0}, Case{0.625f, 115, 40},
                        Case{1.0f, 184, 80}}) {
    FrameInput in = input();
    in.animation = AnimationFrame{opening, c.progress, false};
    const OverlayFrame f = frame(in);
    EXPECT_EQ(at(f, 20, 20).a, c.scrim_alpha) << c.progress;
    // Inside the opening lens, away from its frame, in the corner of the child cell at
    // (225, 255): scrim plus faded cell background.
    const Pixel cell = at(f, 227, 257);
    const int expected = c.scrim_alpha + c.cell_alpha * (255 - c.scrim_alpha) / 255;
    EXPECT_NEAR(cell.a, expected, 2) << c.progress;
  }
  // A finished animation frame is drawn at progress 1 whatever it says.
  FrameInput in = input();
  in.animation = AnimationFrame{*current_view(session()), 0.3f, true};
  EXPECT_EQ(at(frame(in), 20, 20).a, 184);
}

TEST_F(GridFrame, HintPanelSitsInTheLargestFreeBandOfTheSelection) {
  config.ui.show_action_hints = true;
  config.ui.badge_background = Color{0, 0, 255, 255};
  outputs = one_output("DP-1", 1200, 720);
  overlays = configured(outputs);
  config.grid.root_min_tile_width = 200;
  config.grid.root_min_tile_height = 120;
  session_ = session_over("DP-1", 1200, 720, config);
  // 36 cells again; select "ba", the cell at (400, 480, 200, 120): the top band is the largest.
  type_label_letter(session(), "b");
  type_label_letter(session(), "a");
  const OverlayFrame f = frame();
  const auto layout = layout_hint_panel(text, config.ui,
                                        grid_hints(config.bindings.grid, can_descend(session())),
                                        Rect{0, 0, 1200, 480}, false);
  ASSERT_TRUE(layout);
  EXPECT_EQ(at(f, static_cast<std::uint32_t>(layout->left + 4),
               static_cast<std::uint32_t>(layout->top + 4)),
            (Pixel{0, 0, 255, 255}));
  EXPECT_EQ(at(f, static_cast<std::uint32_t>(layout->left - 4), static_cast<std::uint32_t>(layout->top + 4)).b, 0);

  // Without hints configured, or without a selection, there is no panel.
  config.ui.show_action_hints = false;
  EXPECT_EQ(at(frame(), static_cast<std::uint32_t>(layout->left + 4),
               static_cast<std::uint32_t>(layout->top + 4)).b, 0);
}

TEST_F(GridFrame, OnlyConfiguredOutputsHoldingCellsGetFrames) {
  outputs = {OutputRecord{"A", 0, 0, 600, 360}, OutputRecord{"B", 600, 0, 600, 360},
             OutputRecord{"C", 1200, 0, 600, 360}};
  overlays = configured(outputs);
  const GridRegion regions[] = {{"A", 0, 0, 600, 360}, {"B", 0, 0, 600, 360}};
  session_ = *start_grid_session(regions, config, GridOptions{}, false);
  const auto names = [&](const FrameInput& in) {
    std::vector<std::string> out;
    const auto frames = render_frames(text, in);
    for (const OverlayFrame& f : *frames) out.push_back(f.output);
    return out;
  };
  EXPECT_EQ(names(input()), (std::vector<std::string>{"A", "B"}));  // C holds no cell

  overlays[1].configured = false;
  EXPECT_EQ(names(input()), (std::vector<std::string>{"A"}));
  overlays[1].configured = true;

  // After a descent on A, B keeps its last frame: it gets none.
  ASSERT_GT(current_level(session()).cells.size(), 30u);
  type_label_letter(session(), "a");
  type_label_letter(session(), "a");
  ASSERT_TRUE(descend(session()));
  EXPECT_EQ(names(input()), (std::vector<std::string>{"A"}));

  FrameInput pending = input();
  pending.capture_pending = true;
  EXPECT_TRUE(names(pending).empty());
  FrameInput no_session = input();
  no_session.session = nullptr;
  EXPECT_TRUE(names(no_session).empty());
}

TEST_F(GridFrame, AnImpossibleCanvasFailsTheWholeRedraw) {
  outputs = {OutputRecord{"A", 0, 0, 600, 360}, OutputRecord{"B", 600, 0, 0, 360}};
  overlays = configured(outputs);
  const GridRegion regions[] = {{"A", 0, 0, 600, 360}, {"B", 0, 0, 600, 360}};
  session_ = *start_grid_session(regions, config, GridOptions{}, false);
  auto frames = render_frames(text, input());
  ASSERT_FALSE(frames);
  EXPECT_EQ(frames.error(), RenderError::allocation(0, 360));
  EXPECT_EQ(frames.error().message(), "cannot allocate a 0x360 render buffer");
}

class MouseFrame : public GridFrame {
 protected:
  MouseFrame() {
    config.ui.badge_background = Color{0, 0, 255, 255};
    config.ui.badge_border = Color{255, 0, 255, 255};
    config.ui.badge_border_width = 2;
    config.ui.target_ring = Color{255, 128, 0, 255};
    config.ui.show_action_hints = true;
    outputs = {OutputRecord{"A", 0, 0, 600, 360}, OutputRecord{"B", 600, 0, 800, 400}};
    overlays = configured(outputs);
  }

  FrameInput mouse_input(bool scroll = false) {
    FrameInput in{.config = config, .outputs = outputs, .overlays = overlays};
    in.mouse = MouseFrameState{.scroll = scroll};
    in.focused_output = "A";
    return in;
  }
};

TEST_F(MouseFrame, BadgeNamesTheModeInItsBox) {
  const float s = config.ui.font_size;
  const auto box_width = [&](std::string_view label) {
    return static_cast<std::uint32_t>(std::ceil(text.measure_text(label, s) + 24));
  };
  const std::uint32_t box_height = static_cast<std::uint32_t>(std::ceil(1.8f * s));
  const std::uint32_t mouse_width = box_width("MOUSE");
  ASSERT_GT(box_width("SCROLL  u/e  y/o"), mouse_width + 10);

  const OverlayFrame mouse = frame(mouse_input());
  EXPECT_EQ(mouse.output, "A");
  EXPECT_EQ(at(mouse, 14, 14), (Pixel{0, 0, 255, 255}));
  EXPECT_EQ(at(mouse, 12 + mouse_width - 2, 12 + box_height - 2), (Pixel{0, 0, 255, 255}));
  EXPECT_EQ(at(mouse, 12 + mouse_width + 2, 20), Pixel{});
  EXPECT_EQ(at(mouse, 20, 12 + box_height + 2), Pixel{});
  EXPECT_EQ(at(mouse, 11, 20), (Pixel{255, 0, 255, 255}));  // the border, centred on the edge
  EXPECT_EQ(at(mouse, 12, 20), (Pixel{255, 0, 255, 255}));
  EXPECT_EQ(at(mouse, 5, 5), Pixel{});  // no background in mouse mode

  const OverlayFrame scroll = frame(mouse_input(true));
  EXPECT_EQ(at(scroll, 12 + mouse_width + 4, 14), (Pixel{0, 0, 255, 255}));

  config.ui.show_badge = false;
  EXPECT_EQ(at(frame(mouse_input()), 14, 14), Pixel{});
}

TEST_F(MouseFrame, RingMarksTheLastPointerTargetOnItsOutput) {
  FrameInput in = mouse_input();
  in.pointer_target = GridPoint{"B", 300, 200};
  const OverlayFrame f = frame(in);
  EXPECT_EQ(f.output, "B");
  EXPECT_EQ(f.width, 800u);
  EXPECT_EQ(f.height, 400u);
  for (auto [x, y] : {std::pair{316u, 200u}, {284u, 200u}, {300u, 184u}, {300u, 216u}}) {
    const Pixel p = at(f, x, y);
    EXPECT_GT(p.a, 200) << x << "," << y;
    EXPECT_GT(p.r, p.b) << x << "," << y;
  }
  EXPECT_EQ(at(f, 300, 200), Pixel{});
  EXPECT_EQ(at(f, 308, 200), Pixel{});

  config.ui.show_target_ring = false;
  EXPECT_EQ(at(frame(in), 316, 200), Pixel{});
}

TEST_F(MouseFrame, HintsSitInTheLowerLeftCornerOfPlainMouseModeOnly) {
  const auto panel_corner = [&](const OverlayFrame& f) {
    return at(f, 18 + 3, f.height - 18 - 3);
  };
  EXPECT_EQ(panel_corner(frame(mouse_input())), (Pixel{0, 0, 255, 255}));
  EXPECT_EQ(panel_corner(frame(mouse_input(true))), Pixel{});
  config.ui.show_action_hints = false;
  EXPECT_EQ(panel_corner(frame(mouse_input())), Pixel{});
}

TEST_F(MouseFrame, IsDrawnOnlyWhereAConfiguredOverlayShowsIt) {
  FrameInput in = mouse_input();
  overlays[0].configured = false;
  EXPECT_TRUE(render_frames(text, in)->empty());
  in.focused_output = "";
  EXPECT_TRUE(render_frames(text, in)->empty());
  in.pointer_target = GridPoint{"B", 1, 1};
  EXPECT_EQ(render_frames(text, in)->size(), 1u);
  in.pointer_target = GridPoint{"gone", 1, 1};
  in.focused_output = "B";
  EXPECT_TRUE(render_frames(text, in)->empty());  // the target's output decides

  outputs[1].height = 0;
  in.pointer_target = GridPoint{"B", 1, 1};
  auto frames = render_frames(text, in);
  ASSERT_FALSE(frames);
  EXPECT_EQ(frames.error(), RenderError::allocation(800, 0));
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

// Direct cell fills must leave exactly the pixels of drawing every primitive in order.
TEST_F(GridFrame, DirectFillsLeaveTheSamePixelsAsTheRasteriser) {
  Config defaults;
  config.ui = defaults.ui;  // translucent colours everywhere, so any reordering shows
  config.ui.show_action_hints = true;
  struct Case {
    const char* what;
    std::string typed;
    float font_size;
    UnmatchedStyle unmatched;
    std::uint32_t tile_width, tile_height;
    std::int32_t width = 600, height = 360;
  };
  const Case cases[] = {
      {"nothing typed", "", 14, UnmatchedStyle::Dim, 100, 60},
      {"one letter dims the rest", "b", 14, UnmatchedStyle::Dim, 100, 60},
      {"selection outline reaches the next cells", "bc", 14, UnmatchedStyle::Dim, 100, 60},
      {"hidden cells", "b", 14, UnmatchedStyle::Hide, 100, 60},
      {"labels wider than their cells", "", 60, UnmatchedStyle::Dim, 100, 60},
      {"selected among overflowing labels", "ab", 48, UnmatchedStyle::Keep, 100, 60},
      {"tiny cells", "a", 14, UnmatchedStyle::Dim, 7, 5},
      // Cells of 97 and 98 pixels put label boxes at different sub-pixel offsets.
      {"uneven cells", "c", 13.3f, UnmatchedStyle::Dim, 96, 54, 1069, 701},
      {"uneven cells, selected", "cd", 17.7f, UnmatchedStyle::Keep, 96, 54, 1069, 701},
  };
  for (const Case& c : cases) {
    config.ui.font_size = c.font_size;
    config.grid.unmatched = c.unmatched;
    config.grid.root_min_tile_width = c.tile_width;
    config.grid.root_min_tile_height = c.tile_height;
    outputs = one_output("DP-1", c.width, c.height);
    overlays = configured(outputs);
    session_ = session_over("DP-1", c.width, c.height, config);
    for (char letter : c.typed) type_label_letter(session(), std::string(1, letter));
    std::vector<Hint> hints;
    if (selected_cell(session()) != nullptr) hints = grid_hints(config.bindings.grid, true);
    auto direct = draw_grid_canvas(text, input(), outputs[0], hints, GridDrawing::Direct);
    auto reference = draw_grid_canvas(text, input(), outputs[0], hints, GridDrawing::Reference);
    ASSERT_TRUE(direct && reference) << c.what;
    const auto a = direct->pixels();
    const auto b = reference->pixels();
    ASSERT_EQ(a.size(), b.size());
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
    EXPECT_EQ(differing, 0u) << c.what;
  }
}

// Drawing into memory the display provides must give the very bytes of the canvas path, also
// where that memory still holds an older frame.
TEST_F(GridFrame, FramesDrawnIntoProvidedMemoryMatchTheirOwnCanvases) {
  Config defaults;
  config.ui = defaults.ui;
  config.ui.show_action_hints = true;
  outputs = {OutputRecord{"A", 0, 0, 600, 360}, OutputRecord{"B", 600, 0, 301, 203}};
  overlays = configured(outputs);
  const GridRegion regions[] = {{"A", 0, 0, 600, 360}, {"B", 0, 0, 301, 203}};
  struct Case {
    const char* what;
    std::string typed;
    std::optional<MouseFrameState> mouse;
    std::optional<GridPoint> pointer_target;
  };
  const Case cases[] = {
      {"grid on two outputs", "", std::nullopt, std::nullopt},
      {"a letter typed", "a", std::nullopt, std::nullopt},
      {"a selection with its hint panel", "ab", std::nullopt, std::nullopt},
      {"mouse frame with its ring", "", MouseFrameState{}, GridPoint{"B", 150, 100}},
      {"scroll frame", "", MouseFrameState{.scroll = true}, std::nullopt},
  };
  for (const Case& c : cases) {
    session_ = *start_grid_session(regions, config, GridOptions{}, false);
    for (char letter : c.typed) type_label_letter(session(), std::string(1, letter));
    FrameInput in = input();
    in.mouse = c.mouse;
    in.pointer_target = c.pointer_target;
    in.focused_output = "A";

    auto frames = render_frames(text, in);
    ASSERT_TRUE(frames) << c.what;
    const FramePlan plan = plan_frames(in);
    ASSERT_EQ(plan.frames.size(), frames->size()) << c.what;
    ASSERT_FALSE(frames->empty()) << c.what;
    for (std::size_t i = 0; i < frames->size(); ++i) {
      const PlannedFrame& planned = plan.frames[i];
      const OverlayFrame& own = (*frames)[i];
      EXPECT_EQ(planned.output->name, own.output) << c.what;
      ASSERT_EQ(planned.width, own.width) << c.what;
      ASSERT_EQ(planned.height, own.height) << c.what;
      std::vector<std::uint8_t> memory(std::size_t{planned.width} * planned.height * 4, 0xa5);
      {
        auto canvas = Canvas::wrap(memory, planned.width, planned.height, planned.start);
        ASSERT_TRUE(canvas) << c.what;
        draw_frame(text, in, plan, planned, *canvas);
      }
      std::size_t differing = 0;
      for (std::size_t b = 0; b < memory.size(); ++b) differing += memory[b] != own.pixels[b];
      EXPECT_EQ(differing, 0u) << c.what << ", output " << own.output;
    }
  }
}

TEST(CanvasWrap, RefusesWhatCreateRefusesAndMemoryOfAnotherSize) {
  std::vector<std::uint8_t> memory(16 * 4);
  EXPECT_TRUE(Canvas::wrap(memory, 4, 4));
  EXPECT_TRUE(Canvas::wrap(memory, 16, 1));
  struct Case {
    std::size_t bytes;
    std::uint32_t width, height;
    bool size_accepted;  // only the memory's length is wrong
  };
  const Case refused[] = {
      {64, 0, 16, false}, {64, 4, 0, false}, {64, 40000, 1, false},
      {60, 4, 4, true},   {68, 4, 4, true},
  };
  for (const Case& c : refused) {
    std::vector<std::uint8_t> other(c.bytes);
    auto canvas = Canvas::wrap(other, c.width, c.height);
    ASSERT_FALSE(canvas) << c.width << "x" << c.height << " over " << c.bytes;
    EXPECT_EQ(canvas.error(), RenderError::allocation(c.width, c.height));
    EXPECT_EQ(Canvas::check_size(c.width, c.height).has_value(), c.size_accepted);
  }
  // A transparent start clears what the memory held; the canvas draws on the caller's bytes.
  std::fill(memory.begin(), memory.end(), std::uint8_t{0x7f});
  auto canvas = Canvas::wrap(memory, 4, 4);
  ASSERT_TRUE(canvas);
  EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0; }));
  fill_canvas(*canvas, Color{255, 0, 0, 255});
  (void)canvas->pixels();
  EXPECT_EQ(memory[2], 255) << "red lands in the third byte (B, G, R, A)";
  EXPECT_EQ(canvas->release_pixels().size(), memory.size());
}

}  // namespace
}  // namespace tarvik
