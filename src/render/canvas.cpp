#include "render/canvas.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <numbers>
#include <utility>

namespace tarvik {

static_assert(std::endian::native == std::endian::little,
              "cairo's ARGB32 is B, G, R, A in memory only on little-endian machines");

namespace {

bool finite_rect(float x, float y, float width, float height) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) &&
         std::isfinite(height) && width >= 0 && height >= 0;
}

bool usable_line_width(float line_width) { return std::isfinite(line_width) && line_width > 0; }

// cairo keeps device coordinates in 24.8 fixed point; beyond about 8 million they wrap around
// and a shape would land somewhere else entirely.
constexpr float rasteriser_limit = 4e6f;

bool in_rasteriser_range(std::initializer_list<float> values) {
  return std::all_of(values.begin(), values.end(),
                     [](float v) { return std::fabs(v) <= rasteriser_limit; });
}

void set_source(cairo_t* cr, Color color) {
  cairo_set_source_rgba(cr, color.r / 255.0, color.g / 255.0, color.b / 255.0, color.a / 255.0);
}

void set_stroke_style(cairo_t* cr, float line_width) {
  cairo_set_line_width(cr, line_width);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  cairo_set_miter_limit(cr, 4.0);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
}

}  // namespace

Canvas::Canvas(PixelBytes pixels, std::uint8_t* data, std::uint32_t width,
               std::uint32_t height, cairo_surface_t* surface, cairo_t* cr)
    : pixels_(std::move(pixels)),
      data_(data),
      width_(width),
      height_(height),
      surface_(surface),
      cr_(cr) {}

std::expected<void, RenderError> Canvas::check_size(std::uint32_t width, std::uint32_t height) {
  const auto fail = std::unexpected(RenderError::allocation(width, height));
  if (width == 0 || height == 0 || width > max_width) return fail;
  // cairo's image surfaces stop at 32767 pixels a side; refuse before allocating the bytes.
  if (width > max_side || height > max_side) return fail;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, static_cast<int>(width));
  // Rows must be unpadded: the display's buffers have a stride of exactly width * 4.
  if (stride < 0 || static_cast<std::uint64_t>(stride) != std::uint64_t{width} * 4 ||
      height > static_cast<std::uint32_t>(INT32_MAX)) {
    return fail;
  }
  return {};
}

std::expected<Canvas, RenderError> Canvas::over(PixelBytes owned, std::uint8_t* data,
                                               std::uint32_t width, std::uint32_t height) {
  const auto fail = std::unexpected(RenderError::allocation(width, height));
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      data, CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height),
      static_cast<int>(width * 4));
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return fail;
  }
  cairo_t* cr = cairo_create(surface);
  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return fail;
  }
  return Canvas(std::move(owned), data, width, height, surface, cr);
}

std::expected<Canvas, RenderError> Canvas::create(std::uint32_t width, std::uint32_t height,
                                                 Start start) {
  if (auto size = check_size(width, height); !size) return std::unexpected(size.error());
  const auto fail = std::unexpected(RenderError::allocation(width, height));
  PixelBytes pixels;
  try {
    pixels.resize(std::size_t{width} * height * 4);
    if (start == Start::Transparent) std::memset(pixels.data(), 0, pixels.size());
  } catch (const std::bad_alloc&) {
    return fail;
  } catch (const std::length_error&) {
    return fail;
  }
  std::uint8_t* data = pixels.data();
  return over(std::move(pixels), data, width, height);
}

std::expected<Canvas, RenderError> Canvas::wrap(std::span<std::uint8_t> memory,
                                               std::uint32_t width, std::uint32_t height,
                                               Start start) {
  if (auto size = check_size(width, height); !size) return std::unexpected(size.error());
  if (memory.size() != std::size_t{width} * height * 4) {
    return std::unexpected(RenderError::allocation(width, height));
  }
  // Reused buffer memory still holds an older frame.
  if (start == Start::Transparent) std::memset(memory.data(), 0, memory.size());
  return over(PixelBytes{}, memory.data(), width, height);
}

Canvas::Canvas(Canvas&& other) noexcept
    : pixels_(std::move(other.pixels_)),
      data_(std::exchange(other.data_, nullptr)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      surface_(std::exchange(other.surface_, nullptr)),
      cr_(std::exchange(other.cr_, nullptr)) {}

Canvas& Canvas::operator=(Canvas&& other) noexcept {
  if (this != &other) {
    reset();
    pixels_ = std::move(other.pixels_);
    data_ = std::exchange(other.data_, nullptr);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    surface_ = std::exchange(other.surface_, nullptr);
    cr_ = std::exchange(other.cr_, nullptr);
  }
  return *this;
}

Canvas::~Canvas() { reset(); }

void Canvas::reset() {
  if (cr_ != nullptr) cairo_destroy(cr_);
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
  cr_ = nullptr;
  surface_ = nullptr;
}

std::span<std::uint8_t> Canvas::pixels() {
  if (surface_ != nullptr) cairo_surface_flush(surface_);
  return {data_, std::size_t{width_} * height_ * 4};
}

std::span<const std::uint8_t> Canvas::pixels() const {
  if (surface_ != nullptr) cairo_surface_flush(surface_);
  return {data_, std::size_t{width_} * height_ * 4};
}

void Canvas::mark_dirty() {
  if (surface_ != nullptr) cairo_surface_mark_dirty(surface_);
}

PixelBytes Canvas::release_pixels() {
  if (surface_ != nullptr) cairo_surface_flush(surface_);
  PixelBytes released;
  if (pixels_.empty() && data_ != nullptr) {
    released.assign(data_, data_ + std::size_t{width_} * height_ * 4);
  } else {
    released = std::move(pixels_);
  }
  // The surface points into the bytes, so it must go first.
  reset();
  width_ = 0;
  height_ = 0;
  data_ = nullptr;
  return released;
}

bool Canvas::write_png(const std::string& path) const {
  if (surface_ == nullptr) return false;
  cairo_surface_flush(surface_);
  return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

Color with_opacity(Color color, float opacity) {
  const float o = std::isnan(opacity) ? 0.0f : std::clamp(opacity, 0.0f, 1.0f);
  color.a = static_cast<std::uint8_t>(std::round(static_cast<float>(color.a) * o));
  return color;
}

std::uint32_t premultiplied_pixel(Color color) {
  const auto mul = [&](std::uint8_t c) -> std::uint32_t {
    return (std::uint32_t{c} * color.a + 127) / 255;
  };
  return mul(color.b) | mul(color.g) << 8 | mul(color.r) << 16 | std::uint32_t{color.a} << 24;
}

namespace {

// One row set word by word, the others copied from it: memcpy moves far more bytes per
// instruction than a loop of 32-bit stores.
void fill_rows(std::uint8_t* first, std::size_t stride, std::uint32_t width,
               std::uint32_t height, std::uint32_t value) {
  if (width == 0 || height == 0) return;
  const std::size_t row_bytes = std::size_t{width} * 4;
  if (value == 0) {
    for (std::uint32_t y = 0; y < height; ++y) std::memset(first + y * stride, 0, row_bytes);
    return;
  }
  std::uint32_t word = value;
  std::uint8_t* row = first;
  for (std::uint32_t x = 0; x < width; ++x) std::memcpy(row + std::size_t{x} * 4, &word, 4);
  for (std::uint32_t y = 1; y < height; ++y) std::memcpy(first + y * stride, row, row_bytes);
}

}  // namespace

void fill_canvas(Canvas& canvas, Color color) {
  std::span<std::uint8_t> bytes = canvas.pixels();
  const std::uint32_t value = premultiplied_pixel(color);
  if (value == 0) {
    std::memset(bytes.data(), 0, bytes.size());
  } else {
    fill_rows(bytes.data(), std::size_t{canvas.width()} * 4, canvas.width(), canvas.height(),
              value);
  }
  canvas.mark_dirty();
}

std::uint32_t composite_pixel(std::uint32_t under, Color color, float opacity) {
  // Drawn by the rasteriser itself, so that the value is exactly what fill_rect writes.
  auto pixel = Canvas::create(1, 1);
  if (!pixel) return under;
  std::memcpy(pixel->pixels().data(), &under, 4);
  pixel->mark_dirty();
  fill_rect(*pixel, color, 0, 0, 1, 1, opacity);
  std::uint32_t result = 0;
  std::memcpy(&result, pixel->pixels().data(), 4);
  return result;
}

void store_rect(Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                std::uint32_t height, std::uint32_t value) {
  if (x >= canvas.width() || y >= canvas.height()) return;
  width = std::min(width, canvas.width() - x);
  height = std::min(height, canvas.height() - y);
  if (width == 0 || height == 0) return;
  const std::size_t stride = std::size_t{canvas.width()} * 4;
  std::uint8_t* first = canvas.pixels().data() + y * stride + std::size_t{x} * 4;
  fill_rows(first, stride, width, height, value);
  canvas.mark_dirty();
}

void fill_rect(Canvas& canvas, Color color, float x, float y, float width, float height,
               float opacity) {
  if (!finite_rect(x, y, width, height)) return;
  const Color paint = with_opacity(color, opacity);
  if (paint.a == 0 || width == 0 || height == 0) return;
  // Edges far outside the canvas move to just outside it, which leaves every canvas pixel's
  // coverage as it was and keeps the rasteriser within its range.
  const float low = -2;
  const float right_limit = static_cast<float>(canvas.width()) + 2;
  const float bottom_limit = static_cast<float>(canvas.height()) + 2;
  if (x < low || y < low || x + width > right_limit || y + height > bottom_limit) {
    const float x1 = std::min(x + width, right_limit);
    const float y1 = std::min(y + height, bottom_limit);
    x = std::max(x, low);
    y = std::max(y, low);
    if (!(x1 > x) || !(y1 > y)) return;
    width = x1 - x;
    height = y1 - y;
  }
  cairo_t* cr = canvas.context();
  set_source(cr, paint);
  cairo_rectangle(cr, x, y, width, height);
  cairo_fill(cr);
}

void stroke_rect(Canvas& canvas, Color color, float x, float y, float width, float height,
                 float line_width) {
  if (!finite_rect(x, y, width, height) || !usable_line_width(line_width)) return;
  if (color.a == 0 || !in_rasteriser_range({x, y, x + width, y + height, line_width})) return;
  cairo_t* cr = canvas.context();
  set_source(cr, color);
  set_stroke_style(cr, line_width);
  cairo_rectangle(cr, x, y, width, height);
  cairo_stroke(cr);
}

void stroke_segments(Canvas& canvas, std::span<const Segment> segments, Color color,
                     float line_width) {
  if (segments.empty() || !usable_line_width(line_width) || color.a == 0 ||
      !in_rasteriser_range({line_width})) {
    return;
  }
  cairo_t* cr = canvas.context();
  cairo_new_path(cr);
  for (const Segment& s : segments) {
    if (!in_rasteriser_range({s.x0, s.y0, s.x1, s.y1})) continue;  // NaN fails too
    cairo_move_to(cr, s.x0, s.y0);
    cairo_line_to(cr, s.x1, s.y1);
  }
  set_source(cr, color);
  set_stroke_style(cr, line_width);
  cairo_stroke(cr);
}

void stroke_ellipse(Canvas& canvas, Color color, float x, float y, float width, float height,
                    float line_width) {
  if (!finite_rect(x, y, width, height) || !usable_line_width(line_width) || color.a == 0) return;
  if (width == 0 || height == 0 || !in_rasteriser_range({x, y, x + width, y + height, line_width})) {
    return;
  }
  cairo_t* cr = canvas.context();
  cairo_new_path(cr);
  cairo_save(cr);
  cairo_translate(cr, x + width / 2.0, y + height / 2.0);
  cairo_scale(cr, width / 2.0, height / 2.0);
  cairo_arc(cr, 0, 0, 1, 0, 2 * std::numbers::pi);
  // Stroked in device space so that the pen stays round on an ellipse.
  cairo_restore(cr);
  set_source(cr, color);
  set_stroke_style(cr, line_width);
  cairo_stroke(cr);
}

void fill_image(Canvas& canvas, const ImageView& image, double scale_x, double scale_y,
                double dx, double dy) {
  if (image.width == 0 || image.height == 0 || image.width > Canvas::max_width) return;
  if (image.pixels.size() < std::size_t{image.width} * image.height * 4) return;
  if (!std::isfinite(scale_x) || !std::isfinite(scale_y) || !std::isfinite(dx) ||
      !std::isfinite(dy) || scale_x <= 0 || scale_y <= 0) {
    return;
  }
  const int stride = static_cast<int>(image.width * 4);
  // cairo only reads a source surface, the cast does not lead to writes.
  cairo_surface_t* source = cairo_image_surface_create_for_data(
      const_cast<std::uint8_t*>(image.pixels.data()), CAIRO_FORMAT_ARGB32,
      static_cast<int>(image.width), static_cast<int>(image.height), stride);
  if (cairo_surface_status(source) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(source);
    return;
  }
  cairo_t* cr = canvas.context();
  cairo_save(cr);
  cairo_translate(cr, dx, dy);
  cairo_scale(cr, scale_x, scale_y);
  cairo_set_source_surface(cr, source, 0, 0);
  cairo_pattern_t* pattern = cairo_get_source(cr);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_rectangle(cr, 0, 0, image.width, image.height);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(source);
}

}  // namespace tarvik
