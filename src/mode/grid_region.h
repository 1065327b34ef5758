// What a grid is laid out over: one rectangle on one output. The controller passes one region
// per chosen output (x = y = 0, the output's logical size); a descent passes the selected cell.
#pragma once

#include <cstdint>
#include <string>

#include "mode/rect.h"

namespace tarvik {

struct GridRegion {
  std::string output;  // the Wayland output name
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  Rect rect() const { return Rect{x, y, width, height}; }
  bool operator==(const GridRegion&) const = default;
};

}  // namespace tarvik
