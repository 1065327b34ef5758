#include "sway/replies.h"

#include <limits>
#include <utility>

namespace tarvik {

namespace {

using json::Value;
using Status = std::expected<void, JsonError>;

// A signed integer within [min, max]; `expected` names the type ("i32").
std::expected<std::int64_t, JsonError> read_signed(const Value& value, std::int64_t min,
                                                   std::int64_t max, std::string_view expected) {
  switch (value.kind) {
    case Value::Kind::Unsigned:
      if (value.unsigned_number <= static_cast<std::uint64_t>(max)) {
        return static_cast<std::int64_t>(value.unsigned_number);
      }
      return std::unexpected(json::invalid_value(value, expected));
    case Value::Kind::Signed:
      if (value.signed_number >= min) return value.signed_number;
      return std::unexpected(json::invalid_value(value, expected));
    default:
      return std::unexpected(json::invalid_type(value, expected));
  }
}

std::expected<std::int64_t, JsonError> read_i64(const Value& value) {
  return read_signed(value, std::numeric_limits<std::int64_t>::min(),
                     std::numeric_limits<std::int64_t>::max(), "i64");
}

Status store_string(const Value& value, std::string& out) {
  auto text = json::read_string(value);
  if (!text) return std::unexpected(std::move(text.error()));
  out.assign(*text);
  return {};
}

Status store_bool(const Value& value, bool& out) {
  auto flag = json::read_bool(value);
  if (!flag) return std::unexpected(std::move(flag.error()));
  out = *flag;
  return {};
}

template <class T>
Status store_optional(const Value& value, std::optional<T>& out,
                      Status (*store)(const Value&, T&)) {
  T inner{};
  if (auto ok = store(value, inner); !ok) return ok;
  out = std::move(inner);
  return {};
}

Status store_i64(const Value& value, std::int64_t& out) {
  auto number = read_i64(value);
  if (!number) return std::unexpected(std::move(number.error()));
  out = *number;
  return {};
}

template <class T, class Decode>
std::expected<std::vector<T>, JsonError> decode_array(const Value& value, Decode decode) {
  if (value.kind != Value::Kind::Array) {
    return std::unexpected(json::invalid_type(value, "a sequence"));
  }
  std::vector<T> out;
  out.reserve(value.items.size());
  for (const Value& item : value.items) {
    auto record = decode(item);
    if (!record) return std::unexpected(std::move(record.error()));
    out.push_back(std::move(*record));
  }
  return out;
}

std::expected<WindowRect, JsonError> decode_rect(const Value& value) {
  WindowRect rect;
  auto ok = json::read_record(
      value, "struct WindowRect", {{"x"}, {"y"}, {"width"}, {"height"}},
      [&](std::size_t field, const Value& v) -> Status {
        if (field < 2) {
          auto n = read_signed(v, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max(), "i32");
          if (!n) return std::unexpected(std::move(n.error()));
          (field == 0 ? rect.x : rect.y) = static_cast<std::int32_t>(*n);
        } else {
          auto n = json::read_unsigned(v, std::numeric_limits<std::uint32_t>::max(), "u32");
          if (!n) return std::unexpected(std::move(n.error()));
          (field == 2 ? rect.width : rect.height) = static_cast<std::uint32_t>(*n);
        }
        return {};
      });
  if (!ok) return std::unexpected(std::move(ok.error()));
  return rect;
}

std::expected<CommandReply, JsonError> decode_command_reply(const Value& value) {
  CommandReply reply;
  auto ok = json::read_record(value, "struct CommandReply", {{"success"}, {"error", false}},
                              [&](std::size_t field, const Value& v) -> Status {
                                if (field == 0) return store_bool(v, reply.success);
                                return store_optional(v, reply.error, store_string);
                              });
  if (!ok) return std::unexpected(std::move(ok.error()));
  return reply;
}

std::expected<WorkspaceReply, JsonError> decode_workspace_reply(const Value& value) {
  WorkspaceReply reply;
  auto ok = json::read_record(value, "struct WorkspaceReply", {{"output"}, {"focused"}},
                              [&](std::size_t field, const Value& v) -> Status {
                                if (field == 0) return store_string(v, reply.output);
                                return store_bool(v, reply.focused);
                              });
  if (!ok) return std::unexpected(std::move(ok.error()));
  return reply;
}

std::expected<SeatReply, JsonError> decode_seat_reply(const Value& value) {
  SeatReply reply;
  auto ok = json::read_record(value, "struct SeatReply", {{"name"}, {"focus"}},
                              [&](std::size_t field, const Value& v) -> Status {
                                if (field == 0) return store_string(v, reply.name);
                                return store_i64(v, reply.focus);
                              });
  if (!ok) return std::unexpected(std::move(ok.error()));
  return reply;
}

// Recursion is bounded by the parser's nesting limit: each tree level costs two JSON levels.
std::expected<TreeNode, JsonError> decode_node(const Value& value) {
  TreeNode node;
  auto children = [](const Value& v, std::vector<TreeNode>& out) -> Status {
    auto nodes = decode_array<TreeNode>(v, decode_node);
    if (!nodes) return std::unexpected(std::move(nodes.error()));
    out = std::move(*nodes);
    return {};
  };
  auto ok = json::read_record(
      value, "struct TreeNode",
      {{"id"},
       {"type"},
       {"rect"},
       {"window_rect", false},
       {"visible", false},
       {"shell", false},
       {"app_id", false},
       {"window", false},
       {"nodes", false},
       {"floating_nodes", false}},
      [&](std::size_t field, const Value& v) -> Status {
        switch (field) {
          case 0:
            return store_i64(v, node.id);
          case 1:
            return store_string(v, node.type);
          case 2:
          case 3: {
            auto rect = decode_rect(v);
            if (!rect) return std::unexpected(std::move(rect.error()));
            (field == 2 ? node.rect : node.window_rect) = *rect;
            return {};
          }
          case 4:
            return store_optional(v, node.visible, store_bool);
          case 5:
            return store_optional(v, node.shell, store_string);
          case 6:
            return store_optional(v, node.app_id, store_string);
          case 7:
            return store_optional(v, node.window, store_i64);
          case 8:
            return children(v, node.nodes);
          default:
            return children(v, node.floating_nodes);
        }
      });
  if (!ok) return std::unexpected(std::move(ok.error()));
  return node;
}

}  // namespace

std::expected<std::vector<CommandReply>, JsonError> decode_command_replies(std::string_view text) {
  return json::decode_text(
      text, [](const Value& v) { return decode_array<CommandReply>(v, decode_command_reply); });
}

std::expected<std::vector<WorkspaceReply>, JsonError> decode_workspace_replies(
    std::string_view text) {
  return json::decode_text(
      text, [](const Value& v) { return decode_array<WorkspaceReply>(v, decode_workspace_reply); });
}

std::expected<std::vector<SeatReply>, JsonError> decode_seat_replies(std::string_view text) {
  return json::decode_text(
      text, [](const Value& v) { return decode_array<SeatReply>(v, decode_seat_reply); });
}

std::expected<TreeNode, JsonError> decode_tree(std::string_view text) {
  return json::decode_text(text, decode_node);
}

}  // namespace tarvik
