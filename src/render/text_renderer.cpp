#include "render/text_renderer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <new>
#include <unordered_map>
#include <utility>

#include <fmt/format.h>

#include "logging/system_error.h"

extern "C" const unsigned char tarvik_fallback_font_data[];
extern "C" const unsigned char tarvik_fallback_font_end[];

namespace tarvik {

namespace {

// FreeType is built without its message table here, so the texts are taken from its error list.
#undef FTERRORS_H_
#define FT_ERRORDEF(e, v, s) {e, s},
#define FT_ERROR_START_LIST {
#define FT_ERROR_END_LIST {0, nullptr}};
struct FreeTypeErrorText {
  int code;
  const char* text;
};
const FreeTypeErrorText freetype_error_texts[] =
#include FT_ERRORS_H

std::string freetype_error_text(FT_Error error) {
  for (const FreeTypeErrorText& entry : freetype_error_texts) {
    if (entry.text == nullptr) break;
    if (entry.code == error) return entry.text;
  }
  return fmt::format("FreeType error {}", error);
}

struct FileBytes {
  std::vector<std::uint8_t> bytes;
  int error = 0;
};

// Larger than any font in use; a path naming a device such as /dev/zero must not hang the
// daemon or take all memory.
constexpr std::size_t max_font_bytes = std::size_t{64} << 20;

FileBytes read_file(const std::string& path) {
  FileBytes result;
  // Non-blocking, so that a FIFO without a writer cannot stall the event loop.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    result.error = errno;
    return result;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && info.st_size > 0) {
    if (static_cast<std::uint64_t>(info.st_size) > max_font_bytes) {
      ::close(fd);
      result.error = EFBIG;
      return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(info.st_size));
  }
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      result.bytes.clear();
      break;
    }
    if (n == 0) break;
    if (result.bytes.size() + static_cast<std::size_t>(n) > max_font_bytes) {
      result.error = EFBIG;
      result.bytes.clear();
      break;
    }
    result.bytes.insert(result.bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  return result;
}

// Float to 32-bit integer as a saturating cast: NaN gives 0, out-of-range values the bound.
std::int64_t saturating_floor(float value) {
  if (std::isnan(value)) return 0;
  const double f = std::floor(static_cast<double>(value));
  if (f >= 2147483647.0) return 2147483647;
  if (f <= -2147483648.0) return -2147483648LL;
  return static_cast<std::int64_t>(f);
}

std::uint64_t cache_index(char32_t character, std::uint32_t key) {
  return std::uint64_t{character} << 32 | key;
}

void copy_bitmap(const FT_Bitmap& bitmap, CachedGlyph& glyph) {
  glyph.width = bitmap.width;
  glyph.height = bitmap.rows;
  glyph.coverage.assign(glyph.width * glyph.height, 0);
  if (bitmap.buffer == nullptr) return;
  const int pitch = bitmap.pitch;
  for (std::size_t row = 0; row < glyph.height; ++row) {
    // A negative pitch means the rows are stored bottom to top.
    const unsigned char* src =
        pitch >= 0 ? bitmap.buffer + row * static_cast<std::size_t>(pitch)
                   : bitmap.buffer + (glyph.height - 1 - row) * static_cast<std::size_t>(-pitch);
    std::uint8_t* dst = glyph.coverage.data() + row * glyph.width;
    switch (bitmap.pixel_mode) {
      case FT_PIXEL_MODE_GRAY:
        if (bitmap.num_grays == 256) {
          std::copy(src, src + glyph.width, dst);
        } else {
          const unsigned levels = std::max(bitmap.num_grays, static_cast<unsigned short>(2)) - 1;
          for (std::size_t k = 0; k < glyph.width; ++k) {
            dst[k] = static_cast<std::uint8_t>(std::min(255u, src[k] * 255u / levels));
          }
        }
        break;
      case FT_PIXEL_MODE_MONO:
        for (std::size_t k = 0; k < glyph.width; ++k) {
          dst[k] = (src[k / 8] >> (7 - k % 8)) & 1 ? 255 : 0;
        }
        break;
      case FT_PIXEL_MODE_BGRA:
        for (std::size_t k = 0; k < glyph.width; ++k) dst[k] = src[k * 4 + 3];
        break;
      default:
        // Sub-pixel layouts are never requested; leave the glyph empty rather than misread it.
        std::fill(dst, dst + glyph.width, 0);
        break;
    }
  }
}

}  // namespace

// Taller than the largest output; glyphs beyond this are never worth rasterising.
constexpr FT_Pos max_glyph_side = 8192;

struct TextRenderer::Impl {
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  // FreeType reads the font from this memory for as long as the face lives.
  std::vector<std::uint8_t> owned_bytes;
  bool fallback = false;
  std::uint32_t current_key = 0;
  std::unordered_map<std::uint64_t, CachedGlyph> cache;
  // The blend weight m of every coverage value at the paint alpha last drawn with; labels
  // are drawn with one or two alphas per frame, so this spares a rounding per pixel.
  float weights_alpha = -1;
  std::uint8_t weights[256] = {};

  const std::uint8_t* weights_for(float alpha) {
    if (alpha != weights_alpha) {
      for (unsigned c = 0; c < 256; ++c) {
        const float m = std::round(static_cast<float>(c) * alpha / 255.0f);
        weights[c] = static_cast<std::uint8_t>(std::clamp(m, 0.0f, 255.0f));
      }
      weights_alpha = alpha;
    }
    return weights;
  }

  ~Impl() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_FreeType(library);
  }

  CachedGlyph rasterise(char32_t character, std::uint32_t key) {
    CachedGlyph glyph;
    if (key != current_key) {
      if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(key), 72, 72) != 0) {
        // A bitmap-only face without this size: nothing can be drawn at it.
        current_key = 0;
        return glyph;
      }
      current_key = key;
    }
    const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(character));
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0) return glyph;
    FT_GlyphSlot slot = face->glyph;
    glyph.advance = static_cast<float>(slot->advance.x) / 64.0f;
    // A glyph larger than any canvas would only cost gigabytes of coverage: it keeps its
    // advance and draws nothing.
    if (slot->metrics.width / 64 > max_glyph_side || slot->metrics.height / 64 > max_glyph_side) {
      return glyph;
    }
    if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) {
      return glyph;
    }
    glyph.xmin = slot->bitmap_left;
    glyph.ymin = slot->bitmap_top - static_cast<std::int32_t>(slot->bitmap.rows);
    try {
      copy_bitmap(slot->bitmap, glyph);
    } catch (const std::bad_alloc&) {
      glyph.width = glyph.height = 0;
      glyph.coverage.clear();
    }
    return glyph;
  }
};

struct TextRendererLoader {
  // The parser's message on failure.
  static std::expected<TextRenderer, std::string> parse(std::span<const std::uint8_t> bytes,
                                                       std::vector<std::uint8_t> owned,
                                                       bool fallback) {
    auto impl = std::make_unique<TextRenderer::Impl>();
    if (const FT_Error error = FT_Init_FreeType(&impl->library); error != 0) {
      impl->library = nullptr;
      return std::unexpected(freetype_error_text(error));
    }
    impl->owned_bytes = std::move(owned);
    const std::uint8_t* data = impl->owned_bytes.empty() ? bytes.data() : impl->owned_bytes.data();
    const std::size_t size = impl->owned_bytes.empty() ? bytes.size() : impl->owned_bytes.size();
    if (const FT_Error error = FT_New_Memory_Face(impl->library, data,
                                                  static_cast<FT_Long>(size), 0, &impl->face);
        error != 0) {
      impl->face = nullptr;
      return std::unexpected(freetype_error_text(error));
    }
    impl->fallback = fallback;
    return TextRenderer(std::move(impl));
  }
};

std::uint32_t size_key(float size) {
  // NaN counts as the smallest size; huge sizes saturate.
  const float s = std::isnan(size) ? 1.0f : std::max(size, 1.0f);
  const float key = std::round(s * 64.0f);
  if (key >= 4294967295.0f) return 4294967295u;
  return static_cast<std::uint32_t>(key);
}

TextRenderer::TextRenderer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TextRenderer::TextRenderer(TextRenderer&&) noexcept = default;
TextRenderer& TextRenderer::operator=(TextRenderer&&) noexcept = default;
TextRenderer::~TextRenderer() = default;

bool TextRenderer::uses_fallback() const { return impl_->fallback; }

std::size_t TextRenderer::cached_glyphs() const { return impl_->cache.size(); }

const CachedGlyph& TextRenderer::glyph(char32_t character, std::uint32_t key) {
  const std::uint64_t index = cache_index(character, key);
  auto found = impl_->cache.find(index);
  if (found != impl_->cache.end()) return found->second;
  return impl_->cache.emplace(index, impl_->rasterise(character, key)).first->second;
}

float TextRenderer::measure_text(std::string_view text, float size) {
  const std::uint32_t key = size_key(size);
  float width = 0;
  for (std::size_t position = 0; position < text.size();) {
    width += glyph(next_character(text, position), key).advance;
  }
  return width;
}

void TextRenderer::draw_glyph(Canvas& canvas, char32_t character, const TextPaint& paint,
                              float x, float y) {
  draw_glyph(canvas, glyph(character, size_key(paint.size)), paint, x, y);
}

void TextRenderer::draw_glyph(Canvas& canvas, const CachedGlyph& g, const TextPaint& paint,
                              float x, float y) {
  const float alpha = static_cast<float>(paint.color.a) * paint.opacity;
  // Zero (or NaN) alpha makes every blend an identity.
  if (!(alpha > 0) || g.width == 0 || g.height == 0) return;
  const std::int64_t left = saturating_floor(x) + g.xmin;
  const std::int64_t top =
      saturating_floor(y) - g.ymin - static_cast<std::int64_t>(g.height);
  const std::int64_t canvas_width = canvas.width();
  const std::int64_t canvas_height = canvas.height();
  const std::int64_t first_row = std::max<std::int64_t>(0, -top);
  const std::int64_t last_row = std::min<std::int64_t>(g.height, canvas_height - top);
  const std::int64_t first_col = std::max<std::int64_t>(0, -left);
  const std::int64_t last_col = std::min<std::int64_t>(g.width, canvas_width - left);
  if (first_row >= last_row || first_col >= last_col) return;

  std::span<std::uint8_t> bytes = canvas.pixels();
  const std::uint8_t* weights = impl_->weights_for(alpha);
  const std::uint32_t red = paint.color.r;
  const std::uint32_t green = paint.color.g;
  const std::uint32_t blue = paint.color.b;
  for (std::int64_t r = first_row; r < last_row; ++r) {
    const std::uint8_t* coverage = g.coverage.data() + r * static_cast<std::int64_t>(g.width);
    std::uint8_t* row = bytes.data() + ((top + r) * canvas_width + left) * 4;
    for (std::int64_t k = first_col; k < last_col; ++k) {
      const std::uint32_t c = coverage[k];
      if (c == 0) continue;
      const std::uint32_t m = weights[c];
      if (m == 0) continue;
      const std::uint32_t keep = 255 - m;
      std::uint8_t* pixel = row + k * 4;
      pixel[0] = static_cast<std::uint8_t>((m * blue + pixel[0] * keep) / 255);
      pixel[1] = static_cast<std::uint8_t>((m * green + pixel[1] * keep) / 255);
      pixel[2] = static_cast<std::uint8_t>((m * red + pixel[2] * keep) / 255);
      pixel[3] = static_cast<std::uint8_t>(std::min<std::uint32_t>(m + pixel[3] * keep / 255, 255));
    }
  }
  canvas.mark_dirty();
}

void TextRenderer::draw_text(Canvas& canvas, std::string_view text, const TextPaint& paint,
                             float x, float y) {
  const std::uint32_t key = size_key(paint.size);
  for (std::size_t position = 0; position < text.size();) {
    const CachedGlyph& g = glyph(next_character(text, position), key);
    draw_glyph(canvas, g, paint, x, y);
    x += g.advance;
  }
}

std::span<const std::uint8_t> embedded_fallback_font() {
  return {tarvik_fallback_font_data,
          static_cast<std::size_t>(tarvik_fallback_font_end - tarvik_fallback_font_data)};
}

std::expected<LoadedTextRenderer, RenderError> load_text_renderer(const config::Ui& ui) {
  return load_text_renderer(ui.font_path);
}

std::expected<LoadedTextRenderer, RenderError> load_text_renderer(
    const std::optional<std::string>& font_path, std::span<const std::uint8_t> fallback_font) {
  std::optional<std::string> warning;
  if (font_path) {
    FileBytes file = read_file(*font_path);
    if (file.error != 0) {
      warning = fmt::format("cannot read font {}: {}; using embedded fallback", *font_path,
                            os_error_text(file.error));
    } else {
      auto parsed = TextRendererLoader::parse({}, std::move(file.bytes), false);
      if (parsed) return LoadedTextRenderer{std::move(*parsed), std::nullopt};
      warning = fmt::format("cannot parse font {}: {}; using embedded fallback", *font_path,
                            parsed.error());
    }
  }
  const std::span<const std::uint8_t> bytes =
      fallback_font.empty() ? embedded_fallback_font() : fallback_font;
  auto parsed = TextRendererLoader::parse(bytes, {}, true);
  if (!parsed) return std::unexpected(RenderError::invalid_fallback(parsed.error()));
  return LoadedTextRenderer{std::move(*parsed), std::move(warning)};
}

char32_t next_character(std::string_view text, std::size_t& position) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(position);
  if (lead < 0x80) {
    ++position;
    return lead;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  }
  if (length == 0 || position + length > text.size()) {
    ++position;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(position + i);
    if ((next & 0xC0) != 0x80) {
      ++position;
      return 0xFFFD;
    }
    value = value << 6 | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    ++position;
    return 0xFFFD;
  }
  position += length;
  return value;
}

}  // namespace tarvik
