#include "wayland/run_daemon.h"

#include <csignal>

#include <fmt/format.h>

#include "app/app.h"
#include "config/config.h"
#include "ipc/daemon_socket.h"
#include "ipc/event_loop.h"
#include "logging/log.h"
#include "sway/sway_client.h"
#include "wayland/wayland_display.h"

namespace tarvik {

namespace {
constexpr const char* kTarget = "tarvik::wayland";
using Kind = DaemonError::Kind;

// A service manager stops the daemon with SIGTERM, a terminal with SIGINT; either must not
// leave a button held by the virtual pointer.
constexpr int kShutdownSignals[] = {SIGTERM, SIGINT};

const char* signal_name(int signo) {
  switch (signo) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    default: return "a shutdown signal";
  }
}
}  // namespace

std::string debug_form(const std::optional<std::string>& value) {
  if (!value) return "None";
  std::string out = "Some(\"";
  for (unsigned char c : *value) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += fmt::format("\\u{{{:x}}}", c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += "\")";
  return out;
}

std::expected<void, DaemonError> run_daemon(const DaemonOptions& options,
                                            std::string sway_socket_path) {
  // Blocked before anything else, so that no thread or child can start with them unblocked
  // and a signal during start-up waits for the loop instead of killing the daemon mid-way.
  if (auto blocked = block_signals(kShutdownSignals); !blocked) {
    return std::unexpected(DaemonError{Kind::EventLoop, blocked.error().message()});
  }

  // Step 1.
  TARVIK_LOG(Info, kTarget, "initializing daemon seat={} config={}", debug_form(options.seat),
             debug_form(options.config));

  // Step 2.
  auto config = load_config(options.config);
  if (!config) return std::unexpected(DaemonError{Kind::Config, config.error().message()});

  // Steps 3 to 7.
  auto connected =
      WaylandDisplay::connect(options.seat, std::make_unique<SwayClient>(std::move(sway_socket_path)));
  if (!connected) return std::unexpected(connected.error());
  WaylandDisplay& display = **connected;

  // Step 8.
  if (auto pools = display.create_pools(); !pools) return std::unexpected(pools.error());

  // Step 9. The loop outlives the controller: the backend's timers and sources live in it.
  auto loop = EventLoop::create();
  if (!loop) return std::unexpected(DaemonError{Kind::EventLoop, loop.error().message()});

  // Steps 10 and 11.
  display.start_tracking(**loop);

  // Step 12.
  auto app = App::create(std::move(*connected), std::move(*config), options.config);
  if (!app) return std::unexpected(DaemonError{Kind::Application, app.error()});

  // Step 13.
  for (int i = 0; i < 2; ++i) {
    if (auto dispatched = display.dispatch_roundtrip(); !dispatched) {
      return std::unexpected(dispatched.error());
    }
  }

  // Steps 14 to 17.
  if (auto seat = display.choose_seat(); !seat) return std::unexpected(seat.error());
  if (auto outputs = display.reconcile_outputs(); !outputs) {
    return std::unexpected(outputs.error());
  }
  display.create_virtual_pointer();
  display.release_orphaned_buttons();
  display.create_overlays();

  // Step 18.
  if (auto dispatched = display.dispatch_roundtrip(); !dispatched) {
    return std::unexpected(dispatched.error());
  }

  // Step 19. From here on every return discards the guard, which removes the socket file.
  auto bound = bind_daemon_socket();
  if (!bound) return std::unexpected(DaemonError{Kind::Ipc, bound.error().message()});
  SocketPathGuard guard = std::move(bound->guard);

  // Step 20.
  if (auto source = display.register_source(**loop); !source) {
    return std::unexpected(DaemonError{Kind::Source, source.error().message()});
  }
  if (auto listener = add_listener_source(**loop, std::move(bound->socket), **app); !listener) {
    return std::unexpected(DaemonError{Kind::Source, listener.error().message()});
  }

  std::optional<int> stop_signal;
  auto signals = (*loop)->add_signals(kShutdownSignals, [&](int signo) -> EventLoop::Result {
    // A second signal while the first is handled changes nothing: the shutdown is under way.
    if (stop_signal) return {};
    stop_signal = signo;
    TARVIK_LOG(Info, kTarget, "received {}, shutting down", signal_name(signo));
    // Releases held buttons and parks the overlays while the connection is still up.
    (*app)->cancel();
    (*loop)->stop();
    return {};
  });
  if (!signals) return std::unexpected(DaemonError{Kind::Source, signals.error().message()});

  // Steps 21 and 22.
  TARVIK_LOG(Info, kTarget, "daemon started");
  auto ran = (*loop)->run();
  if (!ran) return std::unexpected(DaemonError{Kind::EventLoop, ran.error().message()});

  // Only a signal stops the loop without an error. No new client may find the socket while
  // the last requests reach the compositor.
  { SocketPathGuard removed = std::move(guard); }
  // A roundtrip rather than a flush: the compositor drops a disconnected client's unread
  // requests, and the button releases must not be among them.
  if (auto flushed = display.roundtrip(); !flushed) {
    TARVIK_LOG(Warn, kTarget, "cannot flush the Wayland connection while shutting down: {}",
               flushed.error());
  }
  TARVIK_LOG(Info, kTarget, "daemon stopped");
  return {};
}

}  // namespace tarvik
