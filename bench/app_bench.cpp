// The controller's own cost on its two hot paths, each beside a baseline of the work it wraps:
// a grid key that redraws (against the frame function alone) and a mouse-mode motion tick
// (against the motion arithmetic alone). The difference is what App adds per event.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "app/app.h"
#include "app/backend.h"
#include "app/motion.h"
#include "config/config.h"
#include "mode/grid_session.h"
#include "mode/labels.h"
#include "render/frame.h"
#include "render/text_renderer.h"

namespace tarvik {
namespace {

class NullCompositor final : public CompositorControl {
 public:
  std::expected<std::optional<std::string>, SwayError> focused_output() override {
    return std::optional<std::string>("DP-1");
  }
  SwayStatus cursor_set(const std::string&, std::int64_t, std::int64_t) override { return {}; }
  SwayStatus pointer_to_focused_window(const std::string&) override { return {}; }
  SwayStatus cursor_move(const std::string&, double, double) override { return {}; }
  SwayStatus cursor_button(const std::string&, PointerButton, bool) override { return {}; }
  SwayStatus cursor_click(const std::string&, PointerButton) override { return {}; }
  SwayStatus cursor_scroll(const std::string&, ScrollDirection, double) override { return {}; }
};

// Accepts everything and keeps nothing but the last timer token, so that the benchmark can
// fire the timer the controller asked for.
class NullBackend final : public DisplayBackend {
 public:
  NullBackend() {
    outputs_.push_back(OutputRecord{"DP-1", 0, 0, 1920, 1080});
    overlays_.push_back(Overlay{"DP-1", true, 1920, 1080});
  }
  void set_events(BackendEvents*) override {}
  const std::vector<OutputRecord>& outputs() const override { return outputs_; }
  const std::vector<Overlay>& overlays() const override { return overlays_; }
  const std::string& seat_name() const override { return seat_; }
  bool shortcut_inhibition_available() const override { return true; }
  bool screen_capture_available() const override { return false; }
  bool virtual_pointer_available() const override { return true; }
  CompositorControl& compositor() override { return compositor_; }
  bool keyboard_capture_active() const override { return true; }
  std::uint64_t input_generation() const override { return 0; }
  void increment_input_generation() override {}
  Status capture_keyboard(const std::string&, bool) override { return {}; }
  void release_keyboard() override {}
  Status park_overlays() override { return {}; }
  Status present(const std::string&, std::span<const std::uint8_t> pixels, std::uint32_t,
                 std::uint32_t) override {
    benchmark::DoNotOptimize(pixels.data());
    return {};
  }
  PointerStatus click(PointerButton) override { return {}; }
  PointerStatus set_button(PointerButton, bool) override { return {}; }
  PointerStatus scroll(ScrollDirection, double) override { return {}; }
  PointerStatus move_pointer(double dx, double dy) override {
    benchmark::DoNotOptimize(dx);
    benchmark::DoNotOptimize(dy);
    return {};
  }
  Status request_capture(const std::string&, std::uint64_t) override { return {}; }
  void cancel_captures() override {}
  Status roundtrip() override { return {}; }
  Status schedule_timer(TimerKind, std::uint64_t token, std::chrono::nanoseconds) override {
    last_token = token;
    return {};
  }

  std::uint64_t last_token = 0;

 private:
  std::vector<OutputRecord> outputs_;
  std::vector<Overlay> overlays_;
  std::string seat_ = "seat0";
  NullCompositor compositor_;
};

struct Rig {
  NullBackend* backend = nullptr;
  std::chrono::steady_clock::time_point now{std::chrono::seconds(1)};
  std::unique_ptr<App> app;
};

std::unique_ptr<Rig> make_rig(const Command& mode) {
  auto rig = std::make_unique<Rig>();
  auto backend = std::make_unique<NullBackend>();
  rig->backend = backend.get();
  Rig* raw = rig.get();
  auto app = App::create(std::move(backend), Config{}, std::nullopt, [raw] { return raw->now; });
  if (!app || !(*app)->handle_command(mode)) return nullptr;
  rig->app = std::move(*app);
  return rig;
}

KeyEvent key(const char* name, std::uint32_t code) { return KeyEvent{name, code, false, false}; }

// Two redraws per iteration: a letter narrows the labels, the back key widens them again.
void BM_GridKeyRedraw(benchmark::State& state) {
  auto rig = make_rig(command::Grid{});
  if (!rig) {
    state.SkipWithError("cannot start grid mode");
    return;
  }
  for (auto _ : state) {
    rig->app->on_key(key("i", 23));
    rig->app->on_key(key("BackSpace", 14));
  }
}
BENCHMARK(BM_GridKeyRedraw)->Unit(benchmark::kMillisecond);

// Baseline: the same two frames from the frame function, with the key interpretation.
void BM_GridFramesOnly(benchmark::State& state) {
  const Config config;
  const std::vector<OutputRecord> outputs{OutputRecord{"DP-1", 0, 0, 1920, 1080}};
  const std::vector<Overlay> overlays{Overlay{"DP-1", true, 1920, 1080}};
  const std::vector<GridRegion> regions{GridRegion{"DP-1", 0, 0, 1920, 1080}};
  auto session = start_grid_session(regions, config, GridOptions{}, false);
  auto text = load_text_renderer(config.ui);
  if (!session || !text) {
    state.SkipWithError("cannot build the session");
    return;
  }
  FrameInput input{.config = config,
                   .outputs = outputs,
                   .overlays = overlays,
                   .session = &*session,
                   .capture_pending = false,
                   .animation = std::nullopt,
                   .capture = nullptr,
                   .capture_output = {},
                   .mouse = std::nullopt,
                   .pointer_target = std::nullopt,
                   .focused_output = "DP-1"};
  for (auto _ : state) {
    for (const char* name : {"i", "BackSpace"}) {
      benchmark::DoNotOptimize(handle_grid_key(*session, name, config.bindings.grid, false));
      auto frames = render_frames(text->renderer, input);
      benchmark::DoNotOptimize(frames);
    }
  }
}
BENCHMARK(BM_GridFramesOnly)->Unit(benchmark::kMillisecond);

// One motion tick with a direction held, 8 ms after the previous one.
void BM_MotionTick(benchmark::State& state) {
  auto rig = make_rig(command::Mouse{});
  if (!rig) {
    state.SkipWithError("cannot start mouse mode");
    return;
  }
  rig->app->on_key(key("h", 35));
  for (auto _ : state) {
    rig->now += std::chrono::milliseconds(8);
    rig->app->on_timer(TimerKind::MotionTick, rig->backend->last_token);
  }
}
BENCHMARK(BM_MotionTick);

// Baseline: the motion arithmetic of one tick alone.
void BM_MotionArithmeticOnly(benchmark::State& state) {
  const config::Motion motion;
  MotionClock clock;
  std::chrono::steady_clock::time_point now{std::chrono::seconds(1)};
  for (auto _ : state) {
    now += std::chrono::milliseconds(8);
    benchmark::DoNotOptimize(advance_motion(clock, motion, now));
  }
}
BENCHMARK(BM_MotionArithmeticOnly);

}  // namespace
}  // namespace tarvik
