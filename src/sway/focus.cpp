#include "sway/focus.h"

#include <vector>

namespace tarvik {

const TreeNode* find_node(const TreeNode& root, std::int64_t id) {
  // An explicit stack: the tree comes from outside, and its depth is not ours to trust.
  std::vector<const TreeNode*> pending{&root};
  while (!pending.empty()) {
    const TreeNode* node = pending.back();
    pending.pop_back();
    if (node->id == id) return node;
    // Pushed in reverse so that `nodes` come before `floating_nodes`, each in order.
    for (auto it = node->floating_nodes.rbegin(); it != node->floating_nodes.rend(); ++it) {
      pending.push_back(&*it);
    }
    for (auto it = node->nodes.rbegin(); it != node->nodes.rend(); ++it) {
      pending.push_back(&*it);
    }
  }
  return nullptr;
}

bool is_usable_window(const TreeNode& node) {
  // Floating containers report "floating_con" and are deliberately not taken.
  if (node.type != "con") return false;
  if (node.visible == false) return false;
  if (!node.app_id && !node.shell && !node.window) return false;
  return node.window_rect.width > 0 && node.window_rect.height > 0;
}

std::optional<LayoutPoint> focused_window_centre(const TreeNode& root, std::int64_t focus) {
  const TreeNode* node = find_node(root, focus);
  if (node == nullptr || !is_usable_window(*node)) return std::nullopt;
  const std::int64_t x = std::int64_t{node->rect.x} + node->window_rect.x +
                         node->window_rect.width / 2 - root.rect.x;
  const std::int64_t y = std::int64_t{node->rect.y} + node->window_rect.y +
                         node->window_rect.height / 2 - root.rect.y;
  if (x < 0 || x >= std::int64_t{root.rect.width}) return std::nullopt;
  if (y < 0 || y >= std::int64_t{root.rect.height}) return std::nullopt;
  return LayoutPoint{x, y};
}

}  // namespace tarvik
