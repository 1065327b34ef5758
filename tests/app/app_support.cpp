#include "app/app_support.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "cli/words.h"

namespace tarvik::testing {
namespace {

int kind_number(TimerKind kind) { return static_cast<int>(kind); }

}  // namespace

std::vector<std::string> CallLog::take() {
  std::vector<std::string> out(lines.begin() + static_cast<std::ptrdiff_t>(taken), lines.end());
  taken = lines.size();
  return out;
}

// ---- FakeCompositor --------------------------------------------------------------------------

SwayStatus FakeCompositor::result(const std::string& operation) {
  if (auto it = failures.find(operation); it != failures.end()) return std::unexpected(it->second);
  return {};
}

std::expected<std::optional<std::string>, SwayError> FakeCompositor::focused_output() {
  log_.add("focused_output");
  return focused;
}

SwayStatus FakeCompositor::cursor_set(const std::string& seat, std::int64_t x, std::int64_t y) {
  log_.add(fmt::format("cursor_set {} {} {}", seat, x, y));
  return result("cursor_set");
}

SwayStatus FakeCompositor::pointer_to_focused_window(const std::string& seat) {
  log_.add(fmt::format("pointer_to_focused_window {}", seat));
  return result("pointer_to_focused_window");
}

SwayStatus FakeCompositor::cursor_move(const std::string& seat, double dx, double dy) {
  log_.add(fmt::format("cursor_move {} {} {}", seat, dx, dy));
  return result("cursor_move");
}

SwayStatus FakeCompositor::cursor_button(const std::string& seat, PointerButton button,
                                         bool release) {
  log_.add(fmt::format("cursor_button {} {} {}", seat, word(button),
                       release ? "release" : "press"));
  return result("cursor_button");
}

SwayStatus FakeCompositor::cursor_click(const std::string& seat, PointerButton button) {
  log_.add(fmt::format("cursor_click {} {}", seat, word(button)));
  return result("cursor_click");
}

SwayStatus FakeCompositor::cursor_scroll(const std::string& seat, ScrollDirection direction,
                                         double step) {
  log_.add(fmt::format("cursor_scroll {} {} {}", seat, word(direction), step));
  return result("cursor_scroll");
}

// ---- RecordingBackend ------------------------------------------------------------------------

RecordingBackend::RecordingBackend() : compositor_(log) {}

Status RecordingBackend::result(const std::string& operation) {
  if (auto it = failures.find(operation); it != failures.end()) return std::unexpected(it->second);
  return {};
}

void RecordingBackend::increment_input_generation() {
  ++generation;
  log.add("increment_input_generation");
}

Status RecordingBackend::capture_keyboard(const std::string& output, bool preserve_focus) {
  log.add(fmt::format("capture_keyboard {} {}", output, preserve_focus));
  auto ok = result("capture_keyboard");
  if (ok) capture_active = true;
  return ok;
}

void RecordingBackend::release_keyboard() {
  capture_active = false;
  log.add("release_keyboard");
}

Status RecordingBackend::park_overlays() {
  log.add("park_overlays");
  return result("park_overlays");
}

Status RecordingBackend::present(const std::string& output, std::span<const std::uint8_t> pixels,
                                 std::uint32_t width, std::uint32_t height) {
  log.add(fmt::format("present {} {}x{}", output, width, height));
  if (pixels.size() != std::size_t{width} * height * 4) {
    ADD_FAILURE() << "frame for " << output << " has " << pixels.size() << " bytes for " << width
                  << "x" << height;
  }
  frames[output].assign(pixels.begin(), pixels.end());
  return result("present");
}

PointerStatus RecordingBackend::click(PointerButton button) {
  log.add(fmt::format("click {}", word(button)));
  if (auto ok = result("click"); !ok) {
    return std::unexpected(PointerError{PointerError::Kind::Backend, ok.error()});
  }
  return {};
}

PointerStatus RecordingBackend::set_button(PointerButton button, bool release) {
  log.add(fmt::format("set_button {} {}", word(button), release ? "release" : "press"));
  if (auto ok = result("set_button"); !ok) {
    return std::unexpected(PointerError{PointerError::Kind::Backend, ok.error()});
  }
  return {};
}

PointerStatus RecordingBackend::scroll(ScrollDirection direction, double step) {
  log.add(fmt::format("scroll {} {}", word(direction), step));
  if (auto ok = result("scroll"); !ok) {
    return std::unexpected(PointerError{PointerError::Kind::Backend, ok.error()});
  }
  return {};
}

PointerStatus RecordingBackend::move_pointer(double dx, double dy) {
  log.add("move_pointer");
  moves.emplace_back(dx, dy);
  if (auto ok = result("move_pointer"); !ok) {
    return std::unexpected(PointerError{PointerError::Kind::Backend, ok.error()});
  }
  return {};
}

Status RecordingBackend::request_capture(const std::string& output, std::uint64_t serial) {
  log.add(fmt::format("request_capture {} {}", output, serial));
  return result("request_capture");
}

void RecordingBackend::cancel_captures() { log.add("cancel_captures"); }

Status RecordingBackend::roundtrip() {
  log.add("roundtrip");
  return result("roundtrip");
}

Status RecordingBackend::schedule_timer(TimerKind kind, std::uint64_t token,
                                        std::chrono::nanoseconds delay) {
  log.add(fmt::format("schedule_timer {} {}ns", kind_number(kind), delay.count()));
  auto ok = result(fmt::format("schedule_timer {}", kind_number(kind)));
  if (ok) timers.push_back(ScheduledTimer{kind, token, delay});
  return ok;
}

void RecordingBackend::set_outputs(std::vector<OutputRecord> outputs) {
  output_list = std::move(outputs);
  overlay_list.clear();
  for (const OutputRecord& output : output_list) {
    overlay_list.push_back(Overlay{output.name, true, static_cast<std::uint32_t>(output.width),
                                   static_cast<std::uint32_t>(output.height)});
  }
}

// ---- Harness ---------------------------------------------------------------------------------

std::unique_ptr<RecordingBackend> standard_backend() {
  auto backend = std::make_unique<RecordingBackend>();
  backend->set_outputs({OutputRecord{"DP-1", 0, 0, 1920, 1080}});
  backend->fake_compositor().focused = std::optional<std::string>("DP-1");
  return backend;
}

std::unique_ptr<Harness> make_harness(Config config, std::unique_ptr<RecordingBackend> backend,
                                      std::optional<std::string> config_path) {
  if (!backend) backend = standard_backend();
  auto harness = std::make_unique<Harness>();
  harness->backend = backend.get();
  auto app = App::create(std::move(backend), std::move(config), std::move(config_path),
                         harness->clock.function());
  if (!app) {
    ADD_FAILURE() << "App::create failed: " << app.error();
    return nullptr;
  }
  harness->app = std::move(*app);
  return harness;
}

std::expected<std::string, std::string> Harness::request(const Command& command) {
  auto answer = app->handle_command(command);
  if (!answer) app->cancel();
  return answer;
}

namespace {

// Each distinct key name gets its own key code, so a release finds its press.
std::uint32_t code_for(const std::string& name, std::uint32_t code) {
  static std::map<std::string, std::uint32_t> codes;
  if (code != 0) return code;
  auto [it, inserted] = codes.emplace(name, static_cast<std::uint32_t>(codes.size() + 10));
  return it->second;
}

}  // namespace

void Harness::press(const std::string& name, std::uint32_t code) {
  app->on_key(KeyEvent{name, code_for(name, code), false, false});
}

void Harness::repeat(const std::string& name, std::uint32_t code) {
  app->on_key(KeyEvent{name, code_for(name, code), false, true});
}

void Harness::release(const std::string& name, std::uint32_t code) {
  app->on_key(KeyEvent{name, code_for(name, code), true, false});
}

void Harness::type(const std::string& letters) {
  for (char letter : letters) {
    press(std::string(1, letter));
    release(std::string(1, letter));
  }
}

bool Harness::fire(TimerKind kind) {
  auto& timers = backend->timers;
  for (auto it = timers.begin(); it != timers.end(); ++it) {
    if (it->kind != kind) continue;
    const ScheduledTimer timer = *it;
    timers.erase(it);
    app->on_timer(timer.kind, timer.token);
    return true;
  }
  return false;
}

std::optional<ScheduledTimer> Harness::pending(TimerKind kind) const {
  for (const ScheduledTimer& timer : backend->timers) {
    if (timer.kind == kind) return timer;
  }
  return std::nullopt;
}

std::vector<std::string> cancel_calls() {
  return {"cancel_captures", "increment_input_generation", "release_keyboard", "park_overlays"};
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace tarvik::testing
