#include "render/lens.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvik {

namespace {

constexpr std::uint64_t u32_max = std::numeric_limits<std::uint32_t>::max();

// round(start + (target - start) * e), half away from zero, negative values giving 0.
std::uint32_t interpolate(std::uint32_t start, std::uint32_t target, float eased) {
  const float from = static_cast<float>(start);
  const float value = std::round(from + (static_cast<float>(target) - from) * eased);
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0f) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<AnimationFrame> animation_step(const LensAnimation& animation,
                                             const std::optional<LensView>& current_view,
                                             std::chrono::steady_clock::time_point now) {
  if (!current_view || current_view->output != animation.output ||
      current_view->source != animation.source || current_view->lens != animation.target) {
    return std::nullopt;
  }
  using seconds = std::chrono::duration<float>;
  const auto elapsed = std::max(now - animation.started_at,
                                std::chrono::steady_clock::duration::zero());
  const float duration = std::max(std::chrono::duration_cast<seconds>(animation.duration).count(),
                                  1.1920929e-7f);
  const float r = std::min(std::chrono::duration_cast<seconds>(elapsed).count() / duration, 1.0f);
  const float rest = 1.0f - r;
  const float eased = 1.0f - rest * rest * rest;

  AnimationFrame frame;
  frame.view.output = animation.output;
  frame.view.source = animation.source;
  frame.view.lens = Rect{
      interpolate(animation.start.x, animation.target.x, eased),
      interpolate(animation.start.y, animation.target.y, eased),
      std::max(interpolate(animation.start.width, animation.target.width, eased), 1u),
      std::max(interpolate(animation.start.height, animation.target.height, eased), 1u),
  };
  frame.progress = eased;
  frame.finished = r >= 1.0f;
  return frame;
}

unsigned lens_frame_count(std::optional<std::uint64_t> area) {
  if (!area || *area <= 2560ull * 1440) return 8;
  if (*area <= 3840ull * 2160) return 6;
  return 4;
}

std::chrono::nanoseconds lens_frame_interval(std::chrono::nanoseconds duration,
                                             std::optional<std::uint64_t> area) {
  const std::chrono::nanoseconds interval = duration / lens_frame_count(area);
  return std::max<std::chrono::nanoseconds>(interval, std::chrono::milliseconds(8));
}

std::optional<CaptureCrop> lens_crop(const Rect& source, const HeldCapture& capture) {
  const std::uint64_t width = capture.width;
  const std::uint64_t height = capture.height;
  if (width == 0 || height == 0 || width > 536870911 ||
      capture.pixels.size() / 4 / width < height) {
    return std::nullopt;
  }
  const std::uint64_t logical_width = std::max<std::uint64_t>(capture.logical_width, 1);
  const std::uint64_t logical_height = std::max<std::uint64_t>(capture.logical_height, 1);
  const std::uint64_t right = std::min<std::uint64_t>(std::uint64_t{source.x} + source.width, u32_max);
  const std::uint64_t bottom = std::min<std::uint64_t>(std::uint64_t{source.y} + source.height, u32_max);
  const std::uint64_t x0 = std::min(source.x * width / logical_width, width);
  const std::uint64_t y0 = std::min(source.y * height / logical_height, height);
  const std::uint64_t x1 = std::min(right * width / logical_width, width);
  const std::uint64_t y1 = std::min(bottom * height / logical_height, height);
  std::uint64_t w = std::max<std::uint64_t>(x1 > x0 ? x1 - x0 : 0, 1);
  std::uint64_t h = std::max<std::uint64_t>(y1 > y0 ? y1 - y0 : 0, 1);
  w = std::min(x0 + w, width) - x0;
  h = std::min(y0 + h, height) - y0;
  if (w == 0 || h == 0) return std::nullopt;
  return CaptureCrop{static_cast<std::uint32_t>(x0), static_cast<std::uint32_t>(y0),
                     static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
}

void draw_lens_image(Canvas& canvas, const LensView& view, const HeldCapture& capture) {
  const std::optional<CaptureCrop> crop = lens_crop(view.source, capture);
  if (!crop) return;
  // The capture is R, G, B, A; the canvas wants B, G, R, A. Only the cropped block is copied.
  std::vector<std::uint8_t> image(std::size_t{crop->width} * crop->height * 4);
  const std::size_t capture_stride = std::size_t{capture.width} * 4;
  for (std::uint32_t row = 0; row < crop->height; ++row) {
    const std::uint8_t* src =
        capture.pixels.data() + (crop->y + row) * capture_stride + std::size_t{crop->x} * 4;
    std::uint8_t* dst = image.data() + std::size_t{row} * crop->width * 4;
    for (std::uint32_t col = 0; col < crop->width; ++col, src += 4, dst += 4) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
      dst[3] = src[3];
    }
  }
  const Rect& lens = view.lens;
  fill_image(canvas, ImageView{image, crop->width, crop->height},
             static_cast<double>(lens.width) / crop->width,
             static_cast<double>(lens.height) / crop->height, lens.x, lens.y);
}

}  // namespace tarvik
