#include "render/hints.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render_support.h"

namespace tarvik {
namespace {

using testing::embedded_text;
using testing::Pixel;
using testing::pixel_at;

TEST(GridHints, ListEveryActionInOrderAndRefineOnlyWhenPossible) {
  const config::GridBindings bindings;
  const std::vector<Hint> all = {
      {"s", "Left click"},   {"d", "Middle click"}, {"f", "Right click"},
      {"c", "Double click"}, {"space", "Move pointer"}, {"g", "Mouse mode"},
      {"u", "Scroll up"},    {"e", "Scroll down"},  {"y", "Scroll left"},
      {"o", "Scroll right"}, {"Return", "Refine grid"}, {"BackSpace", "Back"},
      {"Escape", "Cancel"},  {"q", "Quit"},
  };
  EXPECT_EQ(grid_hints(bindings, true), all);
  std::vector<Hint> without_refine = all;
  without_refine.erase(without_refine.begin() + 10);
  EXPECT_EQ(grid_hints(bindings, false), without_refine);

  // Key texts are the bindings exactly as configured.
  config::GridBindings custom;
  custom.left_click = "KP_Enter";
  custom.descend = "Tab";
  const auto hints = grid_hints(custom, true);
  EXPECT_EQ(hints[0].key, "KP_Enter");
  EXPECT_EQ(hints[10].key, "Tab");
}

TEST(MouseHints, FollowTheLockState) {
  const config::MouseBindings bindings;
  const std::vector<Hint> tail = {
      {"c", "Double click"}, {"u", "Scroll up"},    {"e", "Scroll down"}, {"y", "Scroll left"},
      {"o", "Scroll right"}, {"Escape", "Exit"},    {"q", "Quit"},
  };
  const auto with_tail = [&](std::vector<Hint> head) {
    head.insert(head.begin(), Hint{"h j k l", "Move pointer"});
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  struct Case {
    MouseLockState lock;
    std::vector<Hint> hints;
  };
  const Case cases[] = {
      {{}, with_tail({{"s / v s", "Left / lock"}, {"d / v d", "Middle / lock"},
                      {"f / v f", "Right / lock"}})},
      {{.armed = true}, with_tail({{"s", "Lock left"}, {"d", "Lock middle"}, {"f", "Lock right"}})},
      {{.locked = PointerButton::Left}, with_tail({{"v", "Release left drag"}})},
      {{.locked = PointerButton::Middle}, with_tail({{"v", "Release middle drag"}})},
      {{.locked = PointerButton::Right, .armed = true}, with_tail({{"v", "Release right drag"}})},
  };
  for (const Case& c : cases) EXPECT_EQ(mouse_hints(bindings, c.lock), c.hints);
  EXPECT_EQ(cases[0].hints.size(), 11u);
  EXPECT_EQ(cases[2].hints.size(), 9u);
}

TEST(LargestFreeBand, PicksTheBiggestBandWithItsTieRules) {
  struct Case {
    const char* what;
    std::uint32_t width, height;
    Rect cell;
    Rect band;
  };
  const Case cases[] = {
      // Lower-right corner of 1920 x 1080: left and top both 1824 x 1080 = 1920 x 1026; top wins.
      {"corner tie", 1920, 1080, {1824, 1026, 96, 54}, {0, 0, 1920, 1026}},
      {"left larger", 1920, 1080, {1824, 500, 96, 54}, {0, 0, 1824, 1080}},
      {"right over equal left", 100, 10, {40, 0, 20, 10}, {60, 0, 40, 10}},
      {"top over equal right", 100, 100, {0, 50, 50, 50}, {0, 0, 100, 50}},
      {"bottom over equal top", 100, 100, {0, 40, 100, 20}, {0, 60, 100, 40}},
      {"nothing free", 100, 100, {0, 0, 100, 100}, {0, 100, 100, 0}},
      {"cell off the canvas", 100, 100, {150, 150, 10, 10}, {0, 0, 100, 100}},
      {"sums saturate", 100, 100, {4294967000u, 10, 4294967000u, 80}, {0, 0, 100, 100}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(largest_free_band(c.width, c.height, c.cell), c.band) << c.what;
  }
}

class HintPanel : public ::testing::Test {
 protected:
  TextRenderer text = embedded_text();
  config::Ui ui;
  std::vector<Hint> grid = grid_hints(config::GridBindings{}, true);

  float column_width(float size) {
    float keys = 0, descriptions = 0;
    for (const Hint& hint : grid) {
      keys = std::max(keys, text.measure_text(hint.key, size));
      descriptions = std::max(descriptions, text.measure_text(hint.description, size));
    }
    return keys + 10 + descriptions;
  }
};

TEST_F(HintPanel, UsesTwoColumnsOnlyWhereTheyFit) {
  const float c = column_width(14);
  const auto wide_enough = static_cast<std::uint32_t>(std::ceil(2 * c + 56));
  auto two = layout_hint_panel(text, ui, grid, Rect{0, 0, wide_enough, 1000}, false);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->columns, 2u);
  EXPECT_EQ(two->rows, 7u);
  EXPECT_FLOAT_EQ(two->width, 2 * (c + 28));
  EXPECT_FLOAT_EQ(two->height, 7 * 1.55f * 14 + 28);
  EXPECT_FLOAT_EQ(two->left, (wide_enough - two->width) / 2);
  EXPECT_FLOAT_EQ(two->top, (1000 - two->height) / 2);

  auto one = layout_hint_panel(text, ui, grid, Rect{0, 0, wide_enough - 1, 1000}, false);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->columns, 1u);
  EXPECT_EQ(one->rows, 14u);
  // Fourteen rows taller than the area: no panel at all.
  const auto rows_height = static_cast<std::uint32_t>(14 * 1.55f * 14 + 28);
  EXPECT_FALSE(layout_hint_panel(text, ui, grid, Rect{0, 0, wide_enough - 1, rows_height - 1},
                                 false));
  // Five hints or fewer stay in one column however wide the area.
  const std::vector<Hint> few(grid.begin(), grid.begin() + 5);
  auto short_list = layout_hint_panel(text, ui, few, Rect{0, 0, 4000, 1000}, false);
  ASSERT_TRUE(short_list);
  EXPECT_EQ(short_list->columns, 1u);
  EXPECT_FALSE(layout_hint_panel(text, ui, {}, Rect{0, 0, 4000, 1000}, false));
}

TEST_F(HintPanel, TextIsNeverSmallerThanElevenPixels) {
  ui.font_size = 9;
  auto layout = layout_hint_panel(text, ui, grid, Rect{0, 0, 4000, 4000}, false);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->text_size, 11);
  EXPECT_FLOAT_EQ(layout->column_width, column_width(11));
  ui.font_size = 20;
  EXPECT_EQ(layout_hint_panel(text, ui, grid, Rect{0, 0, 4000, 4000}, false)->text_size, 20);
}

TEST_F(HintPanel, AnchoredPanelsSitEighteenPixelsFromTheLowerLeftCorner) {
  auto layout = layout_hint_panel(text, ui, grid, Rect{100, 50, 1920, 1080}, true);
  ASSERT_TRUE(layout);
  EXPECT_FLOAT_EQ(layout->left, 118);
  EXPECT_FLOAT_EQ(layout->top, 50 + 1080 - layout->height - 18);
}

TEST_F(HintPanel, IsDrawnInsideItsAreaOrNotAtAll) {
  ui.badge_background = Color{0, 0, 255, 255};
  ui.matched_background = Color{255, 0, 0, 255};
  ui.badge_foreground = Color{0, 255, 0, 255};
  // One column of 14 rows fits 400 x 400.
  Canvas canvas = *Canvas::create(600, 400);
  const Rect area{200, 0, 400, 400};
  draw_hint_panel(canvas, text, ui, grid, area, false);
  auto layout = *layout_hint_panel(text, ui, grid, area, false);
  // The panel's fill shows between its text columns and nowhere left of the area.
  EXPECT_EQ(pixel_at(canvas, static_cast<std::uint32_t>(layout.left + 3),
                     static_cast<std::uint32_t>(layout.top + 3)),
            (Pixel{0, 0, 255, 255}));
  for (std::uint32_t y = 0; y < 400; ++y) {
    for (std::uint32_t x = 0; x < 200; ++x) ASSERT_EQ(pixel_at(canvas, x, y), Pixel{});
  }
  // Key texts in the matched colour, descriptions in the badge foreground, both in the first
  // column's row.
  bool key_ink = false, description_ink = false;
  const std::uint32_t baseline = static_cast<std::uint32_t>(layout.top + 14 + layout.text_size);
  for (std::uint32_t y = baseline - 8; y < baseline; ++y) {
    for (std::uint32_t x = static_cast<std::uint32_t>(layout.left + 14);
         x < static_cast<std::uint32_t>(layout.left + 14 + layout.column_width); ++x) {
      const Pixel p = pixel_at(canvas, x, y);
      key_ink = key_ink || (p.r > 200 && p.g < 50);
      description_ink = description_ink || (p.g > 200 && p.r < 50);
    }
  }
  EXPECT_TRUE(key_ink);
  EXPECT_TRUE(description_ink);

  Canvas empty = *Canvas::create(600, 400);
  draw_hint_panel(empty, text, ui, grid, Rect{0, 0, 600, 0}, false);
  for (std::uint8_t byte : empty.pixels()) ASSERT_EQ(byte, 0);
}

}  // namespace
}  // namespace tarvik
