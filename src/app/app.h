// The daemon's application controller: the single owner of the active mode, the configuration,
// the text renderer, the captures and the display backend. Client requests, key events, capture
// results and timers all end here, one at a time, on the event-loop thread.
#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/backend.h"
#include "ipc/command_handler.h"

namespace tarvik {

struct Config;

// The monotonic clock the controller reads for motion and animation; tests drive their own.
using MonotonicClock = std::function<std::chrono::steady_clock::time_point()>;

enum class ModeKind { Idle, Grid, Mouse, Scroll };

class App final : public CommandHandler, public BackendEvents {
 public:
  // Takes ownership of the backend and registers itself as its event sink. Fails with the text
  // the daemon reports (missing shortcut inhibition, an unusable embedded font). An empty clock
  // means std::chrono::steady_clock.
  static std::expected<std::unique_ptr<App>, std::string> create(
      std::unique_ptr<DisplayBackend> display, Config config,
      std::optional<std::string> config_path, MonotonicClock clock = {});

  ~App() override;
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // CommandHandler: one client request; on failure the caller cancels, then answers.
  std::expected<std::string, std::string> handle_command(const Command& command) override;
  // Ends whatever mode is active and gives the keyboard and the overlays back.
  void cancel() override;

  // BackendEvents.
  void on_key(const KeyEvent& event) override;
  void on_capture(const std::string& output, std::uint64_t serial,
                  std::expected<HeldCapture, std::string> result) override;
  void on_configured_redraw() override;
  void on_cancel() override;
  void on_timer(TimerKind kind, std::uint64_t token) override;
  void on_keyboard_focus(bool focused) override;
  void on_inhibitor_inactive() override;

  ModeKind mode() const;
  DisplayBackend& display();
  const Config& config() const;

  class Controller;

 private:
  explicit App(std::unique_ptr<Controller> controller);

  std::unique_ptr<Controller> controller_;
};

}  // namespace tarvik
