#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config.h"
#include "config_support.h"

namespace tarvik {
namespace {

using config_testing::load_text;
using config_testing::parse_report;

// The last line of a reader's report: the problem itself.
std::string problem_of(const std::string& report) {
  const auto at = report.rfind('\n');
  return at == std::string::npos ? report : report.substr(at + 1);
}

TEST(Decoding, EmptyFileAndEmptyTablesGiveTheDefaults) {
  for (const std::string text : {"", "\n# only a comment\n",
                                 "[general]\n[grid]\n[motion]\n[scroll]\n[bindings]\n"
                                 "[bindings.grid]\n[bindings.mouse]\n[ui]\n"}) {
    const auto loaded = load_text(text);
    ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
    EXPECT_EQ(*loaded, Config{}) << text;
  }
}

TEST(Decoding, OneKeyChangesOnlyThatValue) {
  const auto loaded = load_text("[grid]\nmax_cells = 100\n");
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  Config expected;
  expected.grid.max_cells = 100;
  EXPECT_EQ(*loaded, expected);
}

// Every key set away from its default, in each of the file's value forms.
TEST(Decoding, EveryKeyReachesItsField) {
  const auto loaded = load_text(R"(
[general]
scope = "all"
require_shortcut_inhibit = false

[grid]
root_min_tile_width = 4294967295
root_min_tile_height = 55
min_tile_width = 17
min_tile_height = 18
refinement_zoom = 2
max_label_length = 4
max_depth = 255
max_cells = 65536
auto_descend = true
exit_on_scroll = true
unmatched = "hide"
unmatched_opacity = 0.5

[motion]
initial_speed = 61.5
acceleration = 0
max_speed = 1801
tick_hz = 1000
curve = "ease-out"

[scroll]
vertical_step = 1e300
horizontal_step = 2
target = "focused-window"

[bindings.grid]
left_click = "a"
middle_click = "b"
right_click = "c"
double_click = "d"
scroll_up = "e"
scroll_down = "f"
scroll_left = "g"
scroll_right = "h"
enter_mouse = "i"
move_only = "j"
descend = "k"
back = "l"
cancel = "m"

[bindings.mouse]
left = "Left"
down = "Down"
up = "Up"
right = "Right"
left_button = "1"
middle_button = "2"
right_button = "3"
double_click = "4"
button_lock = "5"
scroll_up = "6"
scroll_down = "7"
scroll_left = "8"
scroll_right = "9"
cancel = "q"

[ui]
font_path = "/fonts/Mono.ttf"
font_size = 20
overlay_background = "#010203"
lens_scrim_opacity = 1
lens_border = "#04050607"
lens_border_width = 4.5
lens_animation_ms = 1000
lens_cell_opacity = 0
cell_background = "#111"
grid_border = "#2223"
grid_border_width = 1.5
label_background = "#333333"
label_foreground = "#44444444"
matched_background = "#555"
matched_foreground = "#666"
selected_background = "#777"
selected_border = "#888"
selected_border_width = 3
badge_background = "#999"
badge_foreground = "#aaa"
badge_border = "#bbb"
badge_border_width = 0
target_ring = "#ccc"
target_ring_width = -1
target_ring_radius = 0.25
show_badge = false
show_target_ring = false
show_action_hints = false
)");
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();

  Config e;
  e.general = {OutputScope::All, false, false};
  e.grid = {4294967295u, 55, 17, 18, 2.0, 4, 255, 65536, true, true, UnmatchedStyle::Hide, 0.5f};
  e.motion = {61.5, 0.0, 1801.0, 1000, MotionCurve::EaseOut};
  e.scroll = {1e300, 2.0, ScrollTarget::FocusedWindow};
  e.bindings.grid = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m"};
  e.bindings.mouse = {"Left", "Down", "Up", "Right", "1", "2", "3",
                      "4",    "5",    "6",  "7",     "8", "9", "q"};
  auto& ui = e.ui;
  ui.font_path = "/fonts/Mono.ttf";
  ui.font_size = 20.0f;
  ui.overlay_background = {1, 2, 3, 255};
  ui.lens_scrim_opacity = 1.0f;
  ui.lens_border = {4, 5, 6, 7};
  ui.lens_border_width = 4.5f;
  ui.lens_animation_ms = 1000;
  ui.lens_cell_opacity = 0.0f;
  ui.cell_background = {0x11, 0x11, 0x11, 255};
  ui.grid_border = {0x22, 0x22, 0x22, 0x33};
  ui.grid_border_width = 1.5f;
  ui.label_background = {0x33, 0x33, 0x33, 255};
  ui.label_foreground = {0x44, 0x44, 0x44, 0x44};
  ui.matched_background = {0x55, 0x55, 0x55, 255};
  ui.matched_foreground = {0x66, 0x66, 0x66, 255};
  ui.selected_background = {0x77, 0x77, 0x77, 255};
  ui.selected_border = {0x88, 0x88, 0x88, 255};
  ui.selected_border_width = 3.0f;
  ui.badge_background = {0x99, 0x99, 0x99, 255};
  ui.badge_foreground = {0xaa, 0xaa, 0xaa, 255};
  ui.badge_border = {0xbb, 0xbb, 0xbb, 255};
  ui.badge_border_width = 0.0f;
  ui.target_ring = {0xcc, 0xcc, 0xcc, 255};
  ui.target_ring_width = -1.0f;
  ui.target_ring_radius = 0.25f;
  ui.show_badge = false;
  ui.show_target_ring = false;
  ui.show_action_hints = false;

  EXPECT_EQ(loaded->general, e.general);
  EXPECT_EQ(loaded->grid, e.grid);
  EXPECT_EQ(loaded->motion, e.motion);
  EXPECT_EQ(loaded->scroll, e.scroll);
  EXPECT_EQ(loaded->bindings.grid, e.bindings.grid);
  EXPECT_EQ(loaded->bindings.mouse, e.bindings.mouse);
  EXPECT_EQ(loaded->ui, e.ui);
}

TEST(Decoding, DottedKeysAndInlineTablesAreTheSameTables) {
  const auto loaded = load_text(
      "grid.max_cells = 100\nbindings = { grid = { back = \"x\" } }\nui = { show_badge = false }\n");
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  Config expected;
  expected.grid.max_cells = 100;
  expected.bindings.grid.back = "x";
  expected.ui.show_badge = false;
  EXPECT_EQ(*loaded, expected);
}

struct ValueCase {
  std::string toml;
  std::string problem;
};

TEST(Decoding, IntegerRanges) {
  const std::vector<ValueCase> cases = {
      {"[grid]\nmax_label_length = 300", "invalid value: integer `300`, expected an integer from 0 to 255"},
      {"[grid]\nmax_depth = 256", "invalid value: integer `256`, expected an integer from 0 to 255"},
      {"[grid]\nmax_depth = -1", "invalid value: integer `-1`, expected an integer from 0 to 255"},
      {"[motion]\ntick_hz = 65536", "invalid value: integer `65536`, expected an integer from 0 to 65535"},
      {"[ui]\nlens_animation_ms = -1", "invalid value: integer `-1`, expected an integer from 0 to 65535"},
      {"[grid]\nmin_tile_height = 4294967296",
       "invalid value: integer `4294967296`, expected an integer from 0 to 4294967295"},
      {"[grid]\nmax_cells = -1",
       "invalid value: integer `-1`, expected an integer from 0 to 18446744073709551615"},
      {"[grid]\nmax_cells = 1.0",
       "invalid type: float `1`, expected an integer from 0 to 18446744073709551615"},
      {"[grid]\nmax_depth = \"4\"", "invalid type: string \"4\", expected an integer from 0 to 255"},
  };
  for (const auto& c : cases) EXPECT_EQ(problem_of(parse_report(c.toml)), c.problem) << c.toml;
}

TEST(Decoding, ValueTypes) {
  const std::vector<ValueCase> cases = {
      {"[grid]\nauto_descend = 1", "invalid type: integer `1`, expected a boolean"},
      {"[grid]\nauto_descend = \"true\"", "invalid type: string \"true\", expected a boolean"},
      {"[grid]\nrefinement_zoom = \"2\"", "invalid type: string \"2\", expected a number"},
      {"[grid]\nrefinement_zoom = true", "invalid type: boolean `true`, expected a number"},
      {"[ui]\nfont_size = [14]", "invalid type: an array, expected a number"},
      {"[ui]\nfont_path = 1979-05-27", "invalid type: a local date, expected a string"},
      {"[bindings.grid]\nback = 8", "invalid type: integer `8`, expected a string"},
      {"[bindings.mouse]\nup = { key = \"k\" }", "invalid type: a table, expected a string"},
      {"grid = 5", "invalid type: integer `5`, expected a table"},
      {"bindings = [\"a\"]", "invalid type: an array, expected a table"},
      {"[bindings]\nmouse = \"hjkl\"", "invalid type: string \"hjkl\", expected a table"},
      {"[general]\nrequire_shortcut_inhibit = \"no\"", "invalid type: string \"no\", expected a boolean"},
  };
  for (const auto& c : cases) EXPECT_EQ(problem_of(parse_report(c.toml)), c.problem) << c.toml;
}

TEST(Decoding, FloatKeysTakeIntegers) {
  const auto loaded =
      load_text("[grid]\nrefinement_zoom = 2\n[motion]\nmax_speed = 3000\n[ui]\nfont_size = 20\n");
  ASSERT_TRUE(loaded.has_value()) << loaded.error().message();
  EXPECT_EQ(loaded->grid.refinement_zoom, 2.0);
  EXPECT_EQ(loaded->motion.max_speed, 3000.0);
  EXPECT_EQ(loaded->ui.font_size, 20.0f);
}

TEST(Decoding, EnumerationWordsAreExact) {
  struct WordCase {
    std::string toml;
    bool (*check)(const Config&);
  };
  const std::vector<WordCase> accepted = {
      {"[general]\nscope = \"focused\"", [](const Config& c) { return c.general.scope == OutputScope::Focused; }},
      {"[general]\nscope = \"all\"", [](const Config& c) { return c.general.scope == OutputScope::All; }},
      {"[grid]\nunmatched = \"keep\"", [](const Config& c) { return c.grid.unmatched == UnmatchedStyle::Keep; }},
      {"[grid]\nunmatched = \"hide\"", [](const Config& c) { return c.grid.unmatched == UnmatchedStyle::Hide; }},
      {"[motion]\ncurve = \"linear\"", [](const Config& c) { return c.motion.curve == MotionCurve::Linear; }},
      {"[motion]\ncurve = \"ease-in\"", [](const Config& c) { return c.motion.curve == MotionCurve::EaseIn; }},
      {"[motion]\ncurve = \"ease-out\"", [](const Config& c) { return c.motion.curve == MotionCurve::EaseOut; }},
      {"[motion]\ncurve = \"ease-in-out\"", [](const Config& c) { return c.motion.curve == MotionCurve::EaseInOut; }},
      {"[scroll]\ntarget = \"focused-window\"",
       [](const Config& c) { return c.scroll.target == ScrollTarget::FocusedWindow; }},
  };
  for (const auto& c : accepted) {
    const auto loaded = load_text(c.toml);
    ASSERT_TRUE(loaded.has_value()) << c.toml << ": " << loaded.error().message();
    EXPECT_TRUE(c.check(*loaded)) << c.toml;
  }

  const std::vector<ValueCase> refused = {
      {"[general]\nscope = \"Focused\"", "unknown variant `Focused`, expected one of `focused`, `all`"},
      {"[grid]\nunmatched = \"dim \"", "unknown variant `dim `, expected one of `keep`, `dim`, `hide`"},
      {"[motion]\ncurve = \"ease_in_out\"",
       "unknown variant `ease_in_out`, expected one of `linear`, `ease-in`, `ease-out`, `ease-in-out`"},
      {"[scroll]\ntarget = \"focused_window\"",
       "unknown variant `focused_window`, expected one of `pointer`, `focused-window`"},
      {"[scroll]\ntarget = 1", "invalid type: integer `1`, expected one of `pointer`, `focused-window`"},
  };
  for (const auto& c : refused) EXPECT_EQ(problem_of(parse_report(c.toml)), c.problem) << c.toml;
}

TEST(Decoding, UnknownKeysAreRefusedInEveryTableWithTheAcceptedKeysInSchemaOrder) {
  const std::vector<ValueCase> cases = {
      {"colour = 1",
       "unknown field `colour`, expected one of `general`, `grid`, `motion`, `scroll`, `bindings`, `ui`"},
      {"[general]\nfocus = true",
       "unknown field `focus`, expected one of `scope`, `preserve_focus`, `require_shortcut_inhibit`"},
      {"[grid]\nmax_cell = 100",
       "unknown field `max_cell`, expected one of `root_min_tile_width`, `root_min_tile_height`, "
       "`min_tile_width`, `min_tile_height`, `refinement_zoom`, `max_label_length`, `max_depth`, "
       "`max_cells`, `auto_descend`, `exit_on_scroll`, `unmatched`, `unmatched_opacity`"},
      {"[motion]\nspeed = 1",
       "unknown field `speed`, expected one of `initial_speed`, `acceleration`, `max_speed`, "
       "`tick_hz`, `curve`"},
      {"[scroll]\nstep = 1",
       "unknown field `step`, expected one of `vertical_step`, `horizontal_step`, `target`"},
      {"[bindings]\nkeys = 1", "unknown field `keys`, expected one of `grid`, `mouse`"},
      {"[bindings.grid]\nclick = \"s\"",
       "unknown field `click`, expected one of `left_click`, `middle_click`, `right_click`, "
       "`double_click`, `scroll_up`, `scroll_down`, `scroll_left`, `scroll_right`, `enter_mouse`, "
       "`move_only`, `descend`, `back`, `cancel`"},
      {"[bindings.mouse]\nlock = \"v\"",
       "unknown field `lock`, expected one of `left`, `down`, `up`, `right`, `left_button`, "
       "`middle_button`, `right_button`, `double_click`, `button_lock`, `scroll_up`, "
       "`scroll_down`, `scroll_left`, `scroll_right`, `cancel`"},
      {"[ui]\nfont = \"x\"",
       "unknown field `font`, expected one of `font_path`, `font_size`, `overlay_background`, "
       "`lens_scrim_opacity`, `lens_border`, `lens_border_width`, `lens_animation_ms`, "
       "`lens_cell_opacity`, `cell_background`, `grid_border`, `grid_border_width`, "
       "`label_background`, `label_foreground`, `matched_background`, `matched_foreground`, "
       "`selected_background`, `selected_border`, `selected_border_width`, `badge_background`, "
       "`badge_foreground`, `badge_border`, `badge_border_width`, `target_ring`, "
       "`target_ring_width`, `target_ring_radius`, `show_badge`, `show_target_ring`, "
       "`show_action_hints`"},
      // Keys are case-sensitive.
      {"[Grid]\nmax_cells = 1",
       "unknown field `Grid`, expected one of `general`, `grid`, `motion`, `scroll`, `bindings`, `ui`"},
  };
  for (const auto& c : cases) EXPECT_EQ(problem_of(parse_report(c.toml)), c.problem) << c.toml;
}

TEST(Decoding, ReportsTheFirstProblemInFileOrder) {
  // The reader keeps keys sorted by name; the report must still follow the file.
  EXPECT_EQ(problem_of(parse_report("[grid]\nzoom = 1\nauto = 2\n")).substr(0, 21),
            "unknown field `zoom`,");
  EXPECT_EQ(problem_of(parse_report("[ui]\nshow_badge = 1\nbadge_border = \"x\"\n")),
            "invalid type: integer `1`, expected a boolean");
  EXPECT_EQ(problem_of(parse_report("[scroll]\ntarget = \"x\"\n[grid]\nmax_cells = -1\n")),
            "unknown variant `x`, expected one of `pointer`, `focused-window`");
}

TEST(Decoding, ReportLayout) {
  // The caret run covers the offending token.
  EXPECT_EQ(parse_report("[grid]\nmax_cell = 100\n"),
            "TOML parse error at line 2, column 1\n"
            "  |\n"
            "2 | max_cell = 100\n"
            "  | ^^^^^^^^\n"
            "unknown field `max_cell`, expected one of `root_min_tile_width`, `root_min_tile_height`, "
            "`min_tile_width`, `min_tile_height`, `refinement_zoom`, `max_label_length`, `max_depth`, "
            "`max_cells`, `auto_descend`, `exit_on_scroll`, `unmatched`, `unmatched_opacity`");
  // A two-digit line widens the gutter; a carriage return is not shown.
  EXPECT_EQ(parse_report("\n\n\n\n\n\n\n\n\r\n[grid]\r\nmax_depth = 300\r\n"),
            "TOML parse error at line 11, column 13\n"
            "   |\n"
            "11 | max_depth = 300\n"
            "   |             ^^^\n"
            "invalid value: integer `300`, expected an integer from 0 to 255");
  // Columns and caret runs count characters, not bytes.
  EXPECT_EQ(parse_report("ui = { font_path = \"\xc3\xa9\", font_size = \"\xc3\xa9\" }\n"),
            "TOML parse error at line 1, column 37\n"
            "  |\n"
            "1 | ui = { font_path = \"\xc3\xa9\", font_size = \"\xc3\xa9\" }\n"
            "  |                                     ^^^\n"
            "invalid type: string \"\xc3\xa9\", expected a number");
}

TEST(Decoding, SyntaxErrorsCarryTheReadersPosition) {
  const std::string report = parse_report("[grid]\nmax_cells = \n");
  EXPECT_TRUE(report.starts_with("TOML parse error at line 2, column 13\n"
                                 "  |\n"
                                 "2 | max_cells = \n"
                                 "  |             ^\n"))
      << report;
  EXPECT_GT(problem_of(report).size(), 0u);

  for (const std::string text : {"[grid]\nmax_cells = 1\nmax_cells = 2\n", "[grid\n", "a = 'x\n",
                                 "[grid]\nmax_cells = 99999999999999999999\n"}) {
    const auto loaded = load_text(text);
    ASSERT_FALSE(loaded.has_value()) << text;
    EXPECT_EQ(loaded.error().kind, ConfigError::Kind::Parse) << text;
    EXPECT_TRUE(loaded.error().source.starts_with("TOML parse error at line ")) << loaded.error().source;
  }
}

}  // namespace
}  // namespace tarvik
