#include "mode/grid_layout.h"

#include <array>
#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace tarvik {

namespace {

constexpr std::uint64_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr int kMaxLabelDigits = 13;  // 26^13 is the largest power of 26 in 64 bits
constexpr int kBisectionRounds = 64;

constexpr std::array<std::uint64_t, kMaxLabelDigits + 1> kPowersOf26 = [] {
  std::array<std::uint64_t, kMaxLabelDigits + 1> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 26;
  return powers;
}();

// Tiles of `min_tile * scale` along one side of `extent`: at least one, at most 2^32 - 1.
// Degenerate inputs (a zero minimum gives an infinite or undefined quotient) land on the bounds.
std::uint64_t tiles_along(std::uint32_t extent, std::uint32_t min_tile, double scale) {
  double tiles = std::floor(static_cast<double>(extent) / (static_cast<double>(min_tile) * scale));
  if (!(tiles >= 1.0)) return 1;
  if (tiles >= static_cast<double>(kMaxU32)) return kMaxU32;
  return static_cast<std::uint64_t>(tiles);
}

struct Split {
  std::uint64_t columns = 1;
  std::uint64_t rows = 1;
};

struct Plan {
  double scale = 1.0;
  std::uint64_t total = 0;
  std::uint8_t label_len = 1;
};

class Planner {
 public:
  Planner(std::span<const GridRegion> regions, std::uint32_t min_tile_width,
          std::uint32_t min_tile_height)
      : regions_(regions), min_width_(min_tile_width), min_height_(min_tile_height) {}

  Split split(const GridRegion& region, double scale) const {
    return Split{tiles_along(region.width, min_width_, scale),
                 tiles_along(region.height, min_height_, scale)};
  }

  std::expected<std::uint64_t, GridLayoutError> total(double scale) const {
    std::uint64_t sum = 0;
    for (const GridRegion& region : regions_) {
      Split s = split(region, scale);
      // Both factors are below 2^32, so the product itself cannot wrap.
      std::uint64_t cells = s.columns * s.rows;
      if (cells > kMaxU32) return std::unexpected(GridLayoutError::overflow());
      if (__builtin_add_overflow(sum, cells, &sum)) {
        return std::unexpected(GridLayoutError::overflow());
      }
    }
    return sum;
  }

 private:
  std::span<const GridRegion> regions_;
  std::uint32_t min_width_;
  std::uint32_t min_height_;
};

std::expected<Plan, GridLayoutError> plan_grid(std::span<const GridRegion> regions,
                                               std::uint64_t capacity,
                                               std::uint8_t max_label_length,
                                               std::uint32_t min_tile_width,
                                               std::uint32_t min_tile_height) {
  if (regions.empty()) return std::unexpected(GridLayoutError::no_regions());
  for (const GridRegion& region : regions) {
    if (region.width < min_tile_width || region.height < min_tile_height) {
      return std::unexpected(GridLayoutError::region_too_small(region.output));
    }
  }
  if (max_label_length > kMaxLabelDigits) return std::unexpected(GridLayoutError::overflow());
  std::uint64_t effective = std::min(kPowersOf26[max_label_length], capacity);
  if (effective < regions.size()) {
    return std::unexpected(GridLayoutError::capacity_too_small(regions.size(), effective));
  }

  Planner planner(regions, min_tile_width, min_tile_height);
  auto at_one = planner.total(1.0);
  if (!at_one) return std::unexpected(at_one.error());

  // One scale for all regions keeps the tile aspect ratio equal on every output.
  double scale = 1.0;
  if (*at_one > effective) {
    double low = 1.0;
    double high = 2.0;
    for (;;) {
      auto t = planner.total(high);
      if (!t) return std::unexpected(t.error());
      if (*t <= effective) break;
      low = high;
      high *= 2.0;
      if (!std::isfinite(high)) return std::unexpected(GridLayoutError::overflow());
    }
    for (int round = 0; round < kBisectionRounds; ++round) {
      double mid = (low + high) * 0.5;
      auto t = planner.total(mid);
      if (!t) return std::unexpected(t.error());
      if (*t <= effective) {
        high = mid;
      } else {
        low = mid;
      }
    }
    scale = high;
  }

  auto total = planner.total(scale);
  if (!total) return std::unexpected(total.error());

  int digits_limit = std::min<int>(max_label_length, kMaxLabelDigits);
  int label_len = 0;
  for (int n = 1; n <= digits_limit; ++n) {
    if (kPowersOf26[n] >= *total) {
      label_len = n;
      break;
    }
  }
  if (label_len == 0) return std::unexpected(GridLayoutError::overflow());

  // The far edge of the last column (row) is the region's own far edge; every other cell edge
  // lies before it, so this is the only boundary that can leave 32 bits.
  for (const GridRegion& region : regions) {
    if (std::uint64_t{region.x} + region.width > kMaxU32 ||
        std::uint64_t{region.y} + region.height > kMaxU32) {
      return std::unexpected(GridLayoutError::overflow());
    }
  }
  return Plan{scale, *total, static_cast<std::uint8_t>(label_len)};
}

}  // namespace

GridLayoutError GridLayoutError::no_regions() { return GridLayoutError{Kind::NoRegions, {}, 0, 0}; }

GridLayoutError GridLayoutError::region_too_small(std::string output) {
  return GridLayoutError{Kind::RegionTooSmall, std::move(output), 0, 0};
}

GridLayoutError GridLayoutError::capacity_too_small(std::uint64_t outputs, std::uint64_t capacity) {
  return GridLayoutError{Kind::CapacityTooSmall, {}, outputs, capacity};
}

GridLayoutError GridLayoutError::overflow() { return GridLayoutError{Kind::Overflow, {}, 0, 0}; }

std::string GridLayoutError::message() const {
  switch (kind) {
    case Kind::NoRegions:
      return "grid needs at least one region";
    case Kind::RegionTooSmall:
      return fmt::format("region {} is smaller than the configured minimum tile size", output);
    case Kind::CapacityTooSmall:
      return fmt::format("{} outputs cannot fit within a capacity of {} cells", outputs, capacity);
    case Kind::Overflow:
      return "grid dimensions overflow";
  }
  return "grid dimensions overflow";
}

std::string_view GridLayoutError::name() const {
  switch (kind) {
    case Kind::NoRegions:
      return "NoRegions";
    case Kind::RegionTooSmall:
      return "RegionTooSmall";
    case Kind::CapacityTooSmall:
      return "CapacityTooSmall";
    case Kind::Overflow:
      return "Overflow";
  }
  return "Overflow";
}

std::expected<std::uint64_t, GridLayoutError> count_grid_cells(std::span<const GridRegion> regions,
                                                               std::uint64_t capacity,
                                                               std::uint8_t max_label_length,
                                                               std::uint32_t min_tile_width,
                                                               std::uint32_t min_tile_height) {
  auto plan = plan_grid(regions, capacity, max_label_length, min_tile_width, min_tile_height);
  if (!plan) return std::unexpected(plan.error());
  return plan->total;
}

std::expected<GridLevel, GridLayoutError> layout_grid(std::span<const GridRegion> regions,
                                                      std::uint64_t capacity,
                                                      std::uint8_t max_label_length,
                                                      std::uint32_t min_tile_width,
                                                      std::uint32_t min_tile_height) {
  auto plan = plan_grid(regions, capacity, max_label_length, min_tile_width, min_tile_height);
  if (!plan) return std::unexpected(plan.error());

  GridLevel level;
  level.label_len = plan->label_len;
  level.cells.reserve(plan->total);

  // The label of the running cell index, kept as digits and incremented in place.
  std::array<char, kMaxLabelDigits> digits{};
  digits.fill('a');
  const std::string_view label(digits.data(), plan->label_len);
  auto next_label = [&digits, n = plan->label_len] {
    for (int i = n - 1; i >= 0; --i) {
      if (digits[i] != 'z') {
        ++digits[i];
        return;
      }
      digits[i] = 'a';
    }
  };

  Planner planner(regions, min_tile_width, min_tile_height);
  std::vector<std::uint32_t> column_edges;
  for (const GridRegion& region : regions) {
    const Split s = planner.split(region, plan->scale);
    // Cumulative floors spread the remainder pixels: boundaries never drift and the last one is
    // exactly the region's edge. plan_grid checked that every edge fits in 32 bits. The column
    // edges are the same on every row, so they are divided out once.
    column_edges.resize(s.columns + 1);
    for (std::uint64_t c = 0; c <= s.columns; ++c) {
      column_edges[c] = static_cast<std::uint32_t>(region.x + c * region.width / s.columns);
    }
    std::uint32_t top = region.y;
    for (std::uint64_t r = 0; r < s.rows; ++r) {
      const auto bottom = static_cast<std::uint32_t>(region.y + (r + 1) * region.height / s.rows);
      for (std::uint64_t c = 0; c < s.columns; ++c) {
        level.cells.emplace_back(region.output, std::string(label), column_edges[c], top,
                                 column_edges[c + 1] - column_edges[c], bottom - top);
        next_label();
      }
      top = bottom;
    }
  }
  return level;
}

}  // namespace tarvik
