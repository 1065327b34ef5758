// The reply records of the Sway IPC messages this client sends, and their decoders. The
// decoders follow the daemon protocol's JSON rules: unknown keys are skipped, a key given twice
// is refused, records may also come as arrays of their values in field order, and the optional
// fields take null as absent.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ipc/json.h"

namespace tarvik {

struct WindowRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const WindowRect&) const = default;
};

struct CommandReply {
  bool success = false;
  std::optional<std::string> error;
  bool operator==(const CommandReply&) const = default;
};

struct WorkspaceReply {
  std::string output;
  bool focused = false;
  bool operator==(const WorkspaceReply&) const = default;
};

struct SeatReply {
  std::string name;
  std::int64_t focus = 0;  // the id of the seat's focused node, 0 when none
  bool operator==(const SeatReply&) const = default;
};

struct TreeNode {
  std::int64_t id = 0;
  std::string type;
  WindowRect rect;
  WindowRect window_rect;  // absent counts as all zero
  std::optional<bool> visible;
  std::optional<std::string> shell;
  std::optional<std::string> app_id;
  std::optional<std::int64_t> window;
  std::vector<TreeNode> nodes;
  std::vector<TreeNode> floating_nodes;
  bool operator==(const TreeNode&) const = default;
};

// Each decoder takes one whole reply payload; white space may surround the value, anything
// else after it is an error. The reader's nesting limit bounds how deep a tree may be, which
// keeps a hostile reply from exhausting the stack.
std::expected<std::vector<CommandReply>, JsonError> decode_command_replies(std::string_view text);
std::expected<std::vector<WorkspaceReply>, JsonError> decode_workspace_replies(
    std::string_view text);
std::expected<std::vector<SeatReply>, JsonError> decode_seat_replies(std::string_view text);
std::expected<TreeNode, JsonError> decode_tree(std::string_view text);

}  // namespace tarvik
