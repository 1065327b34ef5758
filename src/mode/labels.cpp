#include "mode/labels.h"

namespace tarvik {

namespace {

// Removes one whole UTF-8 character (its continuation bytes and its lead byte).
void pop_character(std::string& text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
    text.pop_back();
  }
  if (!text.empty()) text.pop_back();
}

bool is_label_letter(std::string_view key_name) {
  return key_name.size() == 1 && key_name[0] >= 'a' && key_name[0] <= 'z';
}

// The action bindings in the order they are compared; the first equal one wins.
Effects run_action_binding(GridSession& session, std::string_view key,
                           const config::GridBindings& bindings) {
  const std::pair<const std::string*, GridAction> actions[] = {
      {&bindings.left_click, GridAction::Left},
      {&bindings.middle_click, GridAction::Middle},
      {&bindings.right_click, GridAction::Right},
      {&bindings.double_click, GridAction::DoubleClick},
      {&bindings.scroll_up, GridAction::ScrollUp},
      {&bindings.scroll_down, GridAction::ScrollDown},
      {&bindings.scroll_left, GridAction::ScrollLeft},
      {&bindings.scroll_right, GridAction::ScrollRight},
      {&bindings.enter_mouse, GridAction::Mouse},
      {&bindings.move_only, GridAction::Move},
  };
  for (const auto& [binding, action] : actions) {
    if (key == *binding) return finish_with_action(session, action);
  }
  if (key == bindings.descend) {
    if (descend(session)) return {effect::Redraw{}};
    return {};
  }
  return {};
}

}  // namespace

bool label_matches(std::string_view label, std::string_view typed) {
  return label.starts_with(typed);
}

Effects type_label_letter(GridSession& session, std::string_view letter) {
  const GridLevel& level = current_level(session);
  const std::size_t before = session.typed.size();
  session.typed.append(letter);

  bool any = false;
  std::optional<std::size_t> exact;
  for (std::size_t i = 0; i < level.cells.size(); ++i) {
    const std::string& label = level.cells[i].label;
    if (!label_matches(label, session.typed)) continue;
    any = true;
    if (label.size() == session.typed.size()) {
      exact = i;
      break;
    }
  }
  if (!any) {
    session.typed.resize(before);
    return {};
  }
  if (session.typed.size() < level.label_len || !exact) return {effect::Redraw{}};

  session.selected = exact;
  if (session.auto_descend && descend(session)) return {effect::Redraw{}};
  if (session.action != GridAction::Choose) return finish_with_action(session, session.action);
  // The cell stays selected; the next key is read as an action binding.
  return {effect::Redraw{}};
}

Effects go_back(GridSession& session) {
  const bool was_selected = session.selected.has_value();
  session.selected.reset();
  if (was_selected || !session.typed.empty()) {
    pop_character(session.typed);
    return {effect::Redraw{}};
  }
  if (leave_level(session)) return {effect::Redraw{}};
  return {};
}

Effects handle_grid_key(GridSession& session, std::string_view key_name,
                        const config::GridBindings& bindings, bool capture_pending) {
  if (capture_pending) {
    if (key_name == bindings.cancel || key_name == "q") return {effect::Exit{}};
    return {};
  }
  if (key_name == bindings.cancel) return {effect::Exit{}};
  if (key_name == bindings.back) return go_back(session);
  if (session.selected) {
    if (key_name == "q") return {effect::Exit{}};
    return run_action_binding(session, key_name, bindings);
  }
  if (is_label_letter(key_name)) return type_label_letter(session, key_name);
  return {};
}

}  // namespace tarvik
