#include "wayland/outputs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tarvik {
namespace {

OutputInfo described(std::string name, std::int32_t x, std::int32_t y, std::int32_t w,
                     std::int32_t h, std::int32_t scale = 1) {
  OutputInfo info;
  info.name = std::move(name);
  info.x = x;
  info.y = y;
  info.modes = {OutputMode{w / 2, h / 2, 30000, false}, OutputMode{w, h, 60000, true}};
  info.scale = scale;
  return info;
}

OutputInfo logical(std::string name, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h) {
  OutputInfo info = described(std::move(name), 0, 0, 100, 100);
  info.logical_position = std::pair{x, y};
  info.logical_size = std::pair{w, h};
  return info;
}

std::vector<OutputRecord> records(const std::vector<std::optional<OutputInfo>>& infos) {
  auto usable = usable_outputs(infos);
  EXPECT_TRUE(usable.has_value()) << usable.error();
  std::vector<OutputRecord> result;
  if (usable) {
    for (const auto& [record, index] : *usable) result.push_back(record);
  }
  return result;
}

TEST(UsableOutputs, SortsTopToBottomThenLeftToRightThenByName) {
  auto list = records({logical("DP-2", 1920, 0, 2560, 1440), logical("DP-1", 0, 0, 1920, 1080),
                       logical("HDMI-A-1", 0, -1080, 1920, 1080),
                       logical("DP-0", 1920, 0, 800, 600)});
  std::vector<OutputRecord> expected = {
      {"HDMI-A-1", 0, -1080, 1920, 1080},
      {"DP-1", 0, 0, 1920, 1080},
      {"DP-0", 1920, 0, 800, 600},
      {"DP-2", 1920, 0, 2560, 1440},
  };
  EXPECT_EQ(list, expected);
}

TEST(UsableOutputs, KeepsTheIndexOfTheDescriptionEachRecordCameFrom) {
  auto usable = usable_outputs({logical("B", 100, 0, 10, 10), std::nullopt,
                                logical("A", 0, 0, 10, 10)});
  ASSERT_TRUE(usable);
  ASSERT_EQ(usable->size(), 2u);
  EXPECT_EQ((*usable)[0].second, 2u);
  EXPECT_EQ((*usable)[1].second, 0u);
}

// Without xdg-output the size comes from the current mode and the integer scale.
TEST(UsableOutputs, DerivesTheLogicalSizeFromTheCurrentModeAndScale) {
  struct Case {
    std::int32_t width, height, scale;
    std::int32_t logical_width, logical_height;
  };
  for (const Case& c : std::vector<Case>{{2560, 1440, 2, 1280, 720},
                                         {3840, 2160, 2, 1920, 1080},
                                         {3840, 2160, 3, 1280, 720},
                                         {1920, 1080, 1, 1920, 1080},
                                         {1920, 1080, 0, 1920, 1080},
                                         {1921, 1081, 2, 960, 540}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " scale " << c.scale);
    auto list = records({described("DP-1", 10, 20, c.width, c.height, c.scale)});
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], (OutputRecord{"DP-1", 10, 20, c.logical_width, c.logical_height}));
  }
}

TEST(UsableOutputs, PrefersTheLogicalDescriptionOverModeAndGeometry) {
  OutputInfo info = described("DP-1", 5, 5, 3840, 2160, 2);
  info.logical_position = std::pair{-1000, 40};
  info.logical_size = std::pair{2560, 1440};  // a fractional scale of 1.5
  EXPECT_EQ(records({info}), (std::vector<OutputRecord>{{"DP-1", -1000, 40, 2560, 1440}}));
}

TEST(UsableOutputs, LeavesOutUnnamedModelessAndEmptyOutputs) {
  OutputInfo unnamed = described("x", 0, 0, 800, 600);
  unnamed.name.reset();
  OutputInfo no_current = described("NOMODE", 0, 0, 800, 600);
  for (auto& mode : no_current.modes) mode.current = false;
  OutputInfo zero_width = logical("ZERO", 0, 0, 0, 600);
  OutputInfo negative = logical("NEG", 0, 0, 800, -1);
  OutputInfo good = logical("GOOD", 0, 0, 800, 600);
  EXPECT_EQ(records({unnamed, no_current, std::nullopt, zero_width, negative, good}),
            (std::vector<OutputRecord>{{"GOOD", 0, 0, 800, 600}}));
}

TEST(UsableOutputs, FailsWhenNoOutputIsUsable) {
  OutputInfo unnamed = described("x", 0, 0, 800, 600);
  unnamed.name.reset();
  for (const auto& infos : std::vector<std::vector<std::optional<OutputInfo>>>{
           {}, {std::nullopt}, {unnamed}, {logical("ZERO", 0, 0, 0, 0)}}) {
    auto usable = usable_outputs(infos);
    ASSERT_FALSE(usable);
    EXPECT_EQ(usable.error(), "no Wayland output supplied usable geometry");
  }
}

TEST(SameLayout, IgnoresRefreshButNotPositionSizeNameOrCount) {
  OutputInfo base = described("DP-1", 0, 0, 1920, 1080);
  OutputInfo refresh = base;
  refresh.modes[1].refresh = 144000;
  EXPECT_TRUE(same_layout(records({base}), records({refresh})));

  OutputInfo moved = base;
  moved.x = 1;
  OutputInfo renamed = base;
  renamed.name = "DP-2";
  OutputInfo resized = described("DP-1", 0, 0, 1280, 1024);
  EXPECT_FALSE(same_layout(records({base}), records({moved})));
  EXPECT_FALSE(same_layout(records({base}), records({renamed})));
  EXPECT_FALSE(same_layout(records({base}), records({resized})));
  EXPECT_FALSE(same_layout(records({base}), records({base, logical("DP-2", 1920, 0, 10, 10)})));
}

}  // namespace
}  // namespace tarvik
