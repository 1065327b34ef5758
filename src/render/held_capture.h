// A screen capture held for the lens: what the screen-capture backend delivers.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvik {

struct HeldCapture {
  // 4 bytes per pixel, red, green, blue, alpha; rows top to bottom, no padding.
  std::vector<std::uint8_t> pixels;
  std::uint32_t width = 0;   // capture size in pixels
  std::uint32_t height = 0;
  std::uint32_t logical_width = 0;  // the output's logical size when the capture was requested
  std::uint32_t logical_height = 0;
};

}  // namespace tarvik
