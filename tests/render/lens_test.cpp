#include "render/lens.h"

#include <gtest/gtest.h>

#include "render_support.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::Pixel;
using testing::pixel_at;
using Clock = std::chrono::steady_clock;

LensAnimation animation_from(Rect start, Rect target, std::chrono::milliseconds duration) {
  LensAnimation animation;
  animation.output = "DP-1";
  animation.source = Rect{768, 540, 96, 54};
  animation.start = start;
  animation.target = target;
  animation.started_at = Clock::time_point{} + 1s;
  animation.duration = duration;
  animation.frame_interval = 15ms;
  return animation;
}

std::optional<LensView> view_of(const LensAnimation& animation) {
  return LensView{animation.output, animation.source, animation.target};
}

TEST(AnimationStep, EasesOutCubicallyFromStartToTarget) {
  const Rect start{0, 100, 96, 54};
  const Rect target{12, 20, 384, 216};
  const LensAnimation animation = animation_from(start, target, 120ms);
  struct Case {
    Clock::duration elapsed;
    Rect lens;
    float progress;
    bool finished;
  };
  // At half time e = 1 - 0.5^3 = 0.875: x = 10.5 rounds away from zero to 11.
  const Case cases[] = {
      {-5ms, start, 0.0f, false},
      {0ms, start, 0.0f, false},
      {60ms, Rect{11, 30, 348, 196}, 0.875f, false},
      {120ms, target, 1.0f, true},
      {10s, target, 1.0f, true},
  };
  for (const Case& c : cases) {
    auto frame = animation_step(animation, view_of(animation), animation.started_at + c.elapsed);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->view.lens, c.lens) << c.elapsed.count();
    EXPECT_FLOAT_EQ(frame->progress, c.progress);
    EXPECT_EQ(frame->finished, c.finished);
    EXPECT_EQ(frame->view.source, animation.source);  // not animated
    EXPECT_EQ(frame->view.output, "DP-1");
  }
}

TEST(AnimationStep, ZeroDurationEndsAsSoonAsTimePassesAndSizesStayPositive) {
  const LensAnimation instant = animation_from(Rect{5, 5, 0, 0}, Rect{9, 9, 40, 30}, 0ms);
  auto frame = animation_step(instant, view_of(instant), instant.started_at + 1ms);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(frame->finished);
  EXPECT_EQ(frame->view.lens, (Rect{9, 9, 40, 30}));

  const LensAnimation shrinking = animation_from(Rect{5, 5, 0, 0}, Rect{9, 9, 40, 30}, 100ms);
  frame = animation_step(shrinking, view_of(shrinking), shrinking.started_at);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->view.lens, (Rect{5, 5, 1, 1}));
}

TEST(AnimationStep, AppliesOnlyWhileTheCurrentViewIsItsTarget) {
  const LensAnimation animation = animation_from(Rect{0, 0, 96, 54}, Rect{8, 8, 384, 216}, 120ms);
  const LensView exact = *view_of(animation);
  LensView other_output = exact;
  other_output.output = "HDMI-A-1";
  LensView other_source = exact;
  other_source.source.x += 1;
  LensView other_lens = exact;
  other_lens.lens.width -= 1;
  const std::optional<LensView> stale[] = {std::nullopt, other_output, other_source, other_lens};
  for (const auto& view : stale) {
    EXPECT_FALSE(animation_step(animation, view, animation.started_at + 10ms));
  }
  EXPECT_TRUE(animation_step(animation, exact, animation.started_at + 10ms));
}

TEST(LensFrames, FewerFramesOnLargerOutputsAndNeverCloserThanEightMilliseconds) {
  struct Case {
    std::optional<std::uint64_t> area;
    std::chrono::milliseconds duration;
    unsigned frames;
    std::chrono::nanoseconds interval;
  };
  const Case cases[] = {
      {1920ull * 1080, 120ms, 8, 15ms},       {3840ull * 2160, 120ms, 6, 20ms},
      {2560ull * 1440, 120ms, 8, 15ms},       {2560ull * 1440 + 1, 120ms, 6, 20ms},
      {3840ull * 2160 + 1, 120ms, 4, 30ms},   {std::nullopt, 120ms, 8, 15ms},
      {1920ull * 1080, 40ms, 8, 8ms},         {7680ull * 4320, 40ms, 4, 10ms},
      {3840ull * 2160, 100ms, 6, 16666666ns}, {1920ull * 1080, 0ms, 8, 8ms},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lens_frame_count(c.area), c.frames);
    EXPECT_EQ(lens_frame_interval(c.duration, c.area), c.interval)
        << c.duration.count() << "ms over " << c.area.value_or(0);
  }
}

// A capture whose pixel (x, y) is R = x, G = y, B = 7, A = 255.
HeldCapture coordinate_capture(std::uint32_t width, std::uint32_t height,
                               std::uint32_t logical_width, std::uint32_t logical_height) {
  HeldCapture capture;
  capture.width = width;
  capture.height = height;
  capture.logical_width = logical_width;
  capture.logical_height = logical_height;
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      capture.pixels.insert(capture.pixels.end(), {static_cast<std::uint8_t>(x),
                                                   static_cast<std::uint8_t>(y), 7, 255});
    }
  }
  return capture;
}

TEST(LensCrop, ConvertsTheSourceIntoCapturePixels) {
  const HeldCapture same = coordinate_capture(64, 48, 64, 48);
  const HeldCapture doubled = coordinate_capture(128, 96, 64, 48);
  const HeldCapture uneven = coordinate_capture(96, 72, 64, 48);
  struct Case {
    const HeldCapture* capture;
    Rect source;
    std::optional<CaptureCrop> crop;
  };
  const Case cases[] = {
      {&same, Rect{8, 4, 16, 10}, CaptureCrop{8, 4, 16, 10}},
      {&doubled, Rect{8, 4, 16, 10}, CaptureCrop{16, 8, 32, 20}},
      {&uneven, Rect{3, 3, 5, 5}, CaptureCrop{4, 4, 8, 8}},    // 4.5 .. 12 rounds down
      {&same, Rect{8, 4, 0, 0}, CaptureCrop{8, 4, 1, 1}},      // at least one pixel
      {&same, Rect{60, 40, 20, 20}, CaptureCrop{60, 40, 4, 8}},  // limited to the capture
      {&same, Rect{63, 47, 4294967295u, 4294967295u}, CaptureCrop{63, 47, 1, 1}},  // saturates
      {&same, Rect{64, 0, 4, 4}, std::nullopt},                // starts outside
      {&same, Rect{0, 48, 4, 4}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(lens_crop(c.source, *c.capture), c.crop)
        << c.source.x << "," << c.source.y << " " << c.source.width << "x" << c.source.height;
  }
}

TEST(LensCrop, InconsistentCapturesServeNoLens) {
  HeldCapture no_width = coordinate_capture(4, 4, 4, 4);
  no_width.width = 0;
  HeldCapture no_height = coordinate_capture(4, 4, 4, 4);
  no_height.height = 0;
  HeldCapture short_pixels = coordinate_capture(4, 4, 4, 4);
  short_pixels.pixels.pop_back();
  HeldCapture too_wide = coordinate_capture(1, 1, 4, 4);
  too_wide.width = 536870912;
  HeldCapture unknown_logical = coordinate_capture(4, 4, 0, 0);  // treated as 1 x 1
  for (const HeldCapture* capture : {&no_width, &no_height, &short_pixels, &too_wide}) {
    EXPECT_EQ(lens_crop(Rect{0, 0, 2, 2}, *capture), std::nullopt);
    Canvas canvas = *Canvas::create(8, 8);
    draw_lens_image(canvas, LensView{"DP-1", Rect{0, 0, 2, 2}, Rect{0, 0, 8, 8}}, *capture);
    for (std::uint8_t byte : canvas.pixels()) ASSERT_EQ(byte, 0);
  }
  EXPECT_EQ(lens_crop(Rect{0, 0, 1, 1}, unknown_logical), (CaptureCrop{0, 0, 4, 4}));
}

// Draws the lens of `view` from `capture` and checks every lens pixel against the capture
// pixel nearest-neighbour sampling must pick, and that nothing outside the lens changed.
void expect_lens(const HeldCapture& capture, const LensView& view, std::uint32_t crop_x,
                 std::uint32_t crop_y, std::uint32_t step_x, std::uint32_t step_y,
                 std::uint32_t repeat) {
  Canvas canvas = *Canvas::create(40, 30);
  draw_lens_image(canvas, view, capture);
  const Rect& lens = view.lens;
  for (std::uint32_t y = 0; y < 30; ++y) {
    for (std::uint32_t x = 0; x < 40; ++x) {
      const Pixel p = pixel_at(canvas, x, y);
      if (x < lens.x || y < lens.y || x >= lens.x + lens.width || y >= lens.y + lens.height) {
        ASSERT_EQ(p, Pixel{}) << x << "," << y;
        continue;
      }
      const std::uint32_t sx = crop_x + (x - lens.x) / repeat * step_x;
      const std::uint32_t sy = crop_y + (y - lens.y) / repeat * step_y;
      ASSERT_EQ(p, (Pixel{static_cast<std::uint8_t>(sx), static_cast<std::uint8_t>(sy), 7, 255}))
          << "lens pixel " << x << "," << y;
    }
  }
}

TEST(DrawLensImage, SamplesTheSourceBlockNearestNeighbourIntoTheLens) {
  // Logical source (2, 3, 4 x 2) enlarged twice at (10, 10): each capture pixel twice.
  const LensView view{"DP-1", Rect{2, 3, 4, 2}, Rect{10, 10, 8, 4}};
  expect_lens(coordinate_capture(20, 15, 20, 15), view, 2, 3, 1, 1, 2);
  // On a scale-2 output the same source is an 8 x 4 block at (4, 6): one capture pixel each.
  expect_lens(coordinate_capture(40, 30, 20, 15), view, 4, 6, 1, 1, 1);
  // Drawn smaller than the block: every other capture pixel.
  expect_lens(coordinate_capture(40, 30, 20, 15), LensView{"DP-1", Rect{2, 3, 4, 2},
                                                          Rect{1, 1, 4, 2}},
              4, 6, 2, 2, 1);
}

}  // namespace
}  // namespace tarvik
