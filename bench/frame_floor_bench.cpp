// The floor beside the daemon's key-to-frame latency: the least a redraw of one output costs is
// writing the frame's bytes once and copying them into a shared-memory buffer, as the daemon
// does on every present. Beside it the default grid's frame alone, with the default
// configuration, so the daemon's latency splits into drawing and everything else. Sizes are the
// outputs daemon_timing.py measures.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "mode/labels.h"
#include "render/frame.h"

namespace tarvik {
namespace {

void BM_FrameFloorShm(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0) * state.range(1) * 4);
  std::vector<std::uint8_t> canvas(bytes);
  int fd = memfd_create("tarvik-bench", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
    throw std::runtime_error("cannot create shared memory");
  }
  void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) throw std::runtime_error("cannot map shared memory");
  auto* shm = static_cast<std::uint8_t*>(mapped);
  for (auto _ : state) {
    std::memset(canvas.data(), 0x59, bytes);
    benchmark::ClobberMemory();
    std::memcpy(shm, canvas.data(), bytes);
    benchmark::DoNotOptimize(shm);
    benchmark::ClobberMemory();
  }
  munmap(mapped, bytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_FrameFloorShm)
    ->Args({1280, 720})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMicrosecond);

TextRenderer& text() {
  static TextRenderer renderer = [] {
    auto loaded = load_text_renderer(std::nullopt);
    if (!loaded) throw std::runtime_error(loaded.error().message());
    return std::move(loaded->renderer);
  }();
  return renderer;
}

// Nothing typed, and with one letter typed (most cells dimmed): the two frames the daemon
// timing alternates between.
void BM_DefaultGridFrame(benchmark::State& state) {
  const auto width = static_cast<std::uint32_t>(state.range(0));
  const auto height = static_cast<std::uint32_t>(state.range(1));
  Config config;
  std::vector<OutputRecord> outputs{OutputRecord{"DP-1", 0, 0, static_cast<std::int32_t>(width),
                                                 static_cast<std::int32_t>(height)}};
  std::vector<Overlay> overlays{Overlay{"DP-1", true, width, height}};
  const GridRegion region{"DP-1", 0, 0, width, height};
  auto session = start_grid_session(std::span(&region, 1), config, GridOptions{}, false);
  if (!session) throw std::runtime_error(session.error().message());
  if (state.range(2) == 1) type_label_letter(*session, "a");
  FrameInput input{.config = config, .outputs = outputs, .overlays = overlays,
                   .session = &*session};
  for (auto _ : state) {
    auto frames = render_frames(text(), input);
    if (!frames || frames->size() != 1) state.SkipWithError("no frame");
    benchmark::DoNotOptimize(frames->front().pixels.data());
  }
  state.counters["cells"] = static_cast<double>(current_level(*session).cells.size());
}
BENCHMARK(BM_DefaultGridFrame)
    ->ArgsProduct({{1280}, {720}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1}})
    ->ArgsProduct({{3840}, {2160}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvik
