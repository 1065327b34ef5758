// An axis-aligned rectangle in an output's logical pixels, relative to its top-left corner.
#pragma once

#include <cstdint>

namespace tarvik {

struct Rect {
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const Rect&) const = default;
};

}  // namespace tarvik
