// Grid layout at the largest grid the configuration allows (65536 cells over two 3840 x 2160
// outputs), and the descent probe the renderer runs on every frame with a selection. The
// baseline writes the same number of cells without any layout work, so the layout's own cost
// is the difference.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "mode/grid_layout.h"
#include "mode/grid_session.h"

namespace tarvik {
namespace {

constexpr std::uint64_t kLargestGrid = 65536;

const std::vector<GridRegion> kTwoUhd{GridRegion{"DP-1", 0, 0, 3840, 2160},
                                      GridRegion{"DP-2", 0, 0, 3840, 2160}};

void BM_BaselineWriteCells(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<GridCell> cells;
    cells.reserve(kLargestGrid);
    for (std::uint32_t i = 0; i < kLargestGrid; ++i) {
      cells.push_back(GridCell{i < kLargestGrid / 2 ? "DP-1" : "DP-2", "abcd", i, i, 1, 1});
    }
    benchmark::DoNotOptimize(cells.data());
    benchmark::ClobberMemory();
  }
  state.counters["cells"] = static_cast<double>(kLargestGrid);
}
BENCHMARK(BM_BaselineWriteCells)->Unit(benchmark::kMicrosecond);

void BM_LayoutLargestGrid(benchmark::State& state) {
  std::size_t cells = 0;
  for (auto _ : state) {
    auto level = layout_grid(kTwoUhd, kLargestGrid, 4, 1, 1);
    if (!level) {
      state.SkipWithError("layout failed");
      return;
    }
    cells = level->cells.size();
    benchmark::DoNotOptimize(level->cells.data());
  }
  state.counters["cells"] = static_cast<double>(cells);
}
BENCHMARK(BM_LayoutLargestGrid)->Unit(benchmark::kMicrosecond);

// The scale search alone: the part of the layout that does not scale with the cell count.
void BM_CountLargestGrid(benchmark::State& state) {
  for (auto _ : state) {
    auto count = count_grid_cells(kTwoUhd, kLargestGrid, 4, 1, 1);
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_CountLargestGrid)->Unit(benchmark::kMicrosecond);

GridSession largest_session() {
  Config config;
  config.grid.max_cells = kLargestGrid;
  config.grid.max_label_length = 4;
  config.grid.root_min_tile_width = 24;
  config.grid.root_min_tile_height = 16;
  config.grid.min_tile_width = 1;
  config.grid.min_tile_height = 1;
  config.grid.refinement_zoom = 4.0;
  auto session = start_grid_session(kTwoUhd, config, GridOptions{}, true);
  if (!session) return GridSession{};
  session->selected = session->levels.front().cells.size() / 2;
  return std::move(*session);
}

void BM_CanDescend(benchmark::State& state) {
  const GridSession session = largest_session();
  if (session.levels.empty()) {
    state.SkipWithError("session failed");
    return;
  }
  for (auto _ : state) {
    bool possible = can_descend(session);
    benchmark::DoNotOptimize(possible);
  }
  state.counters["root_cells"] = static_cast<double>(session.levels.front().cells.size());
}
BENCHMARK(BM_CanDescend)->Unit(benchmark::kMicrosecond);

// What a descent builds, for comparison with the probe.
void BM_BuildChildLevel(benchmark::State& state) {
  const GridSession session = largest_session();
  if (session.levels.empty()) {
    state.SkipWithError("session failed");
    return;
  }
  const GridCell cell = *selected_cell(session);
  std::size_t cells = 0;
  for (auto _ : state) {
    auto child = build_child_level(session, cell);
    if (child && *child) cells = (*child)->level.cells.size();
    benchmark::DoNotOptimize(child);
  }
  state.counters["cells"] = static_cast<double>(cells);
}
BENCHMARK(BM_BuildChildLevel)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvik
