// Grid layout: turns an ordered list of regions into an ordered list of labelled cells that tile
// every region exactly, all labels written in base 26 with one common length. Pure computation.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mode/grid_region.h"
#include "mode/rect.h"

namespace tarvik {

struct GridCell {
  std::string output;  // the region's output
  std::string label;   // exactly the level's label_len lowercase letters
  std::uint32_t x = 0;
  std::uint32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  Rect rect() const { return Rect{x, y, width, height}; }
  bool operator==(const GridCell&) const = default;
};

// Cells in region order, then row by row, then column by column; labels follow that order.
struct GridLevel {
  std::vector<GridCell> cells;
  std::uint8_t label_len = 1;
  bool operator==(const GridLevel&) const = default;
};

struct GridLayoutError {
  enum class Kind { NoRegions, RegionTooSmall, CapacityTooSmall, Overflow };

  Kind kind = Kind::Overflow;
  std::string output;           // RegionTooSmall: the offending region's output
  std::uint64_t outputs = 0;    // CapacityTooSmall: the number of regions
  std::uint64_t capacity = 0;   // CapacityTooSmall: the effective capacity

  static GridLayoutError no_regions();
  static GridLayoutError region_too_small(std::string output);
  static GridLayoutError capacity_too_small(std::uint64_t outputs, std::uint64_t capacity);
  static GridLayoutError overflow();

  // The text the user sees when a grid request fails.
  std::string message() const;
  // The variant's name ("NoRegions", ...), for debug output.
  std::string_view name() const;
  bool operator==(const GridLayoutError&) const = default;
};

// `capacity` caps the number of cells (further capped by 26^max_label_length); the minimum tile
// size is the smallest cell a region may be cut into, unless the region itself is smaller in
// which case it fails with RegionTooSmall. No partial layout is ever returned.
std::expected<GridLevel, GridLayoutError> layout_grid(std::span<const GridRegion> regions,
                                                      std::uint64_t capacity,
                                                      std::uint8_t max_label_length,
                                                      std::uint32_t min_tile_width,
                                                      std::uint32_t min_tile_height);

// The number of cells layout_grid would produce with the same arguments, or the error it would
// give, without building the cells. Cheap enough to probe on every frame.
std::expected<std::uint64_t, GridLayoutError> count_grid_cells(std::span<const GridRegion> regions,
                                                               std::uint64_t capacity,
                                                               std::uint8_t max_label_length,
                                                               std::uint32_t min_tile_width,
                                                               std::uint32_t min_tile_height);

}  // namespace tarvik
