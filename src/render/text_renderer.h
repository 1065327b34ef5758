// Text on the overlays: one font (the configured file or the embedded monospace fallback),
// glyph bitmaps cached per character and size, and glyph blending straight into canvas bytes.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "render/canvas.h"
#include "render/render_error.h"

namespace tarvik {

// One rasterised glyph at one size.
struct CachedGlyph {
  float advance = 0;        // horizontal advance of the pen
  std::int32_t xmin = 0;    // left edge of the bitmap relative to the pen
  std::int32_t ymin = 0;    // bottom edge of the bitmap above the baseline (positive upwards)
  std::size_t width = 0;    // bitmap size
  std::size_t height = 0;
  std::vector<std::uint8_t> coverage;  // width * height values, rows from the top, 255 = full
};

// What a glyph is drawn with: straight (not premultiplied) colour, opacity scaling its alpha.
struct TextPaint {
  float size = 14.0f;
  Color color;
  float opacity = 1.0f;
};

// The cache key of a text size: round(max(s, 1) * 64), so sizes are quantised to 1/64 pixel
// and never below one pixel. A glyph is rasterised at key / 64 pixels.
std::uint32_t size_key(float size);

class TextRenderer {
 public:
  TextRenderer(TextRenderer&&) noexcept;
  TextRenderer& operator=(TextRenderer&&) noexcept;
  ~TextRenderer();

  // The glyph for a character at a size key, rasterised on the first request. A character the
  // font does not map is drawn with the font's glyph 0. The reference stays valid as long as
  // the renderer.
  const CachedGlyph& glyph(char32_t character, std::uint32_t key);

  // Sum of the advances of the text's characters at that size; no kerning.
  float measure_text(std::string_view text, float size);

  // Blends the glyph into the canvas with its pen at x on baseline y, clipped at the canvas.
  void draw_glyph(Canvas& canvas, char32_t character, const TextPaint& paint, float x, float y);
  // The same with the glyph already looked up (at the paint's size key).
  void draw_glyph(Canvas& canvas, const CachedGlyph& glyph, const TextPaint& paint, float x,
                  float y);

  // The text's characters one after another, the pen advancing by each glyph's advance.
  void draw_text(Canvas& canvas, std::string_view text, const TextPaint& paint, float x,
                 float y);

  // Whether the embedded font is in use (no font configured, or it could not be used).
  bool uses_fallback() const;

  // Glyphs rasterised so far.
  std::size_t cached_glyphs() const;

  struct Impl;

 private:
  explicit TextRenderer(std::unique_ptr<Impl> impl);
  friend struct TextRendererLoader;
  std::unique_ptr<Impl> impl_;
};

struct LoadedTextRenderer {
  TextRenderer renderer;
  // Set when the configured font could not be used; the caller prints it as "tarvik: " + text.
  std::optional<std::string> warning;
};

// The font of `ui.font_path` (first face), else the embedded fallback font.
std::expected<LoadedTextRenderer, RenderError> load_text_renderer(const config::Ui& ui);

// The same with the fallback font's bytes given (the embedded font when empty).
std::expected<LoadedTextRenderer, RenderError> load_text_renderer(
    const std::optional<std::string>& font_path, std::span<const std::uint8_t> fallback_font = {});

// The font bytes compiled into the program.
std::span<const std::uint8_t> embedded_fallback_font();

// Decodes UTF-8 one character at a time; a malformed sequence gives U+FFFD and skips one byte.
char32_t next_character(std::string_view text, std::size_t& position);

}  // namespace tarvik
