// The drawing surface of one frame and the primitives the overlays are built from. Pixels are
// premultiplied and stored in the order B, G, R, A (cairo's ARGB32 on a little-endian machine),
// which is the byte order frames are handed to the display in, so no conversion pass is needed.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "config/config.h"
#include "render/render_error.h"

namespace tarvik {

class Canvas {
 public:
  // Widest canvas accepted (larger widths overflow a 32-bit byte stride).
  static constexpr std::uint32_t max_width = 536870911;
  // Largest side the rasteriser can draw on.
  static constexpr std::uint32_t max_side = 32767;

  // A fully transparent canvas, or Allocation when the size is 0, too wide, or cannot be had.
  static std::expected<Canvas, RenderError> create(std::uint32_t width, std::uint32_t height);

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

  // Hands the bytes over; the canvas is empty afterwards.
  std::vector<std::uint8_t> release_pixels();

  // A debugging aid: writes the canvas as PNG. False when it could not be written.
  bool write_png(const std::string& path) const;

  cairo_t* context() { return cr_; }

 private:
  Canvas(std::vector<std::uint8_t> pixels, std::uint32_t width, std::uint32_t height,
         cairo_surface_t* surface, cairo_t* cr);
  void reset();

  std::vector<std::uint8_t> pixels_;
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

struct Segment {
  float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Every pixel becomes the premultiplied colour (no blending).
void fill_canvas(Canvas& canvas, Color color);

// Anti-aliased source-over fill. Non-finite coordinates or a negative size draw nothing.
void fill_rect(Canvas& canvas, Color color, float x, float y, float width, float height,
               float opacity);

// The closed outline centred on the rectangle's edges, miter joins (limit 4), butt caps.
// Non-finite coordinates, a negative size or a line width that is not positive draw nothing.
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
