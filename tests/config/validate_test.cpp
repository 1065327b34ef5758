#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config.h"
#include "config_support.h"

namespace tarvik {
namespace {

using config_testing::validation_message;

const std::string kTiles = "minimum tile dimensions must be positive";
const std::string kLabel = "max_label_length must be between 1 and 4";
const std::string kZoom = "refinement_zoom must be a finite value between 1 and 32";
const std::string kDepth = "max_depth must be positive and max_cells must be between 2 and 65536";
const std::string kOpacity = "unmatched_opacity must be between 0 and 1";
const std::string kLens =
    "lens opacities must be between 0 and 1, lens_border_width must be positive, and "
    "lens_animation_ms must not exceed 1000";
const std::string kMotion = "invalid motion speed or tick rate";
const std::string kScroll = "scroll steps must be positive finite values";
const std::string kMouse = "mouse bindings must be non-empty and unique";

struct RuleCase {
  std::string toml;
  std::string message;  // "" when the file loads
};

void expect_cases(const std::vector<RuleCase>& cases) {
  for (const auto& c : cases) EXPECT_EQ(validation_message(c.toml), c.message) << c.toml;
}

TEST(Validation, TileDimensions) {
  expect_cases({
      {"[grid]\nroot_min_tile_width = 0", kTiles},
      {"[grid]\nroot_min_tile_height = 0", kTiles},
      {"[grid]\nmin_tile_width = 0", kTiles},
      {"[grid]\nmin_tile_height = 0", kTiles},
      {"[grid]\nroot_min_tile_width = 1\nroot_min_tile_height = 1\nmin_tile_width = 1\n"
       "min_tile_height = 1",
       ""},
      {"[grid]\nroot_min_tile_width = 4294967295", ""},
  });
}

TEST(Validation, LabelLengthZoomDepthAndCells) {
  expect_cases({
      {"[grid]\nmax_label_length = 0", kLabel},
      {"[grid]\nmax_label_length = 1", ""},
      {"[grid]\nmax_label_length = 4", ""},
      {"[grid]\nmax_label_length = 5", kLabel},
      {"[grid]\nrefinement_zoom = 0.999", kZoom},
      {"[grid]\nrefinement_zoom = 1", ""},
      {"[grid]\nrefinement_zoom = 32", ""},
      {"[grid]\nrefinement_zoom = 32.5", kZoom},
      {"[grid]\nrefinement_zoom = nan", kZoom},
      {"[grid]\nrefinement_zoom = inf", kZoom},
      {"[grid]\nrefinement_zoom = -inf", kZoom},
      {"[grid]\nmax_depth = 0", kDepth},
      {"[grid]\nmax_depth = 1", ""},
      {"[grid]\nmax_depth = 255", ""},
      {"[grid]\nmax_cells = 1", kDepth},
      {"[grid]\nmax_cells = 2", ""},
      {"[grid]\nmax_cells = 65536", ""},
      {"[grid]\nmax_cells = 65537", kDepth},
      {"[grid]\nmax_cells = 0", kDepth},
      {"[grid]\nmax_cells = 9223372036854775807", kDepth},
  });
}

TEST(Validation, UnmatchedOpacity) {
  expect_cases({
      {"[grid]\nunmatched_opacity = 0", ""},
      {"[grid]\nunmatched_opacity = 1", ""},
      {"[grid]\nunmatched_opacity = -0.01", kOpacity},
      {"[grid]\nunmatched_opacity = 1.01", kOpacity},
      {"[grid]\nunmatched_opacity = nan", kOpacity},
      {"[grid]\nunmatched_opacity = inf", kOpacity},
  });
}

TEST(Validation, Lens) {
  expect_cases({
      {"[ui]\nlens_scrim_opacity = 0\nlens_cell_opacity = 1", ""},
      {"[ui]\nlens_scrim_opacity = 1\nlens_cell_opacity = 0", ""},
      {"[ui]\nlens_scrim_opacity = -0.1", kLens},
      {"[ui]\nlens_scrim_opacity = 1.1", kLens},
      {"[ui]\nlens_scrim_opacity = nan", kLens},
      {"[ui]\nlens_cell_opacity = 1.5", kLens},
      {"[ui]\nlens_cell_opacity = -inf", kLens},
      {"[ui]\nlens_border_width = 0", kLens},
      {"[ui]\nlens_border_width = -1", kLens},
      {"[ui]\nlens_border_width = inf", kLens},
      {"[ui]\nlens_border_width = nan", kLens},
      {"[ui]\nlens_border_width = 0.1", ""},
      // Beyond a 32-bit float's range a width saturates to infinity, which is not finite.
      {"[ui]\nlens_border_width = 1e300", kLens},
      {"[ui]\nlens_animation_ms = 0", ""},
      {"[ui]\nlens_animation_ms = 1000", ""},
      {"[ui]\nlens_animation_ms = 1001", kLens},
  });
}

TEST(Validation, Motion) {
  expect_cases({
      {"[motion]\ninitial_speed = 0", kMotion},
      {"[motion]\ninitial_speed = -1", kMotion},
      {"[motion]\ninitial_speed = 2000", kMotion},
      {"[motion]\ninitial_speed = 1800", ""},
      {"[motion]\ninitial_speed = 0.001", ""},
      {"[motion]\ninitial_speed = inf\nmax_speed = inf", kMotion},
      {"[motion]\ninitial_speed = nan", kMotion},
      {"[motion]\nmax_speed = nan", kMotion},
      {"[motion]\nacceleration = 0", ""},
      {"[motion]\nacceleration = -1", kMotion},
      {"[motion]\nacceleration = inf", kMotion},
      {"[motion]\ntick_hz = 29", kMotion},
      {"[motion]\ntick_hz = 30", ""},
      {"[motion]\ntick_hz = 1000", ""},
      {"[motion]\ntick_hz = 1001", kMotion},
  });
}

TEST(Validation, ScrollSteps) {
  expect_cases({
      {"[scroll]\nvertical_step = -5", kScroll},
      {"[scroll]\nvertical_step = 0", kScroll},
      {"[scroll]\nvertical_step = inf", kScroll},
      {"[scroll]\nhorizontal_step = nan", kScroll},
      {"[scroll]\nhorizontal_step = -0.0", kScroll},
      {"[scroll]\nvertical_step = 0.5\nhorizontal_step = 1e300", ""},
  });
}

TEST(Validation, MouseBindingsOnly) {
  expect_cases({
      {"[bindings.mouse]\nup = \"h\"", kMouse},
      {"[bindings.mouse]\ncancel = \"\"", kMouse},
      {"[bindings.mouse]\nscroll_right = \"Escape\"", kMouse},
      // Compared byte for byte: case matters.
      {"[bindings.mouse]\nup = \"H\"", ""},
      // Grid bindings may be empty, repeat each other, or equal mouse keys.
      {"[bindings.grid]\nleft_click = \"h\"\nback = \"\"\ncancel = \"h\"\nmove_only = \"h\"", ""},
  });
}

// Every rule broken at once; repairing them one at a time must reveal the messages in order.
TEST(Validation, ReportsOnlyTheFirstBrokenRule) {
  Config config;
  config.grid.min_tile_width = 0;
  config.grid.max_label_length = 9;
  config.grid.refinement_zoom = 0.5;
  config.grid.max_cells = 1;
  config.grid.unmatched_opacity = 2.0f;
  config.ui.lens_animation_ms = 5000;
  config.motion.tick_hz = 1;
  config.scroll.vertical_step = -1.0;
  config.bindings.mouse.up = config.bindings.mouse.down;

  const std::vector<std::pair<std::string, std::function<void(Config&)>>> repairs = {
      {kTiles, [](Config& c) { c.grid.min_tile_width = 16; }},
      {kLabel, [](Config& c) { c.grid.max_label_length = 3; }},
      {kZoom, [](Config& c) { c.grid.refinement_zoom = 1.0; }},
      {kDepth, [](Config& c) { c.grid.max_cells = 4096; }},
      {kOpacity, [](Config& c) { c.grid.unmatched_opacity = 0.5f; }},
      {kLens, [](Config& c) { c.ui.lens_animation_ms = 100; }},
      {kMotion, [](Config& c) { c.motion.tick_hz = 60; }},
      {kScroll, [](Config& c) { c.scroll.vertical_step = 1.0; }},
      {kMouse, [](Config& c) { c.bindings.mouse.up = "k"; }},
  };
  for (const auto& [message, repair] : repairs) {
    const auto result = validate(config);
    ASSERT_FALSE(result.has_value()) << "expected " << message;
    EXPECT_EQ(result.error(), message);
    repair(config);
  }
  EXPECT_TRUE(validate(config).has_value());
}

TEST(Validation, FailureIsReportedWithoutPathOrLocation) {
  const auto loaded = config_testing::load_text("[grid]\nmin_tile_width = 0\nmax_label_length = 9\n");
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Validation);
  EXPECT_EQ(loaded.error().message(), "invalid config: " + kTiles);
}

}  // namespace
}  // namespace tarvik
