#include "mode/grid_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <set>

#include "mode_support.h"

namespace tarvik {
namespace {

using ::testing::ElementsAre;

constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

GridRegion output(std::string name, std::uint32_t width, std::uint32_t height) {
  return GridRegion{std::move(name), 0, 0, width, height};
}

TEST(GridLayout, MinimumTilesFitWithinCapacity) {
  std::vector regions{output("DP-1", 1920, 1080)};
  auto level = layout_grid(regions, 1000, 2, 80, 60);
  ASSERT_TRUE(level) << level.error().message();

  EXPECT_EQ(level->label_len, 2);
  ASSERT_EQ(level->cells.size(), 24u * 18u);
  EXPECT_EQ(level->cells[0], (GridCell{"DP-1", "aa", 0, 0, 80, 60}));
  EXPECT_EQ(level->cells[1], (GridCell{"DP-1", "ab", 80, 0, 80, 60}));
  EXPECT_EQ(level->cells[2], (GridCell{"DP-1", "ac", 160, 0, 80, 60}));
  EXPECT_EQ(level->cells.back(), (GridCell{"DP-1", "qp", 1840, 1020, 80, 60}));
  for (const GridCell& cell : level->cells) {
    EXPECT_EQ(cell.width, 80u);
    EXPECT_EQ(cell.height, 60u);
  }
}

TEST(GridLayout, ScaleSearchSettlesJustAboveTwo) {
  std::vector regions{output("DP-1", 1920, 1080)};
  auto level = layout_grid(regions, 100, 2, 80, 60);
  ASSERT_TRUE(level) << level.error().message();

  // At exactly twice the minimum there would be 12 x 9 = 108 cells, over the capacity.
  ASSERT_EQ(level->cells.size(), 11u * 8u);
  EXPECT_EQ(level->label_len, 2);
  for (const GridCell& cell : level->cells) {
    EXPECT_TRUE(cell.width == 174 || cell.width == 175) << cell.width;
    EXPECT_EQ(cell.height, 135u);
  }
  EXPECT_EQ(level->cells[10].x + level->cells[10].width, 1920u);
  EXPECT_EQ(level->cells[11].y, 135u);
}

TEST(GridLayout, RemainderPixelsGoToLaterCells) {
  std::vector regions{output("DP-1", 1000, 100)};
  auto level = layout_grid(regions, 100, 3, 300, 100);
  ASSERT_TRUE(level) << level.error().message();

  EXPECT_EQ(level->label_len, 1);
  EXPECT_THAT(level->cells, ElementsAre(GridCell{"DP-1", "a", 0, 0, 333, 100},
                                        GridCell{"DP-1", "b", 333, 0, 333, 100},
                                        GridCell{"DP-1", "c", 666, 0, 334, 100}));
}

// The label length is the smallest that can name every cell, and the capacity caps the cell
// count even when longer labels would allow more.
TEST(GridLayout, LabelLengthFollowsCellCount) {
  struct Case {
    std::uint32_t width;
    std::uint64_t capacity;
    std::uint8_t max_label_length;
    std::size_t cells;
    std::uint8_t label_len;
    std::string first;
    std::string last;
  };
  const Case cases[] = {
      {26, 1000, 2, 26, 1, "a", "z"},
      {27, 1000, 2, 27, 2, "aa", "ba"},
      {100, 26, 4, 26, 1, "a", "z"},
      {100, 1000, 1, 26, 1, "a", "z"},  // 26^1 is the effective capacity
      {676, 1000, 2, 676, 2, "aa", "zz"},
      {677, 1000, 3, 677, 3, "aaa", "baa"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width << " capacity " << c.capacity
                                    << " max_label_length " << int{c.max_label_length});
    std::vector regions{output("DP-1", c.width, 1)};
    auto level = layout_grid(regions, c.capacity, c.max_label_length, 1, 1);
    ASSERT_TRUE(level) << level.error().message();
    ASSERT_EQ(level->cells.size(), c.cells);
    EXPECT_EQ(level->label_len, c.label_len);
    EXPECT_EQ(level->cells.front().label, c.first);
    EXPECT_EQ(level->cells.back().label, c.last);
  }
}

TEST(GridLayout, CellsFollowRegionOrderAndLabelsContinueAcrossRegions) {
  std::vector regions{output("DP-1", 1920, 1080), GridRegion{"HDMI-A-1", 0, 0, 960, 540}};
  auto level = layout_grid(regions, 1000, 2, 80, 60);
  ASSERT_TRUE(level) << level.error().message();

  // 24 x 18 on the first output, 12 x 9 on the second, one scale for both.
  ASSERT_EQ(level->cells.size(), 432u + 108u);
  EXPECT_EQ(level->cells[431].output, "DP-1");
  // Index 432 is 16 * 26 + 16.
  EXPECT_EQ(level->cells[432], (GridCell{"HDMI-A-1", "qq", 0, 0, 80, 60}));
  EXPECT_EQ(level->cells.back(), (GridCell{"HDMI-A-1", "ut", 880, 480, 80, 60}));
}

TEST(GridLayout, OneScaleForAllRegions) {
  // At scale 4 there would be 10 x 10 + 5 x 5 = 125 cells; just above 4 the shared scale gives
  // 9 x 9 on the large output and 4 x 4 on the small one.
  std::vector regions{output("DP-1", 3840, 2160), output("DP-2", 1920, 1080)};
  auto level = layout_grid(regions, 100, 2, 96, 54);
  ASSERT_TRUE(level) << level.error().message();
  ASSERT_EQ(level->cells.size(), 81u + 16u);
  EXPECT_EQ(level->cells[80].output, "DP-1");
  EXPECT_EQ(level->cells[81], (GridCell{"DP-2", "dd", 0, 0, 480, 270}));
  EXPECT_EQ(level->cells[8].x + level->cells[8].width, 3840u);
  EXPECT_EQ(level->cells[9].y, 240u);
}

TEST(GridLayout, RegionNarrowerThanScaledTileGetsOneFullColumn) {
  // The wide output forces a large scale; the narrow one still gets a column of its full width.
  std::vector regions{output("DP-1", 4000, 100), GridRegion{"DP-2", 5, 7, 150, 100}};
  auto level = layout_grid(regions, 6, 2, 100, 100);
  ASSERT_TRUE(level) << level.error().message();
  ASSERT_EQ(level->cells.back().output, "DP-2");
  EXPECT_EQ(level->cells.back(), (GridCell{"DP-2", level->cells.back().label, 5, 7, 150, 100}));
  EXPECT_EQ(level->cells.size(), 6u);
}

TEST(GridLayout, ErrorsInCheckOrder) {
  struct Case {
    const char* what;
    std::vector<GridRegion> regions;
    std::uint64_t capacity;
    std::uint8_t max_label_length;
    std::uint32_t min_width;
    std::uint32_t min_height;
    GridLayoutError error;
  };
  const Case cases[] = {
      {"no regions, whatever else", {}, 0, 200, 0, 0, GridLayoutError::no_regions()},
      {"narrow region, before capacity and label length",
       {output("DP-1", 1920, 1080), output("DP-2", 79, 1080)},
       1,
       200,
       80,
       60,
       GridLayoutError::region_too_small("DP-2")},
      {"short region",
       {output("DP-1", 1920, 59)},
       1000,
       2,
       80,
       60,
       GridLayoutError::region_too_small("DP-1")},
      {"first small region is named",
       {output("A", 10, 10), output("B", 1, 1), output("C", 1, 1)},
       1000,
       2,
       5,
       5,
       GridLayoutError::region_too_small("B")},
      {"label length 14, before capacity",
       {output("DP-1", 1920, 1080), output("DP-2", 1920, 1080)},
       1,
       14,
       80,
       60,
       GridLayoutError::overflow()},
      {"two outputs, capacity 1",
       {output("DP-1", 1920, 1080), output("DP-2", 1920, 1080)},
       1,
       2,
       80,
       60,
       GridLayoutError::capacity_too_small(2, 1)},
      {"label length 0 caps the capacity at 1",
       {output("DP-1", 1920, 1080), output("DP-2", 1920, 1080)},
       1000,
       0,
       80,
       60,
       GridLayoutError::capacity_too_small(2, 1)},
      {"label length 0 names no cell", {output("DP-1", 1920, 1080)}, 1000, 0, 80, 60,
       GridLayoutError::overflow()},
      {"cell edge beyond 32 bits",
       {GridRegion{"DP-1", kMaxU32 - 999, 0, 1000, 100}},
       1000,
       3,
       100,
       100,
       GridLayoutError::overflow()},
      {"cells of one region beyond 32 bits", {output("DP-1", kMaxU32, 2)}, std::uint64_t{1} << 40,
       13, 1, 1, GridLayoutError::overflow()},
      {"no scale brings the count down",
       {output("DP-1", 100, 1)},
       10,
       3,
       0,
       1,
       GridLayoutError::overflow()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto level = layout_grid(c.regions, c.capacity, c.max_label_length, c.min_width, c.min_height);
    ASSERT_FALSE(level);
    EXPECT_EQ(level.error(), c.error);
    auto count =
        count_grid_cells(c.regions, c.capacity, c.max_label_length, c.min_width, c.min_height);
    ASSERT_FALSE(count);
    EXPECT_EQ(count.error(), c.error);
  }
}

TEST(GridLayout, ErrorTexts) {
  EXPECT_EQ(GridLayoutError::no_regions().message(), "grid needs at least one region");
  EXPECT_EQ(GridLayoutError::region_too_small("HDMI-A-1").message(),
            "region HDMI-A-1 is smaller than the configured minimum tile size");
  EXPECT_EQ(GridLayoutError::capacity_too_small(3, 2).message(),
            "3 outputs cannot fit within a capacity of 2 cells");
  EXPECT_EQ(GridLayoutError::overflow().message(), "grid dimensions overflow");
  EXPECT_EQ(GridLayoutError::capacity_too_small(3, 2).name(), "CapacityTooSmall");
}

TEST(GridLayout, DegenerateSizesStayWithinBounds) {
  // Without a minimum tile size a region of no width still gets a single (empty) cell.
  std::vector empty{output("DP-1", 0, 0)};
  auto level = layout_grid(empty, 10, 2, 0, 0);
  ASSERT_TRUE(level) << level.error().message();
  EXPECT_THAT(level->cells, ElementsAre(GridCell{"DP-1", "a", 0, 0, 0, 0}));

  // A region ending exactly at the 32-bit edge is fine.
  std::vector edge{GridRegion{"DP-1", kMaxU32 - 1000, kMaxU32 - 100, 1000, 100}};
  level = layout_grid(edge, 1000, 3, 100, 100);
  ASSERT_TRUE(level) << level.error().message();
  EXPECT_EQ(level->cells.back().x + level->cells.back().width, kMaxU32);
  EXPECT_EQ(level->cells.back().y + level->cells.back().height, kMaxU32);
}

// Checks, for one region's block of cells, that they tile it exactly in row-major order with
// neighbouring sizes differing by at most one pixel.
void expect_tiles_region(const GridRegion& region, std::span<const GridCell> cells) {
  ASSERT_FALSE(cells.empty());
  std::size_t columns = 0;
  while (columns < cells.size() && cells[columns].y == region.y) ++columns;
  ASSERT_GT(columns, 0u);
  ASSERT_EQ(cells.size() % columns, 0u);
  const std::size_t rows = cells.size() / columns;
  std::uint64_t top = region.y;
  for (std::size_t r = 0; r < rows; ++r) {
    std::uint64_t left = region.x;
    const std::uint32_t height = cells[r * columns].height;
    for (std::size_t c = 0; c < columns; ++c) {
      const GridCell& cell = cells[r * columns + c];
      ASSERT_EQ(cell.output, region.output);
      ASSERT_EQ(cell.x, left) << "row " << r << " column " << c;
      ASSERT_EQ(cell.y, top) << "row " << r << " column " << c;
      ASSERT_EQ(cell.height, height);
      ASSERT_LE(std::max(cell.width, cells[c].width) - std::min(cell.width, cells[c].width), 1u);
      left += cell.width;
    }
    ASSERT_EQ(left, std::uint64_t{region.x} + region.width);
    ASSERT_LE(std::max(height, cells[0].height) - std::min(height, cells[0].height), 1u);
    top += height;
  }
  ASSERT_EQ(top, std::uint64_t{region.y} + region.height);
}

TEST(GridLayout, RandomLayoutsTileRegionsWithDistinctLabels) {
  std::mt19937_64 random(20240611);
  auto pick = [&random](std::uint64_t low, std::uint64_t high) {
    return std::uniform_int_distribution<std::uint64_t>(low, high)(random);
  };
  int laid_out = 0;
  for (int round = 0; round < 2000; ++round) {
    std::vector<GridRegion> regions(pick(1, 4));
    for (std::size_t i = 0; i < regions.size(); ++i) {
      regions[i] = GridRegion{"out-" + std::to_string(i), std::uint32_t(pick(0, 5000)),
                              std::uint32_t(pick(0, 5000)), std::uint32_t(pick(1, 4000)),
                              std::uint32_t(pick(1, 3000))};
    }
    const auto capacity = pick(1, 3000);
    const auto max_label_length = std::uint8_t(pick(1, 4));
    const auto min_width = std::uint32_t(pick(1, 300));
    const auto min_height = std::uint32_t(pick(1, 300));
    SCOPED_TRACE(testing::Message() << "round " << round);

    auto level = layout_grid(regions, capacity, max_label_length, min_width, min_height);
    auto count = count_grid_cells(regions, capacity, max_label_length, min_width, min_height);
    if (!level) {
      ASSERT_FALSE(count);
      ASSERT_EQ(count.error(), level.error());
      ASSERT_NE(level.error().kind, GridLayoutError::Kind::Overflow);
      continue;
    }
    ++laid_out;
    ASSERT_TRUE(count);
    ASSERT_EQ(*count, level->cells.size());

    std::uint64_t effective = capacity;
    std::uint64_t power = 1;
    for (int i = 0; i < max_label_length; ++i) power *= 26;
    effective = std::min(effective, power);
    ASSERT_LE(level->cells.size(), effective);
    ASSERT_GE(level->cells.size(), regions.size());

    // One common length, the shortest that names every cell; strictly increasing labels are
    // distinct and follow the cell order.
    std::uint64_t shorter = 1;
    for (int i = 1; i < level->label_len; ++i) shorter *= 26;
    ASSERT_GT(level->cells.size(), level->label_len == 1 ? 0 : shorter);
    for (std::size_t i = 0; i < level->cells.size(); ++i) {
      const std::string& label = level->cells[i].label;
      ASSERT_EQ(label.size(), level->label_len);
      ASSERT_TRUE(label.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos);
      if (i > 0) {
        ASSERT_LT(level->cells[i - 1].label, label);
      }
    }

    std::size_t start = 0;
    for (const GridRegion& region : regions) {
      std::size_t end = start;
      while (end < level->cells.size() && level->cells[end].output == region.output) ++end;
      expect_tiles_region(region, std::span(level->cells).subspan(start, end - start));
      if (HasFatalFailure()) return;
      start = end;
    }
    ASSERT_EQ(start, level->cells.size());
  }
  // The seed must exercise layouts, not only refusals.
  EXPECT_GT(laid_out, 1000);
}

}  // namespace
}  // namespace tarvik
