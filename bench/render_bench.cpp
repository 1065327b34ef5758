// Frame production against its floor: every key press redraws whole outputs in software, so a
// frame is compared with the least any frame costs, filling and copying its bytes once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "mode/labels.h"
#include "render/frame.h"

namespace tarvik {
namespace {

// memset + memcpy of one frame's bytes.
void BM_Floor(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0) * state.range(1) * 4);
  std::vector<std::uint8_t> canvas(bytes);
  std::vector<std::uint8_t> frame(bytes);
  for (auto _ : state) {
    std::memset(canvas.data(), 0x59, bytes);
    benchmark::ClobberMemory();
    std::memcpy(frame.data(), canvas.data(), bytes);
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

TextRenderer& text() {
  static TextRenderer renderer = [] {
    auto loaded = load_text_renderer(std::nullopt);
    if (!loaded) throw std::runtime_error(loaded.error().message());
    return std::move(loaded->renderer);
  }();
  return renderer;
}

struct Scene {
  Config config;
  std::vector<OutputRecord> outputs;
  std::vector<Overlay> overlays;
  GridSession session;
};

Scene grid_scene(std::uint32_t width, std::uint32_t height, std::uint64_t max_cells,
                 std::uint32_t tile_width, std::uint32_t tile_height) {
  Scene scene;
  scene.config.grid.max_cells = max_cells;
  scene.config.grid.max_label_length = 4;
  scene.config.grid.root_min_tile_width = tile_width;
  scene.config.grid.root_min_tile_height = tile_height;
  scene.outputs = {OutputRecord{"DP-1", 0, 0, static_cast<std::int32_t>(width),
                                static_cast<std::int32_t>(height)}};
  scene.overlays = {Overlay{"DP-1", true, width, height}};
  const GridRegion region{"DP-1", 0, 0, width, height};
  auto session = start_grid_session(std::span(&region, 1), scene.config, GridOptions{}, false);
  if (!session) throw std::runtime_error(session.error().message());
  scene.session = std::move(*session);
  return scene;
}

void run_frames(benchmark::State& state, Scene& scene, std::optional<MouseFrameState> mouse = {}) {
  FrameInput input{.config = scene.config, .outputs = scene.outputs, .overlays = scene.overlays,
                   .session = &scene.session};
  input.mouse = mouse;
  input.pointer_target = GridPoint{"DP-1", 400, 300};
  for (auto _ : state) {
    auto frames = render_frames(text(), input);
    if (!frames || frames->size() != 1) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(frames->front().pixels.data());
  }
  state.counters["cells"] = static_cast<double>(current_level(scene.session).cells.size());
}

// The same frame with every primitive through the rasteriser: what the direct fills save.
void BM_GridFrameReference(benchmark::State& state) {
  Scene scene = grid_scene(static_cast<std::uint32_t>(state.range(0)),
                           static_cast<std::uint32_t>(state.range(1)), 4096, 96, 54);
  FrameInput input{.config = scene.config, .outputs = scene.outputs, .overlays = scene.overlays,
                   .session = &scene.session};
  for (auto _ : state) {
    auto canvas = draw_grid_canvas(text(), input, scene.outputs[0], {}, GridDrawing::Reference);
    if (!canvas) state.SkipWithError("no canvas");
    benchmark::DoNotOptimize(canvas->pixels().data());
  }
}

// The default 20 x 20 grid of a 1920 x 1080 output, nothing typed.
void BM_GridFrame(benchmark::State& state) {
  Scene scene = grid_scene(static_cast<std::uint32_t>(state.range(0)),
                           static_cast<std::uint32_t>(state.range(1)), 4096, 96, 54);
  run_frames(state, scene);
}

// One letter typed, so most cells are dimmed, then a selection with the hint panel.
void BM_GridFrameTyped(benchmark::State& state) {
  Scene scene = grid_scene(1920, 1080, 4096, 96, 54);
  type_label_letter(scene.session, "i");
  if (state.range(0) == 1) type_label_letter(scene.session, "a");
  run_frames(state, scene);
}

// The largest grid allowed: 65536 cells on one output.
void BM_GridFrameMaxCells(benchmark::State& state) {
  Scene scene = grid_scene(1920, 1080, 65536, 4, 4);
  run_frames(state, scene);
}

// A refined level in a 4x lens over a screen capture of a scale-1 output, as drawn for every
// frame of the lens animation; it must stay well inside the 15 ms frame interval.
void BM_LensFrame(benchmark::State& state) {
  const auto width = static_cast<std::uint32_t>(state.range(0));
  const auto height = static_cast<std::uint32_t>(state.range(1));
  Scene scene;
  scene.config.grid.refinement_zoom = 4;
  scene.outputs = {OutputRecord{"DP-1", 0, 0, static_cast<std::int32_t>(width),
                                static_cast<std::int32_t>(height)}};
  scene.overlays = {Overlay{"DP-1", true, width, height}};
  const GridRegion region{"DP-1", 0, 0, width, height};
  scene.session = *start_grid_session(std::span(&region, 1), scene.config, GridOptions{}, true);
  // A cell near the middle of the output.
  const GridLevel& root = current_level(scene.session);
  const std::string label = root.cells[root.cells.size() / 2].label;
  for (char letter : label) type_label_letter(scene.session, std::string(1, letter));
  if (!descend(scene.session)) state.SkipWithError("no lens");
  HeldCapture capture;
  capture.width = capture.logical_width = width;
  capture.height = capture.logical_height = height;
  capture.pixels.assign(std::size_t{width} * height * 4, 0x80);
  FrameInput input{.config = scene.config, .outputs = scene.outputs, .overlays = scene.overlays,
                   .session = &scene.session, .capture = &capture, .capture_output = "DP-1"};
  const LensView target = *current_view(scene.session);
  LensView opening = target;
  opening.lens = target.source;
  input.animation = AnimationFrame{opening, 0.5f, false};
  for (auto _ : state) {
    auto frames = render_frames(text(), input);
    if (!frames || frames->size() != 1) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(frames->front().pixels.data());
  }
}

void BM_MouseFrame(benchmark::State& state) {
  Scene scene = grid_scene(static_cast<std::uint32_t>(state.range(0)),
                           static_cast<std::uint32_t>(state.range(1)), 4096, 96, 54);
  run_frames(state, scene, MouseFrameState{});
}

BENCHMARK(BM_Floor)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridFrameReference)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridFrameTyped)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GridFrameMaxCells)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LensFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MouseFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvik
