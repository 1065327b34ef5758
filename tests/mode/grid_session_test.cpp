#include "mode/grid_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "logging/logging.h"
#include "mode_support.h"

namespace tarvik {
namespace {

using testing_support::cell_index;
using testing_support::start_session;
using ::testing::ElementsAre;

constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

const std::vector<GridRegion> kFullHd{GridRegion{"DP-1", 0, 0, 1920, 1080}};

// 1920 x 1080, root tiles 96 x 54, floor 16 x 16, 4096 cells, labels of up to 3 letters.
void lens_settings(Config& config, double zoom) {
  config.grid.root_min_tile_width = 96;
  config.grid.root_min_tile_height = 54;
  config.grid.min_tile_width = 16;
  config.grid.min_tile_height = 16;
  config.grid.max_cells = 4096;
  config.grid.max_label_length = 3;
  config.grid.refinement_zoom = zoom;
}

GridSession full_hd_session(double zoom) {
  return start_session(kFullHd, [zoom](Config& c) { lens_settings(c, zoom); });
}

TEST(GridSession, RefiningCellIaOpensLensAtFourTimes) {
  GridSession session = full_hd_session(4.0);
  ASSERT_EQ(current_level(session).cells.size(), 400u);
  EXPECT_EQ(current_level(session).label_len, 2);

  session.selected = cell_index(session, "ia");
  const GridCell cell = *selected_cell(session);
  EXPECT_EQ(cell, (GridCell{"DP-1", "ia", 768, 540, 96, 54}));
  EXPECT_EQ(level_min_tile_size(session), (TileSize{48, 27}));
  EXPECT_TRUE(can_descend(session));

  ASSERT_TRUE(descend(session));
  ASSERT_EQ(session.levels.size(), 2u);
  EXPECT_FALSE(session.selected);
  EXPECT_EQ(current_view(session),
            (LensView{"DP-1", Rect{768, 540, 96, 54}, Rect{624, 459, 384, 216}}));

  // Child minimum 12 x 7: 8 columns of 12 and 7 rows inside the cell.
  const GridLevel& child = current_level(session);
  ASSERT_EQ(child.cells.size(), 56u);
  EXPECT_EQ(child.label_len, 2);
  EXPECT_EQ(child.cells.front(), (GridCell{"DP-1", "aa", 768, 540, 12, 7}));
  EXPECT_EQ(child.cells.back().label, "cd");
  EXPECT_EQ(child.cells.back().x + child.cells.back().width, 768u + 96u);
  EXPECT_EQ(child.cells.back().y + child.cells.back().height, 540u + 54u);
  for (const GridCell& c : child.cells) EXPECT_EQ(c.width, 12u);

  // Displayed through the lens, the child cells cover the lens exactly.
  EXPECT_EQ(displayed_rect(session, child.cells.front()), (Rect{624, 459, 48, 28}));
  EXPECT_EQ(displayed_rect(session, child.cells.back()), (Rect{624 + 336, 459 + 184, 48, 32}));
}

TEST(GridSession, MagnificationCompoundsFromLensToLens) {
  GridSession session = full_hd_session(4.0);
  session.selected = cell_index(session, "ia");
  ASSERT_TRUE(descend(session));
  session.selected = cell_index(session, "aa");  // (768, 540, 12, 7), shown at (624, 459, 48, 28)
  EXPECT_EQ(level_min_tile_size(session), (TileSize{24, 16}));

  ASSERT_TRUE(descend(session));
  // Centred on the displayed cell (648, 473) and enlarged four times again.
  EXPECT_EQ(current_view(session),
            (LensView{"DP-1", Rect{768, 540, 12, 7}, Rect{552, 417, 192, 112}}));
  // Child minimum ceil(24 * 12 / 192) x ceil(16 * 7 / 112) = 2 x 1.
  EXPECT_EQ(current_level(session).cells.size(), 6u * 7u);
  EXPECT_EQ(current_level(session).cells.front(), (GridCell{"DP-1", "aa", 768, 540, 2, 1}));
}

TEST(GridSession, LensStaysInsideOutput) {
  struct Case {
    const char* what;
    std::vector<GridRegion> regions;
    std::uint32_t root_width;
    std::uint32_t root_height;
    std::uint64_t max_cells;
    double zoom;
    std::string label;
    LensView view;
  };
  const Case cases[] = {
      {"right edge: shifted left to end at the edge",
       kFullHd, 96, 54, 4096, 4.0, "il",
       LensView{"DP-1", Rect{1824, 540, 96, 54}, Rect{1536, 459, 384, 216}}},
      {"bottom left corner",
       kFullHd, 96, 54, 4096, 4.0, "oq",  // index 380: row 19, column 0
       LensView{"DP-1", Rect{0, 1026, 96, 54}, Rect{0, 864, 384, 216}}},
      {"wide cell: zoom reduced to fit the width",
       {GridRegion{"DP-1", 0, 0, 1000, 500}}, 400, 100, 200, 4.0, "a",
       LensView{"DP-1", Rect{0, 0, 500, 100}, Rect{0, 0, 1000, 200}}},
      {"tall cell: zoom reduced to fit the height",
       {GridRegion{"DP-1", 0, 0, 500, 1000}}, 100, 400, 200, 4.0, "j",  // the last cell
       LensView{"DP-1", Rect{400, 500, 100, 500}, Rect{300, 0, 200, 1000}}},
      {"fractional zoom rounds half away from zero",
       // 14 x 14 cells within 200, the first 71 wide: 71 * 1.5 = 106.5.
       {GridRegion{"DP-1", 0, 0, 1000, 1000}}, 5, 5, 200, 1.5, "aa",
       LensView{"DP-1", Rect{0, 0, 71, 71}, Rect{0, 0, 107, 107}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GridSession session = start_session(c.regions, [&c](Config& config) {
      config.grid.root_min_tile_width = c.root_width;
      config.grid.root_min_tile_height = c.root_height;
      config.grid.min_tile_width = 1;
      config.grid.min_tile_height = 1;
      config.grid.max_cells = c.max_cells;
      config.grid.max_label_length = 2;
      config.grid.refinement_zoom = c.zoom;
    });
    session.selected = cell_index(session, c.label);
    ASSERT_TRUE(descend(session));
    EXPECT_EQ(current_view(session), c.view);
  }
}

TEST(GridSession, WithoutZoomChildIsLaidOutInPlace) {
  GridSession session = full_hd_session(1.0);
  session.selected = cell_index(session, "ia");
  ASSERT_TRUE(descend(session));
  EXPECT_EQ(current_view(session), std::nullopt);
  // The level minimum 48 x 27 applies to true coordinates: 2 x 2 cells.
  EXPECT_THAT(current_level(session).cells,
              ElementsAre(GridCell{"DP-1", "a", 768, 540, 48, 27},
                          GridCell{"DP-1", "b", 816, 540, 48, 27},
                          GridCell{"DP-1", "c", 768, 567, 48, 27},
                          GridCell{"DP-1", "d", 816, 567, 48, 27}));
}

TEST(GridSession, NoScreenCaptureMeansNoMagnification) {
  GridSession session =
      start_session(kFullHd, [](Config& c) { lens_settings(c, 4.0); }, {}, false);
  EXPECT_EQ(session.refinement_zoom, 1.0);
  session.selected = cell_index(session, "ia");
  ASSERT_TRUE(descend(session));
  EXPECT_EQ(current_view(session), std::nullopt);
}

TEST(GridSession, DroppedMagnificationClearsEveryView) {
  GridSession session = full_hd_session(4.0);
  session.selected = cell_index(session, "ia");
  ASSERT_TRUE(descend(session));
  session.selected = 0;
  ASSERT_TRUE(descend(session));
  ASSERT_TRUE(session.views[1] && session.views[2]);

  drop_magnification(session);
  EXPECT_EQ(session.refinement_zoom, 1.0);
  EXPECT_THAT(session.views, ElementsAre(std::nullopt, std::nullopt, std::nullopt));
  EXPECT_EQ(displayed_rect(session, current_level(session).cells[0]),
            current_level(session).cells[0].rect());
}

TEST(GridSession, DescentsThatAreRefused) {
  struct Case {
    const char* what;
    std::vector<GridRegion> regions;
    std::uint32_t root_tile;
    std::uint32_t floor_tile;
    std::uint8_t max_depth;
  };
  const Case cases[] = {
      // 20 x 20 cells; the level minimum max(10, 16) leaves one child cell.
      {"a single child cell", {GridRegion{"DP-1", 0, 0, 40, 40}}, 20, 16, 4},
      // 15 x 15 cells are smaller than the level minimum max(7, 16).
      {"cell smaller than the level minimum", {GridRegion{"DP-1", 0, 0, 30, 30}}, 15, 16, 4},
      {"depth limit of one level", kFullHd, 96, 16, 1},
      {"depth limit of zero", kFullHd, 96, 16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GridSession session = start_session(c.regions, [&c](Config& config) {
      config.grid.root_min_tile_width = config.grid.root_min_tile_height = c.root_tile;
      config.grid.min_tile_width = config.grid.min_tile_height = c.floor_tile;
      config.grid.max_depth = c.max_depth;
      config.grid.refinement_zoom = 1.0;
    });
    session.selected = 0;
    session.typed = "a";
    EXPECT_FALSE(can_descend(session));
    EXPECT_FALSE(descend(session));
    auto child = build_child_level(session, current_level(session).cells[0]);
    if (c.max_depth >= 2) {
      ASSERT_TRUE(child);
      EXPECT_FALSE(child->has_value());
    }
    EXPECT_EQ(session.levels.size(), 1u);
    EXPECT_EQ(session.selected, 0u);
    EXPECT_EQ(session.typed, "a");
  }
}

TEST(GridSession, DescentNeedsValidSelection) {
  GridSession session = full_hd_session(4.0);
  EXPECT_FALSE(can_descend(session));
  EXPECT_FALSE(descend(session));
  session.selected = current_level(session).cells.size();
  EXPECT_FALSE(can_descend(session));
  EXPECT_FALSE(descend(session));
  EXPECT_EQ(session.levels.size(), 1u);
}

TEST(GridSession, ChildLayoutErrorIsReportedButDescentFailsQuietly) {
  GridSession session = full_hd_session(4.0);
  session.selected = 0;
  session.max_label_length = 14;  // not reachable from a valid configuration
  auto child = build_child_level(session, current_level(session).cells[0]);
  ASSERT_FALSE(child);
  EXPECT_EQ(child.error(), GridLayoutError::overflow());
  EXPECT_FALSE(can_descend(session));
  EXPECT_FALSE(descend(session));
  EXPECT_EQ(session.levels.size(), 1u);
}

TEST(GridSession, LevelMinimumHalvesPerLevelDownToTheFloor) {
  struct Case {
    std::size_t levels;
    std::uint32_t root;
    std::uint32_t floor;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {1, 96, 16, 48}, {2, 96, 16, 24}, {3, 96, 16, 16}, {1, 54, 16, 27}, {2, 54, 16, 16},
      {31, kMaxU32, 0, 1},  // floor((2^32 - 1) / 2^31)
      {32, kMaxU32, 0, 1},  // 2^32 would not fit: the divisor is 2^32 - 1
      {33, kMaxU32, 0, 1}, {200, kMaxU32, 0, 1}, {32, kMaxU32 - 1, 0, 0}, {40, 1000, 7, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.levels << " levels, root " << c.root);
    GridSession session;
    session.levels.resize(c.levels);
    session.views.resize(c.levels);
    session.root_min_tile_width = c.root;
    session.root_min_tile_height = c.root;
    session.min_tile_width = c.floor;
    session.min_tile_height = c.floor;
    EXPECT_EQ(level_min_tile_size(session), (TileSize{c.expected, c.expected}));
  }
}

TEST(GridSession, MappingThroughViewSaturates) {
  const LensView fourfold{"DP-1", Rect{768, 540, 96, 54}, Rect{624, 459, 384, 216}};
  struct Case {
    const char* what;
    std::optional<LensView> view;
    Rect rect;
    Rect expected;
  };
  const Case cases[] = {
      {"no view", std::nullopt, Rect{5, 6, 7, 8}, Rect{5, 6, 7, 8}},
      {"the source itself fills the lens", fourfold, Rect{768, 540, 96, 54},
       Rect{624, 459, 384, 216}},
      {"a part of the source", fourfold, Rect{780, 547, 12, 7}, Rect{672, 487, 48, 28}},
      {"left of and above the source clamps to the lens corner", fourfold, Rect{0, 0, 10, 10},
       Rect{624, 459, 0, 0}},
      {"empty source acts as one pixel", LensView{"DP-1", Rect{10, 10, 0, 0}, Rect{0, 0, 5, 5}},
       Rect{10, 10, 1, 1}, Rect{0, 0, 5, 5}},
      {"quotient beyond 32 bits", LensView{"DP-1", Rect{0, 0, 1, 1}, Rect{0, 0, kMaxU32, kMaxU32}},
       Rect{0, 0, 2, 2}, Rect{0, 0, kMaxU32, kMaxU32}},
      {"far edge saturates", LensView{"DP-1", Rect{0, 0, kMaxU32, kMaxU32},
                                      Rect{0, 0, kMaxU32, kMaxU32}},
       Rect{kMaxU32 - 5, kMaxU32 - 5, 100, 100}, Rect{kMaxU32 - 5, kMaxU32 - 5, 5, 5}},
      {"final addition saturates", LensView{"DP-1", Rect{0, 0, 10, 10},
                                            Rect{kMaxU32 - 10, kMaxU32 - 10, 20, 20}},
       Rect{5, 5, 5, 5}, Rect{kMaxU32, kMaxU32, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(map_through_view(c.view, c.rect), c.expected);
  }
}

TEST(GridSession, TargetPointIsTheCellCentre) {
  struct Case {
    GridCell cell;
    GridPoint expected;
  };
  const Case cases[] = {
      {GridCell{"DP-1", "a", 10, 20, 1, 1}, GridPoint{"DP-1", 10, 20}},
      {GridCell{"DP-1", "a", 10, 20, 3, 3}, GridPoint{"DP-1", 11, 21}},
      {GridCell{"HDMI-A-1", "a", 768, 540, 96, 54}, GridPoint{"HDMI-A-1", 816, 567}},
      {GridCell{"DP-1", "a", 0, 0, 0, 0}, GridPoint{"DP-1", 0, 0}},
      {GridCell{"DP-1", "a", kMaxU32, kMaxU32, kMaxU32, kMaxU32},
       GridPoint{"DP-1", kMaxU32, kMaxU32}},
  };
  for (const Case& c : cases) EXPECT_EQ(target_point(c.cell), c.expected);
}

TEST(GridSession, ActionsStartWithMoveToTheCellCentre) {
  using namespace effect;
  const MoveTo move{"DP-1", 816, 567};
  struct Case {
    GridAction action;
    bool exit_on_scroll;
    Effects expected;
  };
  const Case cases[] = {
      {GridAction::Move, false, {move, Exit{}}},
      {GridAction::Mouse, false, {move, EnterMouse{}}},
      {GridAction::Left, false, {move, Click{PointerButton::Left}, Exit{}}},
      {GridAction::Middle, false, {move, Click{PointerButton::Middle}, Exit{}}},
      {GridAction::Right, false, {move, Click{PointerButton::Right}, Exit{}}},
      {GridAction::DoubleClick, false, {move, DoubleClick{PointerButton::Left}, Exit{}}},
      {GridAction::Scroll, true, {move, EnterScroll{}}},
      {GridAction::ScrollUp, false, {move, effect::Scroll{ScrollDirection::Up}}},
      {GridAction::ScrollDown, false, {move, effect::Scroll{ScrollDirection::Down}}},
      {GridAction::ScrollLeft, false, {move, effect::Scroll{ScrollDirection::Left}}},
      {GridAction::ScrollRight, false, {move, effect::Scroll{ScrollDirection::Right}}},
      {GridAction::ScrollUp, true, {move, effect::Scroll{ScrollDirection::Up}, Exit{}}},
      {GridAction::ScrollRight, true, {move, effect::Scroll{ScrollDirection::Right}, Exit{}}},
      {GridAction::Choose, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "action " << static_cast<int>(c.action));
    GridSession session = start_session(kFullHd, [&c](Config& config) {
      lens_settings(config, 4.0);
      config.grid.exit_on_scroll = c.exit_on_scroll;
    });
    // Through a lens the action still lands on the true centre.
    session.selected = cell_index(session, "hz");
    ASSERT_TRUE(descend(session));
    session.selected = 0;
    const GridCell& cell = *selected_cell(session);
    Effects expected = c.expected;
    if (!expected.empty()) {
      expected[0] = MoveTo{"DP-1", cell.x + cell.width / 2, cell.y + cell.height / 2};
    }
    EXPECT_EQ(finish_with_action(session, c.action), expected);
  }
  GridSession unselected = full_hd_session(1.0);
  EXPECT_EQ(finish_with_action(unselected, GridAction::Left), Effects{});
  unselected.selected = 400;
  EXPECT_EQ(finish_with_action(unselected, GridAction::Left), Effects{});
}

TEST(GridSession, LeavingLevelRestoresParent) {
  GridSession session = full_hd_session(4.0);
  const GridLevel root = current_level(session);
  EXPECT_FALSE(leave_level(session));

  session.selected = cell_index(session, "ia");
  ASSERT_TRUE(descend(session));
  session.typed = "a";
  ASSERT_TRUE(leave_level(session));
  EXPECT_EQ(session.levels.size(), 1u);
  EXPECT_EQ(session.views.size(), 1u);
  EXPECT_EQ(current_level(session), root);
  EXPECT_EQ(current_view(session), std::nullopt);
  EXPECT_EQ(session.typed, "");
  EXPECT_FALSE(session.selected);
}

TEST(GridSession, StartCopiesConfigurationAndRequest) {
  Config config;
  config.grid.auto_descend = true;
  config.grid.max_depth = 6;
  config.grid.exit_on_scroll = true;
  config.grid.refinement_zoom = 3.0;

  auto session = start_grid_session(kFullHd, config, GridOptions{}, true);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->action, GridAction::Choose);
  EXPECT_TRUE(session->auto_descend);
  EXPECT_EQ(session->max_depth, 6);
  EXPECT_TRUE(session->exit_on_scroll);
  EXPECT_EQ(session->refinement_zoom, 3.0);
  EXPECT_EQ(session->max_cells, config.grid.max_cells);
  EXPECT_EQ(session->views.size(), 1u);
  EXPECT_TRUE(session->typed.empty());
  EXPECT_FALSE(session->selected);

  GridOptions options;
  options.action = GridAction::Right;
  options.auto_descend = false;
  options.max_depth = 2;
  session = start_grid_session(kFullHd, config, options, true);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->action, GridAction::Right);
  EXPECT_FALSE(session->auto_descend);
  EXPECT_EQ(session->max_depth, 2);
}

TEST(GridSession, StartWarnsOnlyWhenConfiguredZoomIsLost) {
  char path[] = "/tmp/tarvik-mode-log-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  // The logger owns the descriptor; this is the test program's only logger.
  ASSERT_TRUE(init_logging(LogLevel::Warn, fd));
  auto log_text = [&path] {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  const std::string warning = "screen capture unavailable; continuing without magnification";

  Config config;
  config.grid.refinement_zoom = 1.0;
  ASSERT_TRUE(start_grid_session(kFullHd, config, GridOptions{}, false));
  config.grid.refinement_zoom = 4.0;
  ASSERT_TRUE(start_grid_session(kFullHd, config, GridOptions{}, true));
  EXPECT_EQ(log_text().find(warning), std::string::npos) << log_text();

  ASSERT_TRUE(start_grid_session(kFullHd, config, GridOptions{}, false));
  const std::string text = log_text();
  EXPECT_NE(text.find(warning), std::string::npos) << text;
  EXPECT_NE(text.find("\"target\":\"tarvik::app\""), std::string::npos) << text;
  unlink(path);
}

TEST(GridSession, RootLayoutErrorFailsTheStart) {
  Config config;
  auto none = start_grid_session({}, config, GridOptions{}, true);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().message(), "grid needs at least one region");

  const std::vector<GridRegion> tiny{GridRegion{"eDP-1", 0, 0, 50, 50}};
  auto small = start_grid_session(tiny, config, GridOptions{}, true);
  ASSERT_FALSE(small);
  EXPECT_EQ(small.error(), GridLayoutError::region_too_small("eDP-1"));
}

TEST(GridSession, LensNeedsTheOutputInTheRootLevel) {
  // A cell naming an output the root does not cover has no extent to fit a lens in.
  GridSession session = full_hd_session(4.0);
  const GridCell stray{"DP-2", "zz", 0, 0, 96, 54};
  auto child = build_child_level(session, stray);
  ASSERT_TRUE(child && *child);
  EXPECT_EQ((*child)->view, std::nullopt);
  EXPECT_EQ((*child)->level.cells.size(), 4u);
}

}  // namespace
}  // namespace tarvik
