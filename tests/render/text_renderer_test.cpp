#include "render/text_renderer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "render_support.h"

namespace tarvik {
namespace {

using testing::embedded_text;
using testing::Pixel;
using testing::pixel_at;

constexpr const char* proportional_font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::filesystem::path scratch_dir() {
  const auto dir = std::filesystem::path(TARVIK_BINARY_DIR) / "render-scratch" /
                   std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  return dir;
}

TEST(SizeKey, QuantisesToSixtyFourthsOfAPixelAndNeverBelowOnePixel) {
  struct Case {
    float size;
    std::uint32_t key;
  };
  const Case cases[] = {
      {14.0f, 896},
      {14.01f, 897},
      {0.5f, 64},
      {-3.0f, 64},
      {std::numeric_limits<float>::quiet_NaN(), 64},
      {1.0078125f, 65},  // 64.5 rounds away from zero
      {1e30f, 4294967295u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(size_key(c.size), c.key) << "size " << c.size;
  }
}

TEST(LoadTextRenderer, UnusableFontFilesFallBackWithTheirWarning) {
  const auto dir = scratch_dir();
  const std::string not_a_font = (dir / "notes.ttf").string();
  std::ofstream(not_a_font) << "these are not the glyphs you are looking for\n";
  const std::string missing = (dir / "missing.ttf").string();
  const std::string directory = dir.string();

  struct Case {
    std::string path;
    std::string warning;
  };
  const std::string fallback = "; using embedded fallback";
  const Case cases[] = {
      {missing, "cannot read font " + missing +
                    ": No such file or directory (os error 2)" + fallback},
      {directory, "cannot read font " + directory + ": Is a directory (os error 21)" + fallback},
      // A device that never ends is cut off rather than read until memory runs out.
      {"/dev/zero", "cannot read font /dev/zero: File too large (os error 27)" + fallback},
  };
  for (const Case& c : cases) {
    auto loaded = load_text_renderer(c.path);
    ASSERT_TRUE(loaded) << c.path;
    EXPECT_EQ(loaded->warning, c.warning);
    EXPECT_TRUE(loaded->renderer.uses_fallback());
    // The fallback really draws: a label letter has a bitmap.
    EXPECT_GT(loaded->renderer.glyph(U'a', 896).coverage.size(), 0u);
  }

  // The parser's own words sit between the path and the fallback notice. A FIFO without a
  // writer reads as empty instead of blocking.
  const std::string fifo = (dir / "font.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {not_a_font, fifo}) {
    auto loaded = load_text_renderer(path);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(loaded->warning);
    const std::string prefix = "cannot parse font " + path + ": ";
    const std::string& warning = *loaded->warning;
    EXPECT_TRUE(warning.starts_with(prefix)) << warning;
    EXPECT_TRUE(warning.ends_with(fallback)) << warning;
    EXPECT_GT(warning.size(), prefix.size() + fallback.size()) << warning;
    EXPECT_TRUE(loaded->renderer.uses_fallback());
  }
  std::filesystem::remove(fifo);
}

TEST(LoadTextRenderer, UsesTheConfiguredFontWithoutWarning) {
  ASSERT_TRUE(std::filesystem::exists(proportional_font));
  config::Ui ui;
  ui.font_path = proportional_font;
  auto loaded = load_text_renderer(ui);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->warning, std::nullopt);
  EXPECT_FALSE(loaded->renderer.uses_fallback());
  // A proportional face tells itself apart from the monospace fallback.
  EXPECT_LT(loaded->renderer.measure_text("i", 20), loaded->renderer.measure_text("m", 20));

  TextRenderer fallback = embedded_text();
  EXPECT_TRUE(fallback.uses_fallback());
  EXPECT_EQ(fallback.measure_text("i", 20), fallback.measure_text("m", 20));
}

TEST(LoadTextRenderer, AnUnparsableEmbeddedFontIsInvalidFallback) {
  const std::uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const std::optional<std::string>& path :
       {std::optional<std::string>{}, std::optional<std::string>{"/nonexistent/font.ttf"}}) {
    auto loaded = load_text_renderer(path, garbage);
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().kind, RenderError::Kind::InvalidFallback);
    EXPECT_EQ(loaded.error().name(), "InvalidFallback");
    EXPECT_FALSE(loaded.error().parser_message.empty());
    EXPECT_EQ(loaded.error().message(),
              "embedded fallback font is invalid: " + loaded.error().parser_message);
  }
}

TEST(Glyph, IsRasterisedOncePerCharacterAndSizeKey) {
  TextRenderer text = embedded_text();
  const CachedGlyph& first = text.glyph(U'a', 896);
  EXPECT_EQ(text.cached_glyphs(), 1u);
  EXPECT_EQ(&text.glyph(U'a', 896), &first);
  EXPECT_EQ(text.cached_glyphs(), 1u);
  text.glyph(U'a', size_key(14.01f));
  text.glyph(U'b', 896);
  EXPECT_EQ(text.cached_glyphs(), 3u);
  // Measuring and drawing go through the same cache.
  text.measure_text("ab", 14.0f);
  EXPECT_EQ(text.cached_glyphs(), 3u);
}

TEST(Glyph, MetricsDescribeTheBitmapFromItsTopRow) {
  TextRenderer text = embedded_text();
  const std::uint32_t key = size_key(40);
  const CachedGlyph& t = text.glyph(U'T', key);
  ASSERT_GT(t.width, 0u);
  ASSERT_GT(t.height, 0u);
  ASSERT_EQ(t.coverage.size(), t.width * t.height);
  EXPECT_GT(t.advance, 0);
  EXPECT_GE(t.ymin, 0);  // sits on the baseline
  const auto row_ink = [&](std::size_t row) {
    unsigned sum = 0;
    for (std::size_t k = 0; k < t.width; ++k) sum += t.coverage[row * t.width + k];
    return sum;
  };
  // The crossbar is the first row, the stem alone the last.
  EXPECT_GT(row_ink(0), 2 * row_ink(t.height - 1));

  const CachedGlyph& g = text.glyph(U'g', key);
  EXPECT_LT(g.ymin, 0);  // the descender reaches below the baseline
}

TEST(Glyph, AbsurdSizesKeepTheirAdvanceButDrawNothing) {
  TextRenderer text = embedded_text();
  const CachedGlyph& huge = text.glyph(U'a', size_key(20000));
  EXPECT_GT(huge.advance, 10000);
  EXPECT_EQ(huge.width * huge.height, 0u);
  // Beyond what the rasteriser accepts at all: nothing, and no failure.
  EXPECT_EQ(text.glyph(U'a', size_key(100000)).coverage.size(), 0u);
  Canvas canvas = *Canvas::create(16, 16);
  for (float size : {20000.0f, 100000.0f}) {
    text.draw_text(canvas, "ab", TextPaint{size, Color{255, 255, 255, 255}, 1}, 0, 8);
  }
  for (std::uint8_t byte : canvas.pixels()) ASSERT_EQ(byte, 0);
}

TEST(Glyph, CharactersTheFontLacksUseItsMissingGlyph) {
  TextRenderer text = embedded_text();
  const CachedGlyph& private_use = text.glyph(U'\uE000', 896);
  const CachedGlyph& unassigned = text.glyph(U'\U0010FFFD', 896);
  EXPECT_GT(private_use.coverage.size(), 0u);
  EXPECT_EQ(private_use.coverage, unassigned.coverage);
  EXPECT_EQ(private_use.advance, unassigned.advance);
  EXPECT_GT(private_use.advance, 0);
  EXPECT_EQ(text.measure_text("\xee\x80\x80", 14.0f), private_use.advance);
}

TEST(MeasureText, SumsTheAdvancesOfTheCharacters) {
  TextRenderer text = embedded_text();
  const float a = text.glyph(U'a', 896).advance;
  const float e_acute = text.glyph(U'\u00e9', 896).advance;
  EXPECT_EQ(text.measure_text("", 14), 0);
  EXPECT_EQ(text.measure_text("aaa", 14), 3 * a);
  // A two-byte character is one character.
  EXPECT_EQ(text.measure_text("a\xc3\xa9", 14), a + e_acute);
  // Sizes below one pixel measure as one pixel.
  EXPECT_EQ(text.measure_text("a", 0.5f), text.glyph(U'a', 64).advance);
}

// Canvas bytes after drawing one glyph on a canvas filled with `background`.
std::vector<std::uint8_t> drawn(TextRenderer& text, std::uint32_t width, std::uint32_t height,
                                Color background, char32_t character, const TextPaint& paint,
                                float x, float y) {
  Canvas canvas = *Canvas::create(width, height);
  fill_canvas(canvas, background);
  text.draw_glyph(canvas, character, paint, x, y);
  auto bytes = canvas.pixels();
  return {bytes.begin(), bytes.end()};
}

TEST(DrawGlyph, PlacesTheBitmapAtThePenAndBlendsWithTheExactFormula) {
  TextRenderer text = embedded_text();
  const TextPaint paint{30, Color{10, 220, 30, 200}, 0.5f};
  const Color background{100, 50, 200, 128};
  const float x = 7.75f;
  const float y = 31.5f;
  const auto bytes = drawn(text, 48, 48, background, U'W', paint, x, y);
  const CachedGlyph& g = text.glyph(U'W', size_key(30));
  const std::int64_t left = 7 + g.xmin;
  const std::int64_t top = 31 - g.ymin - static_cast<std::int64_t>(g.height);
  const Pixel old = testing::premultiplied(background);

  const float a = 200 * 0.5f;
  std::size_t partial = 0;
  for (std::uint32_t py = 0; py < 48; ++py) {
    for (std::uint32_t px = 0; px < 48; ++px) {
      const std::int64_t k = px - left;
      const std::int64_t r = py - top;
      std::uint32_t c = 0;
      if (k >= 0 && r >= 0 && k < static_cast<std::int64_t>(g.width) &&
          r < static_cast<std::int64_t>(g.height)) {
        c = g.coverage[r * g.width + k];
      }
      Pixel expected = old;
      if (c > 0) {
        const auto m = static_cast<std::uint32_t>(std::round(c * a / 255.0f));
        expected.r = static_cast<std::uint8_t>((m * 10 + old.r * (255 - m)) / 255);
        expected.g = static_cast<std::uint8_t>((m * 220 + old.g * (255 - m)) / 255);
        expected.b = static_cast<std::uint8_t>((m * 30 + old.b * (255 - m)) / 255);
        expected.a = static_cast<std::uint8_t>(std::min(m + old.a * (255 - m) / 255, 255u));
        partial += c < 255;
      }
      ASSERT_EQ(pixel_at(bytes, 48, px, py), expected) << px << "," << py;
    }
  }
  EXPECT_GT(partial, 0u);  // anti-aliased edges were exercised
}

TEST(DrawGlyph, InvisiblePaintLeavesTheCanvasUnchanged) {
  TextRenderer text = embedded_text();
  const Color background{100, 50, 200, 128};
  const auto untouched = drawn(text, 32, 32, background, U'W', TextPaint{20, {}, 0}, -100, -100);
  const TextPaint invisible[] = {
      {20, Color{255, 255, 255, 255}, 0.0f},
      {20, Color{255, 255, 255, 0}, 1.0f},
      {20, Color{255, 255, 255, 255}, -1.0f},
      {20, Color{255, 255, 255, 255}, std::numeric_limits<float>::quiet_NaN()},
  };
  for (const TextPaint& paint : invisible) {
    EXPECT_EQ(drawn(text, 32, 32, background, U'W', paint, 4, 24), untouched)
        << "alpha " << int(paint.color.a) << " opacity " << paint.opacity;
  }
}

TEST(DrawGlyph, IsClippedAtEveryCanvasEdge) {
  TextRenderer text = embedded_text();
  const TextPaint paint{40, Color{255, 255, 255, 255}, 1.0f};
  const Color clear{0, 0, 0, 0};
  // Each window's pixels must equal the same 30 x 30 piece of the glyph drawn on a canvas with
  // a 40-pixel margin all round; a pen beyond the 32-bit range draws nothing.
  struct Case {
    float x, y;  // pen relative to the 30 x 30 window
    bool ink;    // some of the glyph shows in the window
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {-8, 30, true},  {20, 30, true},   {2, 10, true},     {2, 40, true},  {2, 60, false},
      {-30, 80, false}, {nan, 30, true}, {-1e30f, 5, false}, {1e30f, 5, false},
  };
  for (const Case& c : cases) {
    const auto small = drawn(text, 30, 30, clear, U'M', paint, c.x, c.y);
    const bool beyond = std::fabs(c.x) > 1e9f;
    // A NaN pen coordinate counts as 0.
    const float x = std::isnan(c.x) ? 0.0f : c.x;
    const auto reference = drawn(text, 110, 110, clear, U'M', paint, 40 + x, 40 + c.y);
    bool any_ink = false;
    for (std::uint32_t py = 0; py < 30; ++py) {
      for (std::uint32_t px = 0; px < 30; ++px) {
        const Pixel p = pixel_at(small, 30, px, py);
        any_ink = any_ink || p.a != 0;
        if (!beyond) {
          ASSERT_EQ(p, pixel_at(reference, 110, px + 40, py + 40)) << c.x << "," << c.y;
        }
      }
    }
    EXPECT_EQ(any_ink, c.ink) << c.x << "," << c.y;
  }
}

TEST(DrawText, AdvancesThePenByEachGlyph) {
  TextRenderer text = embedded_text();
  const TextPaint paint{20, Color{255, 255, 255, 255}, 1.0f};
  const Color clear{0, 0, 0, 0};
  Canvas together = *Canvas::create(80, 30);
  fill_canvas(together, clear);
  text.draw_text(together, "ab\xc3\xa9", paint, 3.5f, 22);
  Canvas apart = *Canvas::create(80, 30);
  fill_canvas(apart, clear);
  const float a = text.glyph(U'a', size_key(20)).advance;
  const float b = text.glyph(U'b', size_key(20)).advance;
  text.draw_glyph(apart, U'a', paint, 3.5f, 22);
  text.draw_glyph(apart, U'b', paint, 3.5f + a, 22);
  text.draw_glyph(apart, U'\u00e9', paint, 3.5f + a + b, 22);
  const auto x = together.pixels();
  const auto y = apart.pixels();
  EXPECT_TRUE(std::equal(x.begin(), x.end(), y.begin(), y.end()));
}

}  // namespace
}  // namespace tarvik
