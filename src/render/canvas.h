// The drawing surface of one frame and the primitives the overlays are built from. Pixels are
// premultiplied and stored in the order B, G, R, A (cairo's ARGB32 on a little-endian machine),
// which is the byte order frames are handed to the display in, so no conversion pass is needed.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <expected>
#include <span>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/config.h"
#include "render/render_error.h"

namespace tarvik {

// An allocator that leaves bytes as they come, for buffers about to be overwritten whole: a
// frame's worth of zeroing would otherwise cost as much as drawing its background.
template <typename T>
struct UninitializedAllocator {
  using value_type = T;
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept { std::allocator<T>{}.deallocate(p, n); }
  // Value-initialisation (resize, the size constructor) becomes default-initialisation.
  template <typename U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <typename U>
  bool operator==(const UninitializedAllocator<U>&) const noexcept {
    return true;
  }
};

// A frame's bytes.
using PixelBytes = std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>>;

class Canvas {
 public:
  // Widest canvas accepted (larger widths overflow a 32-bit byte stride).
  static constexpr std::uint32_t max_width = 536870911;
  // Largest side the rasteriser can draw on.
  static constexpr std::uint32_t max_side = 32767;

  enum class Start { Transparent, Undefined };

  // A canvas, fully transparent unless the caller is about to write every pixel itself
  // (Undefined); Allocation when the size is 0, too wide, or cannot be had.
  static std::expected<Canvas, RenderError> create(std::uint32_t width, std::uint32_t height,
                                                   Start start = Start::Transparent);
  // A canvas over memory the caller owns (a shared-memory buffer, so a frame is drawn where
  // the compositor reads it instead of being copied there): exactly width * height * 4 bytes,
  // which must outlive the canvas. Allocation for the sizes create refuses or a wrong length.
  static std::expected<Canvas, RenderError> wrap(std::span<std::uint8_t> memory,
                                                 std::uint32_t width, std::uint32_t height,
                                                 Start start = Start::Transparent);
  // Whether create and wrap accept the size; the error they would give.
  static std::expected<void, RenderError> check_size(std::uint32_t width, std::uint32_t height);

  Canvas(Canvas&& other) noexcept;
  Canvas& operator=(Canvas&& other) noexcept;
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  ~Canvas();

  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }

  // Direct access to the bytes, rows of width * 4 without padding. Writers must call
  // mark_dirty() afterwards so that cairo does not keep stale state about the surface.
  std::span<std::uint8_t> pixels();
  std::span<const std::uint8_t> pixels() const;
  void mark_dirty();

  // Hands the bytes over (a copy of wrapped memory); the canvas is empty afterwards.
  PixelBytes release_pixels();

  // A debugging aid: writes the canvas as PNG. False when it could not be written.
  bool write_png(const std::string& path) const;

  cairo_t* context() { return cr_; }

 private:
  Canvas(PixelBytes pixels, std::uint8_t* data, std::uint32_t width, std::uint32_t height,
         cairo_surface_t* surface, cairo_t* cr);
  static std::expected<Canvas, RenderError> over(PixelBytes owned, std::uint8_t* data,
                                                 std::uint32_t width, std::uint32_t height);
  void reset();

  PixelBytes pixels_;              // empty for wrapped memory
  std::uint8_t* data_ = nullptr;   // the drawn bytes: pixels_ or the wrapped memory
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
};

// The colour with its alpha scaled by the opacity: round(A * clamp(o, 0, 1)), half away from
// zero; a NaN opacity counts as 0.
Color with_opacity(Color color, float opacity);

// The colour premultiplied into one canvas pixel, bytes B, G, R, A.
std::uint32_t premultiplied_pixel(Color color);

// The pixel fill_rect leaves on a pixel it covers fully when that pixel held `under`.
std::uint32_t composite_pixel(std::uint32_t under, Color color, float opacity);

// Sets every pixel of the rectangle (clipped to the canvas) to `value`, without blending.
void store_rect(Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t width,
                std::uint32_t height, std::uint32_t value);

struct Segment {
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Every pixel becomes the premultiplied colour (no blending).
void fill_canvas(Canvas& canvas, Color color);

// Anti-aliased source-over fill. Non-finite coordinates or a negative size draw nothing.
void fill_rect(Canvas& canvas, Color color, float x, float y, float width, float height,
               float opacity);

struct RectF {
  float x = 0, y = 0, width = 0, height = 0;
};

// The closed outline centred on the rectangle's edges, miter joins (limit 4), butt caps.
// Non-finite coordinates, a negative size or a line width that is not positive draw nothing,
// and so do coordinates beyond the rasteriser's range (millions of pixels off the canvas).
void stroke_rect(Canvas& canvas, Color color, float x, float y, float width, float height,
                 float line_width);

// All segments as one path stroked once: butt caps, miter joins (limit 4).
void stroke_segments(Canvas& canvas, std::span<const Segment> segments, Color color,
                     float line_width);

// The ellipse inscribed in the rectangle, stroked anti-aliased (miter limit 4).
void stroke_ellipse(Canvas& canvas, Color color, float x, float y, float width, float height,
                    float line_width);

// An image of premultiplied B, G, R, A pixels (rows of width * 4 bytes).
struct ImageView {
  std::span<const std::uint8_t> pixels;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Fills the image's own rectangle (0, 0, width, height) through the transform that scales by
// (scale_x, scale_y) and then translates by (dx, dy): nearest-neighbour sampling, edge pixels
// repeated, no anti-aliasing, source-over at opacity 1.
void fill_image(Canvas& canvas, const ImageView& image, double scale_x, double scale_y,
                double dx, double dy);

}  // namespace tarvik
