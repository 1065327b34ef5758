#include "config/decode.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <toml++/toml.h>

namespace tarvik::config {
namespace {

struct Problem {
  toml::source_region where;
  std::string text;
};

using Decoded = std::expected<void, Problem>;

constexpr std::string_view kCombinationMessage =
    "general.preserve_focus cannot be combined with deprecated general.require_shortcut_inhibit; "
    "remove require_shortcut_inhibit";

std::unexpected<Problem> fail(const toml::source_region& where, std::string text) {
  return std::unexpected(Problem{where, std::move(text)});
}

// How a value found in the file is named when it has the wrong type.
std::string describe(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return fmt::format("string {:?}", std::string_view{node.as_string()->get()});
    case toml::node_type::integer:
      return fmt::format("integer `{}`", node.as_integer()->get());
    case toml::node_type::floating_point:
      return fmt::format("float `{}`", node.as_floating_point()->get());
    case toml::node_type::boolean:
      return fmt::format("boolean `{}`", node.as_boolean()->get());
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::date:
      return "a local date";
    case toml::node_type::time:
      return "a local time";
    case toml::node_type::date_time:
      return "a date-time";
    case toml::node_type::none:
      break;
  }
  return "nothing";
}

std::unexpected<Problem> wrong_type(const toml::node& node, std::string_view expected) {
  return fail(node.source(), fmt::format("invalid type: {}, expected {}", describe(node), expected));
}

// Every decode_value overload is declared before `field` below, which finds them by ordinary
// lookup when it is defined.
Decoded decode_value(const toml::node& node, bool& out);
Decoded decode_value(const toml::node& node, double& out);
Decoded decode_value(const toml::node& node, float& out);
Decoded decode_value(const toml::node& node, std::string& out);
Decoded decode_value(const toml::node& node, OutputScope& out);
Decoded decode_value(const toml::node& node, UnmatchedStyle& out);
Decoded decode_value(const toml::node& node, MotionCurve& out);
Decoded decode_value(const toml::node& node, ScrollTarget& out);
Decoded decode_value(const toml::node& node, Color& out);
template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>)
Decoded decode_value(const toml::node& node, T& out);
template <class T>
Decoded decode_value(const toml::node& node, std::optional<T>& out);
Decoded decode_value(const toml::node& node, GeneralConfig& out);
Decoded decode_value(const toml::node& node, Grid& out);
Decoded decode_value(const toml::node& node, Motion& out);
Decoded decode_value(const toml::node& node, Scroll& out);
Decoded decode_value(const toml::node& node, GridBindings& out);
Decoded decode_value(const toml::node& node, MouseBindings& out);
Decoded decode_value(const toml::node& node, Bindings& out);
Decoded decode_value(const toml::node& node, Ui& out);
Decoded decode_value(const toml::node& node, Config& out);

// ---- scalars ----

Decoded decode_value(const toml::node& node, bool& out) {
  const auto* value = node.as_boolean();
  if (value == nullptr) return wrong_type(node, "a boolean");
  out = value->get();
  return {};
}

template <std::unsigned_integral T>
  requires(!std::same_as<T, bool>)
Decoded decode_value(const toml::node& node, T& out) {
  const auto* value = node.as_integer();
  const auto expected = fmt::format("an integer from 0 to {}", std::numeric_limits<T>::max());
  if (value == nullptr) return wrong_type(node, expected);
  const std::int64_t n = value->get();
  if (n < 0 || static_cast<std::uint64_t>(n) > std::numeric_limits<T>::max()) {
    return fail(node.source(), fmt::format("invalid value: integer `{}`, expected {}", n, expected));
  }
  out = static_cast<T>(n);
  return {};
}

// A float key takes a TOML integer as well.
std::optional<double> number(const toml::node& node) {
  if (const auto* value = node.as_floating_point()) return value->get();
  if (const auto* value = node.as_integer()) return static_cast<double>(value->get());
  return std::nullopt;
}

Decoded decode_value(const toml::node& node, double& out) {
  const auto value = number(node);
  if (!value) return wrong_type(node, "a number");
  out = *value;
  return {};
}

Decoded decode_value(const toml::node& node, float& out) {
  const auto value = number(node);
  if (!value) return wrong_type(node, "a number");
  // Converting a finite double beyond float's range is undefined; it saturates instead, as the
  // written magnitude asks for more than a float holds.
  if (std::isfinite(*value) && std::fabs(*value) > std::numeric_limits<float>::max()) {
    const float inf = std::numeric_limits<float>::infinity();
    out = *value > 0 ? inf : -inf;
  } else {
    out = static_cast<float>(*value);
  }
  return {};
}

Decoded decode_value(const toml::node& node, std::string& out) {
  const auto* value = node.as_string();
  if (value == nullptr) return wrong_type(node, "a string");
  out = value->get();
  return {};
}

template <class T>
Decoded decode_value(const toml::node& node, std::optional<T>& out) {
  T value{};
  if (auto decoded = decode_value(node, value); !decoded) return decoded;
  out = std::move(value);
  return {};
}

Decoded decode_value(const toml::node& node, Color& out) {
  const auto* value = node.as_string();
  if (value == nullptr) return wrong_type(node, "a color string");
  auto color = parse_color(value->get());
  if (!color) return fail(node.source(), std::move(color).error());
  out = *color;
  return {};
}

// ---- enumeration words ----

template <class E>
using Words = std::span<const std::pair<std::string_view, E>>;

template <class E>
std::string word_list(Words<E> words) {
  std::string list = "one of ";
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += ", ";
    list += fmt::format("`{}`", words[i].first);
  }
  return list;
}

template <class E>
Decoded decode_word(const toml::node& node, E& out, Words<E> words) {
  const auto* value = node.as_string();
  if (value == nullptr) return wrong_type(node, word_list(words));
  for (const auto& [word, variant] : words) {
    if (word == value->get()) {
      out = variant;
      return {};
    }
  }
  return fail(node.source(),
              fmt::format("unknown variant `{}`, expected {}", value->get(), word_list(words)));
}

constexpr std::array<std::pair<std::string_view, OutputScope>, 2> kScopeWords{{
    {"focused", OutputScope::Focused},
    {"all", OutputScope::All},
}};
constexpr std::array<std::pair<std::string_view, UnmatchedStyle>, 3> kUnmatchedWords{{
    {"keep", UnmatchedStyle::Keep},
    {"dim", UnmatchedStyle::Dim},
    {"hide", UnmatchedStyle::Hide},
}};
constexpr std::array<std::pair<std::string_view, MotionCurve>, 4> kCurveWords{{
    {"linear", MotionCurve::Linear},
    {"ease-in", MotionCurve::EaseIn},
    {"ease-out", MotionCurve::EaseOut},
    {"ease-in-out", MotionCurve::EaseInOut},
}};
constexpr std::array<std::pair<std::string_view, ScrollTarget>, 2> kTargetWords{{
    {"pointer", ScrollTarget::Pointer},
    {"focused-window", ScrollTarget::FocusedWindow},
}};

Decoded decode_value(const toml::node& node, OutputScope& out) {
  return decode_word<OutputScope>(node, out, kScopeWords);
}
Decoded decode_value(const toml::node& node, UnmatchedStyle& out) {
  return decode_word<UnmatchedStyle>(node, out, kUnmatchedWords);
}
Decoded decode_value(const toml::node& node, MotionCurve& out) {
  return decode_word<MotionCurve>(node, out, kCurveWords);
}
Decoded decode_value(const toml::node& node, ScrollTarget& out) {
  return decode_word<ScrollTarget>(node, out, kTargetWords);
}

// ---- tables ----

template <class Table>
struct Field {
  std::string_view name;
  Decoded (*decode)(const toml::node&, Table&);
};

template <class M>
struct member_of;
template <class C, class V>
struct member_of<V C::*> {
  using table = C;
};

template <auto Member>
Field<typename member_of<decltype(Member)>::table> field(std::string_view name) {
  using Table = typename member_of<decltype(Member)>::table;
  return {name, [](const toml::node& node, Table& table) { return decode_value(node, table.*Member); }};
}

// The key's text and the member it fills are written once, so they cannot drift apart.
#define TARVIK_FIELD(Table, key) field<&Table::key>(#key)

template <class Table>
std::string unknown_field(std::string_view name, std::span<const Field<Table>> fields) {
  std::string text = fmt::format("unknown field `{}`, expected one of ", name);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += ", ";
    text += fmt::format("`{}`", fields[i].name);
  }
  return text;
}

template <class Table>
Decoded decode_table(const toml::node& node, Table& out, std::span<const Field<Table>> fields) {
  const auto* table = node.as_table();
  if (table == nullptr) return wrong_type(node, "a table");
  // The table is kept sorted by name; the first problem reported is the first in the file.
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  for (auto&& [key, value] : *table) entries.emplace_back(&key, &value);
  std::ranges::stable_sort(entries, [](const auto& a, const auto& b) {
    return a.first->source().begin < b.first->source().begin;
  });
  for (const auto& [key, value] : entries) {
    const auto known = std::ranges::find(fields, key->str(), &Field<Table>::name);
    if (known == fields.end()) return fail(key->source(), unknown_field(key->str(), fields));
    if (auto decoded = known->decode(*value, out); !decoded) return decoded;
  }
  return {};
}

const std::array kGeneralFields{
    TARVIK_FIELD(GeneralConfig, scope),
    TARVIK_FIELD(GeneralConfig, preserve_focus),
    TARVIK_FIELD(GeneralConfig, require_shortcut_inhibit),
};

const std::array kGridFields{
    TARVIK_FIELD(Grid, root_min_tile_width), TARVIK_FIELD(Grid, root_min_tile_height),
    TARVIK_FIELD(Grid, min_tile_width),      TARVIK_FIELD(Grid, min_tile_height),
    TARVIK_FIELD(Grid, refinement_zoom),     TARVIK_FIELD(Grid, max_label_length),
    TARVIK_FIELD(Grid, max_depth),           TARVIK_FIELD(Grid, max_cells),
    TARVIK_FIELD(Grid, auto_descend),        TARVIK_FIELD(Grid, exit_on_scroll),
    TARVIK_FIELD(Grid, unmatched),           TARVIK_FIELD(Grid, unmatched_opacity),
};

const std::array kMotionFields{
    TARVIK_FIELD(Motion, initial_speed), TARVIK_FIELD(Motion, acceleration),
    TARVIK_FIELD(Motion, max_speed),     TARVIK_FIELD(Motion, tick_hz),
    TARVIK_FIELD(Motion, curve),
};

const std::array kScrollFields{
    TARVIK_FIELD(Scroll, vertical_step),
    TARVIK_FIELD(Scroll, horizontal_step),
    TARVIK_FIELD(Scroll, target),
};

const std::array kGridBindingFields{
    TARVIK_FIELD(GridBindings, left_click),   TARVIK_FIELD(GridBindings, middle_click),
    TARVIK_FIELD(GridBindings, right_click),  TARVIK_FIELD(GridBindings, double_click),
    TARVIK_FIELD(GridBindings, scroll_up),    TARVIK_FIELD(GridBindings, scroll_down),
    TARVIK_FIELD(GridBindings, scroll_left),  TARVIK_FIELD(GridBindings, scroll_right),
    TARVIK_FIELD(GridBindings, enter_mouse),  TARVIK_FIELD(GridBindings, move_only),
    TARVIK_FIELD(GridBindings, descend),      TARVIK_FIELD(GridBindings, back),
    TARVIK_FIELD(GridBindings, cancel),
};

const std::array kMouseBindingFields{
    TARVIK_FIELD(MouseBindings, left),          TARVIK_FIELD(MouseBindings, down),
    TARVIK_FIELD(MouseBindings, up),            TARVIK_FIELD(MouseBindings, right),
    TARVIK_FIELD(MouseBindings, left_button),   TARVIK_FIELD(MouseBindings, middle_button),
    TARVIK_FIELD(MouseBindings, right_button),  TARVIK_FIELD(MouseBindings, double_click),
    TARVIK_FIELD(MouseBindings, button_lock),   TARVIK_FIELD(MouseBindings, scroll_up),
    TARVIK_FIELD(MouseBindings, scroll_down),   TARVIK_FIELD(MouseBindings, scroll_left),
    TARVIK_FIELD(MouseBindings, scroll_right),  TARVIK_FIELD(MouseBindings, cancel),
};

const std::array kBindingsFields{
    TARVIK_FIELD(Bindings, grid),
    TARVIK_FIELD(Bindings, mouse),
};

const std::array kUiFields{
    TARVIK_FIELD(Ui, font_path),
    TARVIK_FIELD(Ui, font_size),
    TARVIK_FIELD(Ui, overlay_background),
    TARVIK_FIELD(Ui, lens_scrim_opacity),
    TARVIK_FIELD(Ui, lens_border),
    TARVIK_FIELD(Ui, lens_border_width),
    TARVIK_FIELD(Ui, lens_animation_ms),
    TARVIK_FIELD(Ui, lens_cell_opacity),
    TARVIK_FIELD(Ui, cell_background),
    TARVIK_FIELD(Ui, grid_border),
    TARVIK_FIELD(Ui, grid_border_width),
    TARVIK_FIELD(Ui, label_background),
    TARVIK_FIELD(Ui, label_foreground),
    TARVIK_FIELD(Ui, matched_background),
    TARVIK_FIELD(Ui, matched_foreground),
    TARVIK_FIELD(Ui, selected_background),
    TARVIK_FIELD(Ui, selected_border),
    TARVIK_FIELD(Ui, selected_border_width),
    TARVIK_FIELD(Ui, badge_background),
    TARVIK_FIELD(Ui, badge_foreground),
    TARVIK_FIELD(Ui, badge_border),
    TARVIK_FIELD(Ui, badge_border_width),
    TARVIK_FIELD(Ui, target_ring),
    TARVIK_FIELD(Ui, target_ring_width),
    TARVIK_FIELD(Ui, target_ring_radius),
    TARVIK_FIELD(Ui, show_badge),
    TARVIK_FIELD(Ui, show_target_ring),
    TARVIK_FIELD(Ui, show_action_hints),
};

const std::array kConfigFields{
    TARVIK_FIELD(Config, general), TARVIK_FIELD(Config, grid),     TARVIK_FIELD(Config, motion),
    TARVIK_FIELD(Config, scroll),  TARVIK_FIELD(Config, bindings), TARVIK_FIELD(Config, ui),
};

#undef TARVIK_FIELD

Decoded decode_value(const toml::node& node, GeneralConfig& out) {
  if (auto decoded = decode_table<GeneralConfig>(node, out, kGeneralFields); !decoded) {
    return decoded;
  }
  // Presence counts, not the value: preserve_focus = false still conflicts.
  const auto& table = *node.as_table();
  const auto deprecated = table.find("require_shortcut_inhibit");
  if (table.contains("preserve_focus") && deprecated != table.end()) {
    return fail(deprecated->first.source(), std::string{kCombinationMessage});
  }
  return {};
}

Decoded decode_value(const toml::node& node, Grid& out) {
  return decode_table<Grid>(node, out, kGridFields);
}
Decoded decode_value(const toml::node& node, Motion& out) {
  return decode_table<Motion>(node, out, kMotionFields);
}
Decoded decode_value(const toml::node& node, Scroll& out) {
  return decode_table<Scroll>(node, out, kScrollFields);
}
Decoded decode_value(const toml::node& node, GridBindings& out) {
  return decode_table<GridBindings>(node, out, kGridBindingFields);
}
Decoded decode_value(const toml::node& node, MouseBindings& out) {
  return decode_table<MouseBindings>(node, out, kMouseBindingFields);
}
Decoded decode_value(const toml::node& node, Bindings& out) {
  return decode_table<Bindings>(node, out, kBindingsFields);
}
Decoded decode_value(const toml::node& node, Ui& out) {
  return decode_table<Ui>(node, out, kUiFields);
}
Decoded decode_value(const toml::node& node, Config& out) {
  return decode_table<Config>(node, out, kConfigFields);
}

// ---- the report ----

std::size_t code_points(std::string_view text) {
  return static_cast<std::size_t>(
      std::ranges::count_if(text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Lines and columns are 1-based; columns count code points, as the TOML reader counts them.
std::string report(std::string_view text, const toml::source_region& where, std::string_view problem) {
  const std::size_t line = std::max<std::size_t>(where.begin.line, 1);
  const std::size_t column = std::max<std::size_t>(where.begin.column, 1);

  std::string_view content;
  std::string_view rest = text;
  for (std::size_t n = 1;; ++n) {
    const auto end = rest.find('\n');
    if (n == line) {
      content = rest.substr(0, end);
      break;
    }
    if (end == std::string_view::npos) break;  // past the last line: shown empty
    rest.remove_prefix(end + 1);
  }
  if (content.ends_with('\r')) content.remove_suffix(1);

  std::size_t highlight = 1;
  if (where.end.line == where.begin.line && where.end.column > where.begin.column) {
    highlight = where.end.column - where.begin.column;
  }
  // The carets stop at the line's end; one is always shown, past the end if that is where a
  // missing token belongs.
  const std::size_t remaining = code_points(content) + 1 - std::min(column, code_points(content) + 1);
  highlight = std::max<std::size_t>(1, std::min(highlight, remaining));

  const std::string gutter(fmt::formatted_size("{}", line) + 1, ' ');
  return fmt::format("TOML parse error at line {}, column {}\n{}|\n{} | {}\n{}|{}{}\n{}", line, column,
                     gutter, line, content, gutter, std::string(column, ' '),
                     std::string(highlight, '^'), problem);
}

}  // namespace

std::expected<Config, std::string> decode_config(std::string_view text) {
  toml::table root;
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    return std::unexpected(report(text, error.source(), error.description()));
  }
  Config config;
  if (auto decoded = decode_value(root, config); !decoded) {
    return std::unexpected(report(text, decoded.error().where, decoded.error().text));
  }
  return config;
}

}  // namespace tarvik::config
