#include "wayland/globals.h"

#include <gtest/gtest.h>

#include <vector>

#include "wayland/wayland_display.h"

namespace tarvik {
namespace {

const std::vector<GlobalEntry> advertised = {
    {1, "wl_compositor", 6},
    {2, "zwlr_virtual_pointer_manager_v1", 1},
    {3, "wl_seat", 9},
    {4, "wl_seat", 3},
    {5, "zwlr_screencopy_manager_v1", 3},
    {6, "wl_shm", 0},
};

TEST(ChooseVersion, CapsTheAdvertisedVersionOrExplainsWhyNot) {
  struct Case {
    const char* interface;
    std::uint32_t min, max, known;
    std::expected<std::uint32_t, std::string> expected;
  };
  const std::vector<Case> cases = {
      {"wl_compositor", 1, 6, 6, 6u},
      {"wl_compositor", 1, 4, 6, 4u},
      {"wl_compositor", 1, 6, 5, 5u},  // what the generated code knows
      {"zwlr_virtual_pointer_manager_v1", 2, 2, 2,
       std::unexpected(std::string("the requested version of the global is not supported"))},
      {"zwlr_screencopy_manager_v1", 3, 3, 3, 3u},
      {"wl_seat", 1, 10, 8, 8u},  // the first advertisement counts
      {"wl_shm", 1, 1, 1,
       std::unexpected(std::string("the requested version of the global is not supported"))},
      {"zwlr_layer_shell_v1", 1, 4, 4,
       std::unexpected(std::string("the requested global was not found in the registry"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interface);
    EXPECT_EQ(choose_version(advertised, c.interface, c.min, c.max, c.known), c.expected);
  }
}

TEST(PointerOutput, MapsButtonsToLinuxCodes) {
  EXPECT_EQ(button_code(PointerButton::Left), 272u);
  EXPECT_EQ(button_code(PointerButton::Middle), 274u);
  EXPECT_EQ(button_code(PointerButton::Right), 273u);
}

TEST(PointerOutput, RoundsScrollAmountsToAtLeastOneNotch) {
  struct Case {
    double amount;
    std::int32_t notches;
  };
  for (const Case& c : std::vector<Case>{{15, 1},
                                         {45, 3},
                                         {5, 1},
                                         {7, 1},
                                         {7.5, 1},
                                         {22.5, 2},
                                         {22.4, 1},
                                         {37.5, 3},
                                         {0, 1},
                                         {-30, 1},
                                         {1e300, 2147483647},
                                         {std::numeric_limits<double>::quiet_NaN(), 1}}) {
    EXPECT_EQ(scroll_notches(c.amount), c.notches) << c.amount;
  }
}

}  // namespace
}  // namespace tarvik
