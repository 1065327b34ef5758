// The decoders of Sway's IPC replies, fed what a compositor (or a hostile process behind
// SWAYSOCK) might send. The first byte picks the decoder; the rest is the reply payload.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sway/replies.h"

namespace {

std::size_t count_nodes(const tarvik::TreeNode& node) {
  std::size_t count = 1;
  for (const auto& child : node.nodes) count += count_nodes(child);
  for (const auto& child : node.floating_nodes) count += count_nodes(child);
  return count;
}

template <class Result>
void show(const Result& result) {
  if (!result) (void)result.error().message();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view payload(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      show(tarvik::decode_command_replies(payload));
      break;
    case 1:
      show(tarvik::decode_workspace_replies(payload));
      break;
    case 2:
      show(tarvik::decode_seat_replies(payload));
      break;
    default: {
      const auto tree = tarvik::decode_tree(payload);
      show(tree);
      // Walking the tree as the focus search does must not exhaust the stack either.
      if (tree) (void)count_nodes(*tree);
      break;
    }
  }
  return 0;
}
