// Test doubles for the controller: a display backend and a compositor control that record every
// call in order (as short readable lines) and fail on request, a clock the test moves by hand,
// and a harness that builds an App around them.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/backend.h"
#include "config/config.h"

namespace tarvik::testing {

// Calls of the backend and of its compositor control, in one shared order.
struct CallLog {
  std::vector<std::string> lines;
  void add(std::string line) { lines.push_back(std::move(line)); }
  // Lines recorded since the last take().
  std::vector<std::string> take();
  std::size_t taken = 0;
};

struct ScheduledTimer {
  TimerKind kind = TimerKind::MotionTick;
  std::uint64_t token = 0;
  std::chrono::nanoseconds delay{0};
};

class FakeCompositor final : public CompositorControl {
 public:
  explicit FakeCompositor(CallLog& log) : log_(log) {}

  std::expected<std::optional<std::string>, SwayError> focused_output() override;
  SwayStatus cursor_set(const std::string& seat, std::int64_t x, std::int64_t y) override;
  SwayStatus pointer_to_focused_window(const std::string& seat) override;
  SwayStatus cursor_move(const std::string& seat, double dx, double dy) override;
  SwayStatus cursor_button(const std::string& seat, PointerButton button, bool release) override;
  SwayStatus cursor_click(const std::string& seat, PointerButton button) override;
  SwayStatus cursor_scroll(const std::string& seat, ScrollDirection direction,
                           double step) override;

  // What focused_output answers.
  std::expected<std::optional<std::string>, SwayError> focused = std::optional<std::string>{};
  // Operation name -> the error it fails with.
  std::map<std::string, SwayError> failures;

 private:
  SwayStatus result(const std::string& operation);
  CallLog& log_;
};

class RecordingBackend final : public DisplayBackend {
 public:
  RecordingBackend();

  void set_events(BackendEvents* events) override { events_ = events; }
  const std::vector<OutputRecord>& outputs() const override { return output_list; }
  const std::vector<Overlay>& overlays() const override { return overlay_list; }
  const std::string& seat_name() const override { return seat; }
  bool shortcut_inhibition_available() const override { return inhibition; }
  bool screen_capture_available() const override { return screen_capture; }
  bool virtual_pointer_available() const override { return virtual_pointer; }
  CompositorControl& compositor() override { return compositor_; }
  bool keyboard_capture_active() const override { return capture_active; }
  std::uint64_t input_generation() const override { return generation; }
  void increment_input_generation() override;

  Status capture_keyboard(const std::string& output, bool preserve_focus) override;
  void release_keyboard() override;
  Status park_overlays() override;
  Status present(const std::string& output, std::span<const std::uint8_t> pixels,
                 std::uint32_t width, std::uint32_t height) override;
  PointerStatus click(PointerButton button) override;
  PointerStatus set_button(PointerButton button, bool release) override;
  PointerStatus scroll(ScrollDirection direction, double step) override;
  PointerStatus move_pointer(double dx, double dy) override;
  Status request_capture(const std::string& output, std::uint64_t serial) override;
  void cancel_captures() override;
  Status roundtrip() override;
  Status schedule_timer(TimerKind kind, std::uint64_t token,
                        std::chrono::nanoseconds delay) override;

  // Outputs and overlays as the backend would have them; every overlay configured.
  void set_outputs(std::vector<OutputRecord> outputs);

  BackendEvents* events() const { return events_; }
  FakeCompositor& fake_compositor() { return compositor_; }

  CallLog log;
  std::vector<OutputRecord> output_list;
  std::vector<Overlay> overlay_list;
  std::string seat = "seat0";
  bool inhibition = true;
  bool screen_capture = false;
  bool virtual_pointer = true;
  bool capture_active = false;
  std::uint64_t generation = 0;
  // Operation name -> the error text it fails with; pointer operations fail as Backend.
  std::map<std::string, std::string> failures;
  // Every timer asked for, oldest first; fire() takes them out.
  std::deque<ScheduledTimer> timers;
  // Relative moves, for arithmetic on the distances.
  std::vector<std::pair<double, double>> moves;
  // The last frame's bytes per output.
  std::map<std::string, std::vector<std::uint8_t>> frames;

 private:
  Status result(const std::string& operation);
  BackendEvents* events_ = nullptr;
  FakeCompositor compositor_;
};

class FakeClock {
 public:
  std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
  void advance(std::chrono::nanoseconds by) { now += by; }
  MonotonicClock function() {
    return [this] { return now; };
  }
};

// An App around a RecordingBackend; the backend stays reachable through `backend`.
struct Harness {
  RecordingBackend* backend = nullptr;
  FakeClock clock;
  std::unique_ptr<App> app;

  FakeCompositor& compositor() { return backend->fake_compositor(); }
  std::vector<std::string> calls() { return backend->log.take(); }

  // A client request as the daemon serves it: a failure cancels before it is answered.
  std::expected<std::string, std::string> request(const Command& command);

  // Key events as the keyboard delivers them.
  void press(const std::string& name, std::uint32_t code = 0);
  void repeat(const std::string& name, std::uint32_t code = 0);
  void release(const std::string& name, std::uint32_t code = 0);
  void type(const std::string& letters);

  // Fires the oldest pending timer of that kind; false when there is none.
  bool fire(TimerKind kind);
  std::optional<ScheduledTimer> pending(TimerKind kind) const;
};

// One 1920 x 1080 output "DP-1" at the origin, focused, inhibition offered, no screen capture.
std::unique_ptr<RecordingBackend> standard_backend();

// Builds the App; the clock starts at 1000 s. Throws nothing: a failed create fails the test.
std::unique_ptr<Harness> make_harness(Config config = {},
                                      std::unique_ptr<RecordingBackend> backend = nullptr,
                                      std::optional<std::string> config_path = std::nullopt);

// The calls of one cancel from the backend's side.
std::vector<std::string> cancel_calls();

// Joins calls for readable failure output.
std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts);

}  // namespace tarvik::testing
