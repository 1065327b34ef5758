// Where the focused window is: the tree search and the usability rules that decide whether the
// pointer can be brought onto the seat's focused node.
#pragma once

#include <cstdint>
#include <optional>

#include "sway/replies.h"

namespace tarvik {

// A point in layout coordinates, relative to the root node's rectangle.
struct LayoutPoint {
  std::int64_t x = 0;
  std::int64_t y = 0;
  bool operator==(const LayoutPoint&) const = default;
};

// The first node in document order (a node, then its `nodes`, then its `floating_nodes`)
// whose id is `id`.
const TreeNode* find_node(const TreeNode& root, std::int64_t id);

// A tiled container that is shown, holds a real window and has a window area.
bool is_usable_window(const TreeNode& node);

// The centre of the focused window's area, or nothing when the node is missing, unusable or its
// centre lies outside the root rectangle.
std::optional<LayoutPoint> focused_window_centre(const TreeNode& root, std::int64_t focus);

}  // namespace tarvik
