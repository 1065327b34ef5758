#include "render/canvas.h"

#include <gtest/gtest.h>

#include <limits>

#include "render_support.h"

namespace tarvik {
namespace {

using testing::Pixel;
using testing::pixel_at;
using testing::premultiplied;

constexpr float nan = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();
const Color clear{0, 0, 0, 0};
const Color white{255, 255, 255, 255};

Canvas blank(std::uint32_t width, std::uint32_t height) {
  Canvas canvas = *Canvas::create(width, height);
  fill_canvas(canvas, clear);
  return canvas;
}

std::vector<std::uint8_t> bytes_of(const Canvas& canvas) {
  auto bytes = canvas.pixels();
  return {bytes.begin(), bytes.end()};
}

TEST(Canvas, ImpossibleSizesAreAllocationErrors) {
  struct Case {
    std::uint32_t width, height;
  };
  const Case impossible[] = {{0, 10}, {10, 0}, {0, 0}, {536870912, 1}, {4294967295u, 1},
                             {40000, 1}, {1, 40000}};
  for (const Case& c : impossible) {
    auto canvas = Canvas::create(c.width, c.height);
    ASSERT_FALSE(canvas) << c.width << "x" << c.height;
    EXPECT_EQ(canvas.error(), RenderError::allocation(c.width, c.height));
  }
  EXPECT_EQ(RenderError::allocation(536870912, 7).message(),
            "cannot allocate a 536870912x7 render buffer");
  EXPECT_EQ(RenderError::allocation(1, 2).name(), "Allocation");

  auto canvas = Canvas::create(3, 2);
  ASSERT_TRUE(canvas);
  EXPECT_EQ(canvas->pixels().size(), 3u * 2 * 4);
  for (std::uint8_t byte : canvas->pixels()) EXPECT_EQ(byte, 0);  // starts transparent
}

TEST(WithOpacity, ScalesOnlyTheAlphaRoundingHalfAwayFromZero) {
  struct Case {
    std::uint8_t alpha;
    float opacity;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {255, 0.5f, 128},  // 127.5
      {255, 1.0f, 255}, {255, 0.0f, 0},   {200, 2.0f, 200}, {200, -1.0f, 0},
      {200, nan, 0},     {200, inf, 200}, {51, 0.5f, 26},   {0, 1.0f, 0},
  };
  for (const Case& c : cases) {
    const Color out = with_opacity(Color{1, 2, 3, c.alpha}, c.opacity);
    EXPECT_EQ(out, (Color{1, 2, 3, c.expected})) << int(c.alpha) << " x " << c.opacity;
  }
}

TEST(FillCanvas, ReplacesEveryPixelWithThePremultipliedColour) {
  Canvas canvas = blank(5, 4);
  fill_canvas(canvas, white);
  const Color translucent{200, 100, 50, 128};
  fill_canvas(canvas, translucent);
  const Pixel expected{100, 50, 25, 128};
  EXPECT_EQ(premultiplied(translucent), expected);
  for (std::uint32_t y = 0; y < 4; ++y) {
    for (std::uint32_t x = 0; x < 5; ++x) EXPECT_EQ(pixel_at(canvas, x, y), expected);
  }
}

TEST(FillRect, CoversExactlyAPixelAlignedRectangle) {
  Canvas canvas = blank(10, 10);
  fill_rect(canvas, Color{255, 0, 0, 255}, 2, 3, 4, 5, 1.0f);
  for (std::uint32_t y = 0; y < 10; ++y) {
    for (std::uint32_t x = 0; x < 10; ++x) {
      const bool inside = x >= 2 && x < 6 && y >= 3 && y < 8;
      EXPECT_EQ(pixel_at(canvas, x, y), (inside ? Pixel{255, 0, 0, 255} : Pixel{}))
          << x << "," << y;
    }
  }
}

TEST(FillRect, BlendsSourceOverWithOpacityAndAntialiasesHalfPixels) {
  Canvas canvas = blank(10, 10);
  fill_canvas(canvas, Color{0, 0, 255, 255});
  fill_rect(canvas, Color{255, 0, 0, 255}, 2.5f, 0, 3, 10, 0.5f);
  const Pixel full = pixel_at(canvas, 3, 5);
  EXPECT_NEAR(full.r, 128, 1);
  EXPECT_NEAR(full.b, 127, 1);
  EXPECT_EQ(full.a, 255);
  const Pixel edge = pixel_at(canvas, 2, 5);  // half covered
  EXPECT_GT(edge.r, 40);
  EXPECT_LT(edge.r, 90);
  EXPECT_EQ(pixel_at(canvas, 1, 5), (Pixel{0, 0, 255, 255}));
}

TEST(Rectangles, DegenerateOnesAreSkipped) {
  struct Case {
    float x, y, width, height;
  };
  const Case degenerate[] = {{nan, 1, 4, 4}, {1, inf, 4, 4}, {1, 1, inf, 4}, {1, 1, 4, -nan},
                             {1, 1, -4, 4},  {1, 1, 4, -0.5f}, {-inf, 1, 4, 4}};
  for (const Case& c : degenerate) {
    Canvas canvas = blank(8, 8);
    fill_rect(canvas, white, c.x, c.y, c.width, c.height, 1.0f);
    stroke_rect(canvas, white, c.x, c.y, c.width, c.height, 2.0f);
    stroke_ellipse(canvas, white, c.x, c.y, c.width, c.height, 2.0f);
    EXPECT_EQ(bytes_of(canvas), bytes_of(blank(8, 8)))
        << c.x << " " << c.y << " " << c.width << " " << c.height;
  }
  // The canvas stays usable afterwards.
  Canvas canvas = blank(8, 8);
  fill_rect(canvas, white, nan, nan, nan, nan, 1.0f);
  stroke_rect(canvas, white, 1, 1, 4, 4, nan);
  fill_rect(canvas, white, 0, 0, 1, 1, 1.0f);
  EXPECT_EQ(pixel_at(canvas, 0, 0), (Pixel{255, 255, 255, 255}));
}

TEST(FillRect, EdgesFarOffTheCanvasStillCoverIt) {
  Canvas canvas = blank(8, 8);
  fill_rect(canvas, white, -1e7f, 2, 2e7f, 3, 1.0f);
  fill_rect(canvas, white, 5, -3e9f, 1, 6e9f, 1.0f);
  for (std::uint32_t y = 0; y < 8; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) {
      const bool covered = (y >= 2 && y < 5) || x == 5;
      EXPECT_EQ(pixel_at(canvas, x, y).a, covered ? 255 : 0) << x << "," << y;
    }
  }
  // Strokes that far out are not drawn at all rather than wrapped onto the canvas.
  Canvas strokes = blank(8, 8);
  stroke_rect(strokes, white, -1e7f, -1e7f, 2e7f, 2e7f, 2);
  stroke_ellipse(strokes, white, -1e7f, -1e7f, 2e7f, 2e7f, 2);
  EXPECT_EQ(bytes_of(strokes), bytes_of(blank(8, 8)));
}

TEST(FillRect, ZeroOpacityChangesNothing) {
  Canvas canvas = blank(6, 6);
  fill_canvas(canvas, Color{9, 8, 7, 200});
  const auto before = bytes_of(canvas);
  fill_rect(canvas, white, 0, 0, 6, 6, 0.0f);
  fill_rect(canvas, Color{255, 255, 255, 0}, 0, 0, 6, 6, 1.0f);
  EXPECT_EQ(bytes_of(canvas), before);
}

TEST(StrokeRect, CentresTheLineOnTheEdgesWithMiterCorners) {
  Canvas canvas = blank(40, 40);
  stroke_rect(canvas, white, 10, 10, 20, 20, 2);
  const Pixel on{255, 255, 255, 255};
  EXPECT_EQ(pixel_at(canvas, 9, 20), on);    // outer half of the left edge
  EXPECT_EQ(pixel_at(canvas, 10, 20), on);   // inner half
  EXPECT_EQ(pixel_at(canvas, 30, 20), on);   // right edge, outer half
  EXPECT_EQ(pixel_at(canvas, 8, 20), Pixel{});
  EXPECT_EQ(pixel_at(canvas, 11, 20), Pixel{});
  EXPECT_EQ(pixel_at(canvas, 20, 20), Pixel{});  // not filled
  // A miter join fills the outer corner square; a bevel or round join would not.
  EXPECT_EQ(pixel_at(canvas, 9, 9), on);
  EXPECT_EQ(pixel_at(canvas, 30, 30), on);
}

TEST(StrokeSegments, StrokesEverySegmentWithButtCaps) {
  Canvas canvas = blank(40, 40);
  const Segment segments[] = {{10, 5, 10, 25}, {0, 30, 40, 30}};
  stroke_segments(canvas, segments, white, 2);
  const Pixel on{255, 255, 255, 255};
  EXPECT_EQ(pixel_at(canvas, 9, 15), on);
  EXPECT_EQ(pixel_at(canvas, 10, 15), on);
  EXPECT_EQ(pixel_at(canvas, 11, 15), Pixel{});
  EXPECT_EQ(pixel_at(canvas, 10, 24), on);
  EXPECT_EQ(pixel_at(canvas, 10, 25), Pixel{});  // butt cap: nothing beyond the end
  EXPECT_EQ(pixel_at(canvas, 10, 4), Pixel{});
  EXPECT_EQ(pixel_at(canvas, 20, 29), on);
  EXPECT_EQ(pixel_at(canvas, 20, 30), on);
  // The gap between the segments stays empty: they are not joined into one polyline.
  EXPECT_EQ(pixel_at(canvas, 5, 27), Pixel{});
}

TEST(StrokeEllipse, DrawsTheInscribedRing) {
  Canvas canvas = blank(100, 100);
  stroke_ellipse(canvas, white, 34, 34, 32, 32, 2);
  for (auto [x, y] : {std::pair{65, 50}, {50, 34}, {34, 50}, {50, 65}}) {
    EXPECT_GT(pixel_at(canvas, x, y).a, 200) << x << "," << y;
  }
  EXPECT_EQ(pixel_at(canvas, 50, 50), Pixel{});
  EXPECT_EQ(pixel_at(canvas, 35, 35), Pixel{});  // inside the square, outside the ring
}

TEST(FillImage, ScalesByNearestNeighbourIntoTheTransformedRectangle) {
  // A 2 x 2 image of four colours, B, G, R, A bytes.
  const std::vector<std::uint8_t> image = {
      0, 0, 255, 255, /**/ 0, 255, 0, 255,  //
      255, 0, 0, 255, /**/ 255, 255, 255, 255};
  Canvas canvas = blank(20, 20);
  fill_image(canvas, ImageView{image, 2, 2}, 3, 2, 5, 4);
  const Pixel red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255},
      white_pixel{255, 255, 255, 255};
  for (std::uint32_t y = 0; y < 20; ++y) {
    for (std::uint32_t x = 0; x < 20; ++x) {
      Pixel expected{};
      if (x >= 5 && x < 11 && y >= 4 && y < 8) {
        const bool right = x >= 8;
        const bool lower = y >= 6;
        expected = lower ? (right ? white_pixel : blue) : (right ? green : red);
      }
      EXPECT_EQ(pixel_at(canvas, x, y), expected) << x << "," << y;
    }
  }
}

TEST(FillImage, RepeatsTheEdgeUnderFractionalScales) {
  const std::vector<std::uint8_t> image = {0, 0, 255, 255, /**/ 255, 0, 0, 255};
  Canvas canvas = blank(10, 3);
  // 2 pixels stretched to 7: every covered pixel is one of the two, never a blend or a gap.
  fill_image(canvas, ImageView{image, 2, 1}, 3.5, 3, 1, 0);
  for (std::uint32_t x = 1; x < 8; ++x) {
    const Pixel p = pixel_at(canvas, x, 1);
    EXPECT_TRUE(p == (Pixel{255, 0, 0, 255}) || p == (Pixel{0, 0, 255, 255})) << x;
  }
  EXPECT_EQ(pixel_at(canvas, 1, 1), (Pixel{255, 0, 0, 255}));
  EXPECT_EQ(pixel_at(canvas, 7, 1), (Pixel{0, 0, 255, 255}));
  EXPECT_EQ(pixel_at(canvas, 8, 1), Pixel{});
  EXPECT_EQ(pixel_at(canvas, 0, 1), Pixel{});
}

}  // namespace
}  // namespace tarvik
