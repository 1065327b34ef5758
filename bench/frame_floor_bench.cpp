// The floor beside the daemon's key-to-frame latency: the least a redraw of one output costs is
// writing the frame's bytes once and copying them into a shared-memory buffer. Beside it the
// default grid's frame alone, with the default configuration, so the daemon's latency splits
// into drawing and everything else; and the whole redraw both ways the daemon has done it: a
// frame drawn on a canvas of its own and copied into shared memory (the baseline), and a frame
// drawn straight into the shared memory. Sizes are the outputs daemon_timing.py measures.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "mode/labels.h"
#include "render/frame.h"

namespace tarvik {
namespace {

// A shared-memory mapping like one overlay buffer (a slot the pool hands out again once the
// compositor released it, so its pages are already faulted in after the first frame).
class SharedFrame {
 public:
  explicit SharedFrame(std::size_t bytes) : bytes_(bytes) {
    int fd = memfd_create("tarvik-bench", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      throw std::runtime_error("cannot create shared memory");
    }
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (mapped == MAP_FAILED) throw std::runtime_error("cannot map shared memory");
    map_ = static_cast<std::uint8_t*>(mapped);
  }
  SharedFrame(const SharedFrame&) = delete;
  SharedFrame& operator=(const SharedFrame&) = delete;
  ~SharedFrame() { munmap(map_, bytes_); }
  std::span<std::uint8_t> bytes() { return {map_, bytes_}; }

 private:
  std::size_t bytes_;
  std::uint8_t* map_;
};

void BM_FrameFloorShm(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0) * state.range(1) * 4);
  std::vector<std::uint8_t> canvas(bytes);
  SharedFrame frame(bytes);
  std::uint8_t* shm = frame.bytes().data();
  for (auto _ : state) {
    std::memset(canvas.data(), 0x59, bytes);
    benchmark::ClobberMemory();
    std::memcpy(shm, canvas.data(), bytes);
    benchmark::DoNotOptimize(shm);
    benchmark::ClobberMemory();
  }
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

// The default grid scene the daemon timing alternates through.
struct DefaultScene {
  DefaultScene(std::uint32_t width, std::uint32_t height, bool typed)
      : outputs{OutputRecord{"DP-1", 0, 0, static_cast<std::int32_t>(width),
                             static_cast<std::int32_t>(height)}},
        overlays{Overlay{"DP-1", true, width, height}} {
    const GridRegion region{"DP-1", 0, 0, width, height};
    auto started = start_grid_session(std::span(&region, 1), config, GridOptions{}, false);
    if (!started) throw std::runtime_error(started.error().message());
    session = std::move(*started);
    if (typed) type_label_letter(*session, "a");
  }
  FrameInput input() const {
    return FrameInput{.config = config, .outputs = outputs, .overlays = overlays,
                      .session = &*session};
  }
  Config config;
  std::vector<OutputRecord> outputs;
  std::vector<Overlay> overlays;
  std::optional<GridSession> session;
};

// Baseline redraw: the frame on a canvas of its own, then copied into the shared buffer.
void BM_RedrawCopied(benchmark::State& state) {
  const auto width = static_cast<std::uint32_t>(state.range(0));
  const auto height = static_cast<std::uint32_t>(state.range(1));
  const DefaultScene scene(width, height, state.range(2) == 1);
  const FrameInput input = scene.input();
  SharedFrame shm(std::size_t{width} * height * 4);
  for (auto _ : state) {
    auto frames = render_frames(text(), input);
    if (!frames || frames->size() != 1) state.SkipWithError("no frame");
    std::memcpy(shm.bytes().data(), frames->front().pixels.data(), shm.bytes().size());
    benchmark::ClobberMemory();
  }
}

void draw_into(benchmark::State& state, std::span<std::uint8_t> memory, const FrameInput& input) {
  const FramePlan plan = plan_frames(input);
  if (plan.frames.size() != 1) state.SkipWithError("no frame");
  const PlannedFrame& frame = plan.frames.front();
  auto canvas = Canvas::wrap(memory, frame.width, frame.height, frame.start);
  if (!canvas) state.SkipWithError("no canvas");
  draw_frame(text(), input, plan, frame, *canvas);
  benchmark::ClobberMemory();
}

// The redraw as the controller does it now: the frame drawn straight into the shared buffer.
void BM_RedrawIntoShm(benchmark::State& state) {
  const auto width = static_cast<std::uint32_t>(state.range(0));
  const auto height = static_cast<std::uint32_t>(state.range(1));
  const DefaultScene scene(width, height, state.range(2) == 1);
  const FrameInput input = scene.input();
  SharedFrame shm(std::size_t{width} * height * 4);
  for (auto _ : state) draw_into(state, shm.bytes(), input);
}

// The same drawing into private memory kept from frame to frame, and into private memory fresh
// from the kernel each time: what the kind of memory costs, apart from the copy.
void BM_RedrawIntoHeap(benchmark::State& state) {
  const auto width = static_cast<std::uint32_t>(state.range(0));
  const auto height = static_cast<std::uint32_t>(state.range(1));
  const DefaultScene scene(width, height, state.range(2) == 1);
  const FrameInput input = scene.input();
  const std::size_t bytes = std::size_t{width} * height * 4;
  if (state.range(3) == 0) {
    std::vector<std::uint8_t> kept(bytes);
    for (auto _ : state) draw_into(state, kept, input);
  } else {
    for (auto _ : state) {
      std::unique_ptr<std::uint8_t[]> fresh(new std::uint8_t[bytes]);
      draw_into(state, {fresh.get(), bytes}, input);
    }
  }
}
BENCHMARK(BM_RedrawIntoHeap)
    ->ArgsProduct({{1920}, {1080}, {0}, {0, 1}})
    ->ArgsProduct({{3840}, {2160}, {0}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_RedrawCopied)
    ->ArgsProduct({{1280}, {720}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1}})
    ->ArgsProduct({{3840}, {2160}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RedrawIntoShm)
    ->ArgsProduct({{1280}, {720}, {0, 1}})
    ->ArgsProduct({{1920}, {1080}, {0, 1}})
    ->ArgsProduct({{3840}, {2160}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvik
