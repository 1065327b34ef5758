// The client of Sway's IPC socket and the compositor control built on it. It keeps no open
// connection: every request connects, sends one message, reads one reply and closes, so a
// Sway that restarts between requests costs nothing but the requests made while it is gone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/backend.h"
#include "sway/sway_error.h"

namespace tarvik {

// The message types this client sends; a reply carries the same number, which is not checked.
enum class SwayMessage : std::uint32_t {
  RunCommand = 0,
  GetWorkspaces = 1,
  GetTree = 4,
  GetSeats = 101,
};

// Size of the frame header: the magic "i3-ipc", the payload length, the message type.
inline constexpr std::size_t sway_header_size = 14;
// Replies above this many payload bytes are refused before any of the payload is read.
inline constexpr std::uint32_t sway_max_reply = 16 * 1024 * 1024;

class SwayClient final : public CompositorControl {
 public:
  // The socket path as raw bytes, exactly as SWAYSOCK gave it.
  explicit SwayClient(std::string socket_path) : socket_path_(std::move(socket_path)) {}

  const std::string& socket_path() const { return socket_path_; }

  // One request and its reply payload, over a fresh connection that is closed on every path.
  std::expected<std::string, SwayError> exchange(SwayMessage type, std::string_view payload) const;

  // Runs one command text (which may hold several commands joined by "; ") and fails with the
  // first refusal Sway reports.
  std::expected<void, SwayError> run_command(std::string_view command) const;

  std::expected<std::optional<std::string>, SwayError> focused_output() override;
  SwayStatus cursor_set(const std::string& seat, std::int64_t x, std::int64_t y) override;
  SwayStatus pointer_to_focused_window(const std::string& seat) override;
  SwayStatus cursor_move(const std::string& seat, double dx, double dy) override;
  SwayStatus cursor_button(const std::string& seat, PointerButton button, bool release) override;
  SwayStatus cursor_click(const std::string& seat, PointerButton button) override;
  SwayStatus cursor_scroll(const std::string& seat, ScrollDirection direction,
                           double step) override;

 private:
  std::string socket_path_;
};

}  // namespace tarvik
