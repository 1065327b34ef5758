#include "wayland/screencopy.h"

namespace tarvik {

bool capture_format_accepted(std::uint32_t format) {
  return format == shm_format::argb8888 || format == shm_format::xrgb8888 ||
         format == shm_format::abgr8888 || format == shm_format::xbgr8888;
}

std::expected<std::vector<std::uint8_t>, std::string> convert_capture(
    std::span<const std::uint8_t> source, std::uint32_t format, std::uint32_t width,
    std::uint32_t height, std::uint32_t stride, bool y_invert) {
  if (!capture_format_accepted(format)) {
    return std::unexpected(std::string("unsupported screencopy format"));
  }
  if (static_cast<std::uint64_t>(stride) < static_cast<std::uint64_t>(width) * 4 ||
      static_cast<std::uint64_t>(stride) * height > source.size()) {
    return std::unexpected(std::string("screencopy buffer does not match its description"));
  }
  bool swap = format == shm_format::argb8888 || format == shm_format::xrgb8888;
  bool opaque = format == shm_format::xrgb8888 || format == shm_format::xbgr8888;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(width) * 4 * height);
  for (std::uint32_t row = 0; row < height; ++row) {
    std::uint32_t from = y_invert ? height - 1 - row : row;
    const std::uint8_t* in = source.data() + static_cast<std::size_t>(from) * stride;
    std::uint8_t* out = image.data() + static_cast<std::size_t>(row) * width * 4;
    for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
      out[0] = swap ? in[2] : in[0];
      out[1] = in[1];
      out[2] = swap ? in[0] : in[2];
      out[3] = opaque ? 255 : in[3];
    }
  }
  return image;
}

}  // namespace tarvik
