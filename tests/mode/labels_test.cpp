#include "mode/labels.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "mode_support.h"

namespace tarvik {
namespace {

using namespace effect;
using testing_support::start_session;

TEST(Labels, TypedTextMatchesAsPrefix) {
  struct Case {
    const char* label;
    const char* typed;
    bool matches;
  };
  const Case cases[] = {
      {"ab", "", true},   {"ab", "a", true},  {"ab", "ab", true}, {"ab", "b", false},
      {"ab", "abc", false}, {"ab", "ba", false}, {"", "", true},   {"a", "ab", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(label_matches(c.label, c.typed), c.matches) << c.label << " / " << c.typed;
  }
}

// One key press and the state after it.
struct Step {
  std::string key;
  Effects effects;
  std::string typed;
  std::optional<std::size_t> selected;
  std::size_t levels = 1;
  bool capture_pending = false;
};

struct Sequence {
  const char* what;
  // Cells of 10 x 10 in one row: 52 give labels aa to bz (bc, index 28, is at x = 280);
  // 26 give a to z.
  std::uint32_t cells;
  std::function<void(Config&)> tweak;
  GridOptions options;
  std::vector<Step> steps;
};

const MoveTo kToBc{"DP-1", 285, 5};

GridOptions request(GridAction action, std::optional<bool> auto_descend = {},
                    std::optional<std::uint8_t> max_depth = {}) {
  GridOptions options;
  options.action = action;
  options.auto_descend = auto_descend;
  options.max_depth = max_depth;
  return options;
}

void run(const Sequence& sequence) {
  SCOPED_TRACE(sequence.what);
  Config config;
  config.grid.root_min_tile_width = 10;
  config.grid.root_min_tile_height = 10;
  config.grid.min_tile_width = 1;
  config.grid.min_tile_height = 1;
  config.grid.refinement_zoom = 1.0;
  config.grid.max_label_length = 2;
  if (sequence.tweak) sequence.tweak(config);
  GridSession session = start_session({GridRegion{"DP-1", 0, 0, sequence.cells * 10, 10}},
                                      [&config](Config& c) { c = config; }, sequence.options);
  ASSERT_EQ(current_level(session).cells.size(), sequence.cells);

  for (std::size_t i = 0; i < sequence.steps.size(); ++i) {
    const Step& step = sequence.steps[i];
    SCOPED_TRACE(testing::Message() << "step " << i << ", key \"" << step.key << "\"");
    EXPECT_EQ(handle_grid_key(session, step.key, config.bindings.grid, step.capture_pending),
              step.effects);
    EXPECT_EQ(session.typed, step.typed);
    EXPECT_EQ(session.selected, step.selected);
    EXPECT_EQ(session.levels.size(), step.levels);
    EXPECT_EQ(session.views.size(), session.levels.size());
  }
}

TEST(Labels, KeySequences) {
  const Sequence sequences[] = {
      {"narrowing, selecting and backing out letter by letter",
       52,
       {},
       {},
       {{"c", {}, "", {}},
        {"b", {Redraw{}}, "b", {}},
        {"c", {Redraw{}}, "bc", 28},
        {"x", {}, "bc", 28},
        {"BackSpace", {Redraw{}}, "b", {}},
        {"BackSpace", {Redraw{}}, "", {}},
        {"BackSpace", {}, "", {}}}},
      {"q quits once a cell is selected", 52, {}, {}, {{"b", {Redraw{}}, "b", {}},
                                                        {"c", {Redraw{}}, "bc", 28},
                                                        {"q", {Exit{}}, "bc", 28}}},
      {"q is a label letter before a selection",
       26,
       {},
       {},
       {{"q", {Redraw{}}, "q", 16}, {"q", {Exit{}}, "q", 16}}},
      {"only single lowercase letters type",
       52,
       {},
       {},
       {{"Return", {}, "", {}},
        {"space", {}, "", {}},
        {"A", {}, "", {}},
        {"1", {}, "", {}},
        {"", {}, "", {}},
        {"\xc3\xa9", {}, "", {}},
        {"ab", {}, "", {}}}},
      {"action key after choosing",
       52,
       {},
       {},
       {{"b", {Redraw{}}, "b", {}},
        {"c", {Redraw{}}, "bc", 28},
        {"s", {kToBc, Click{PointerButton::Left}, Exit{}}, "bc", 28}}},
      {"the request's action runs on completion",
       52,
       {},
       request(GridAction::Left),
       {{"b", {Redraw{}}, "b", {}},
        {"c", {kToBc, Click{PointerButton::Left}, Exit{}}, "bc", 28}}},
      {"scrolling without exit keeps the selection for another scroll",
       52,
       {},
       {},
       {{"b", {Redraw{}}, "b", {}},
        {"c", {Redraw{}}, "bc", 28},
        {"e", {kToBc, effect::Scroll{ScrollDirection::Down}}, "bc", 28},
        {"e", {kToBc, effect::Scroll{ScrollDirection::Down}}, "bc", 28}}},
      {"descend key, then back up through the levels",
       52,
       {},
       {},
       {{"b", {Redraw{}}, "b", {}},
        {"c", {Redraw{}}, "bc", 28},
        {"Return", {Redraw{}}, "", {}, 2},
        {"a", {Redraw{}}, "a", 0, 2},  // the child's 2 x 2 cells have one-letter labels
        {"BackSpace", {Redraw{}}, "", {}, 2},
        {"BackSpace", {Redraw{}}, "", {}, 1},
        {"BackSpace", {}, "", {}, 1}}},
      {"auto descend refines on completion",
       52,
       [](Config& c) { c.grid.auto_descend = true; },
       {},
       {{"b", {Redraw{}}, "b", {}}, {"c", {Redraw{}}, "", {}, 2}}},
      {"auto descend at the depth limit falls through to the action",
       52,
       [](Config& c) { c.grid.auto_descend = true; },
       request(GridAction::Right, {}, 1),
       {{"b", {Redraw{}}, "b", {}},
        {"c", {kToBc, Click{PointerButton::Right}, Exit{}}, "bc", 28}}},
      {"auto descend at the depth limit with choose keeps the selection",
       52,
       [](Config& c) { c.grid.max_depth = 1; },
       request(GridAction::Choose, true),
       {{"b", {Redraw{}}, "b", {}}, {"c", {Redraw{}}, "bc", 28}, {"Return", {}, "bc", 28}}},
      {"cancel leaves at once", 52, {}, {}, {{"b", {Redraw{}}, "b", {}}, {"Escape", {Exit{}}, "b", {}}}},
      {"back and cancel bindings shadow label letters",
       52,
       [](Config& c) {
         c.bindings.grid.back = "b";
         c.bindings.grid.cancel = "a";
       },
       {},
       {{"b", {}, "", {}}, {"a", {Exit{}}, "", {}}}},
      {"the first equal action binding wins",
       52,
       [](Config& c) { c.bindings.grid.right_click = "s"; },
       {},
       {{"b", {Redraw{}}, "b", {}},
        {"c", {Redraw{}}, "bc", 28},
        {"s", {kToBc, Click{PointerButton::Left}, Exit{}}, "bc", 28}}},
      {"an empty binding matches the unnamed key",
       52,
       [](Config& c) { c.bindings.grid.move_only = ""; },
       {},
       {{"b", {Redraw{}}, "b", {}}, {"c", {Redraw{}}, "bc", 28}, {"", {kToBc, Exit{}}, "bc", 28}}},
      {"while a lens capture is pending only cancel and q act",
       52,
       {},
       {},
       {{"b", {}, "", {}, 1, true},
        {"BackSpace", {}, "", {}, 1, true},
        {"b", {Redraw{}}, "b", {}},
        {"Escape", {Exit{}}, "b", {}, 1, true},
        {"q", {Exit{}}, "b", {}, 1, true}}},
  };
  for (const Sequence& sequence : sequences) run(sequence);
}

TEST(Labels, BackRemovesOneWholeCharacter) {
  GridSession session = start_session({GridRegion{"DP-1", 0, 0, 1920, 1080}});
  session.typed = "a\xc3\xa9";
  EXPECT_EQ(go_back(session), (Effects{Redraw{}}));
  EXPECT_EQ(session.typed, "a");

  session.typed = "\xf0\x9f\x98\x80";
  session.selected = 3;
  EXPECT_EQ(go_back(session), (Effects{Redraw{}}));
  EXPECT_EQ(session.typed, "");
  EXPECT_FALSE(session.selected);
}

}  // namespace
}  // namespace tarvik
