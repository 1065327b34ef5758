#include "app/mouse_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fmt/format.h>

namespace tarvik {
namespace {

// Effects as short words, so that a failing sequence reads like the key presses.
std::string describe(const Effects& effects) {
  std::string out;
  for (const Effect& effect : effects) {
    if (!out.empty()) out += ", ";
    if (std::holds_alternative<effect::Redraw>(effect)) {
      out += "redraw";
    } else if (const auto* set = std::get_if<effect::SetButton>(&effect)) {
      const char* names[] = {"left", "middle", "right"};
      out += fmt::format("{} {}", set->release ? "release" : "press",
                         names[static_cast<int>(set->button)]);
    } else if (const auto* scroll = std::get_if<effect::Scroll>(&effect)) {
      const char* names[] = {"up", "down", "left", "right"};
      out += fmt::format("scroll {}", names[static_cast<int>(scroll->direction)]);
    } else if (const auto* click = std::get_if<effect::DoubleClick>(&effect)) {
      out += click->button == PointerButton::Left ? "double-click left" : "double-click other";
    } else if (std::holds_alternative<effect::Exit>(effect)) {
      out += "exit";
    } else {
      out += "other";
    }
  }
  return out;
}

KeyEvent press(std::string name, std::uint32_t code) { return {std::move(name), code, false, false}; }
KeyEvent repeat(std::string name, std::uint32_t code) { return {std::move(name), code, false, true}; }
KeyEvent release(std::string name, std::uint32_t code) { return {std::move(name), code, true, false}; }

struct Step {
  KeyEvent event;
  std::string effects;  // describe() of what the key must produce
};

struct Sequence {
  const char* what;
  std::vector<Step> steps;
  MouseState final_state;
};

class MouseSequenceTest : public ::testing::TestWithParam<Sequence> {};

// Default bindings: h j k l move, s d f buttons, v lock, c double click, u e y o scroll.
TEST_P(MouseSequenceTest, ProducesTheEffectsOfEachKey) {
  const Sequence& sequence = GetParam();
  const config::MouseBindings bindings;
  MouseState state;
  for (std::size_t i = 0; i < sequence.steps.size(); ++i) {
    const Step& step = sequence.steps[i];
    EXPECT_EQ(describe(mouse_key_effects(state, bindings, step.event)), step.effects)
        << sequence.what << ", key " << i << " (" << step.event.name << ")";
  }
  EXPECT_EQ(state, sequence.final_state) << sequence.what;
}

MouseState locked(PointerButton button) {
  MouseState state;
  state.locked = button;
  return state;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MouseSequenceTest,
    ::testing::Values(
        Sequence{"a held button key repeats but presses once",
                 {{press("s", 31), "press left"},
                  {repeat("s", 31), ""},
                  {repeat("s", 31), ""},
                  {release("s", 31), "release left"}},
                 {}},
        Sequence{"lock, then press and release the button key",
                 {{press("v", 47), "redraw"},
                  {press("s", 31), "press left, redraw"},
                  {release("s", 31), ""}},
                 locked(PointerButton::Left)},
        Sequence{"the lock key again unlocks",
                 {{press("v", 47), "redraw"},
                  {press("s", 31), "press left, redraw"},
                  {release("s", 31), ""},
                  {press("v", 47), "release left, redraw"}},
                 {}},
        Sequence{"the lock key twice leaves nothing armed",
                 {{press("v", 47), "redraw"}, {press("v", 47), "redraw"}, {press("s", 31), "press left"}},
                 MouseState{{}, {{31, PointerButton::Left}}, std::nullopt, false}},
        Sequence{"a repeat of the lock key is ignored",
                 {{press("v", 47), "redraw"}, {repeat("v", 47), ""}},
                 MouseState{{}, {}, std::nullopt, true}},
        Sequence{"a direction key ends the arming and still moves",
                 {{press("v", 47), "redraw"}, {press("h", 35), "redraw"}},
                 MouseState{{{35, MotionDirection::Left}}, {}, std::nullopt, false}},
        Sequence{"a scroll key ends the arming and scrolls",
                 {{press("v", 47), "redraw"}, {press("u", 22), "redraw, scroll up"}},
                 {}},
        Sequence{"a button key held while its button is locked adds nothing",
                 {{press("v", 47), "redraw"},
                  {press("s", 31), "press left, redraw"},
                  {press("s", 31), ""},
                  {release("s", 31), ""}},
                 locked(PointerButton::Left)},
        Sequence{"locking a button already held by a key presses nothing",
                 {{press("s", 31), "press left"},
                  {press("v", 47), "redraw"},
                  {press("s", 99), "redraw"},
                  {release("s", 31), ""}},
                 locked(PointerButton::Left)},
        Sequence{"unlocking while a key still holds the button leaves it to that key",
                 {{press("v", 47), "redraw"},
                  {press("s", 31), "press left, redraw"},
                  {press("s", 99), ""},
                  {press("v", 47), "redraw"},
                  {release("s", 99), "release left"}},
                 {}},
        Sequence{"two keys holding one button press and release it once",
                 {{press("s", 31), "press left"},
                  {press("s", 99), ""},
                  {release("s", 31), ""},
                  {release("s", 99), "release left"}},
                 {}},
        Sequence{"cancel releases a locked middle, then a held right",
                 {{press("v", 47), "redraw"},
                  {press("d", 32), "press middle, redraw"},
                  {press("f", 33), "press right"},
                  {press("Escape", 1), "release middle, release right, exit"}},
                 {}},
        Sequence{"cancel releases in the order left, middle, right",
                 {{press("f", 33), "press right"},
                  {press("s", 31), "press left"},
                  {press("d", 32), "press middle"},
                  {press("Escape", 1), "release left, release middle, release right, exit"}},
                 {}},
        Sequence{"q leaves without releasing (cancel does that)",
                 {{press("s", 31), "press left"}, {press("q", 16), "exit"}},
                 MouseState{{}, {{31, PointerButton::Left}}, std::nullopt, false}},
        Sequence{"double click ignores repeats",
                 {{press("c", 46), "double-click left"}, {repeat("c", 46), ""}},
                 {}},
        Sequence{"a held scroll key scrolls on every repeat",
                 {{press("e", 18), "scroll down"},
                  {repeat("e", 18), "scroll down"},
                  {repeat("e", 18), "scroll down"},
                  {release("e", 18), ""},
                  {press("y", 21), "scroll left"},
                  {press("o", 24), "scroll right"}},
                 {}},
        Sequence{"a release is known by its code, not its name",
                 {{press("s", 31), "press left"}, {release("S", 31), "release left"}},
                 {}},
        Sequence{"a release of a key pressed before the mode does nothing",
                 {{release("s", 31), ""}, {release("h", 35), ""}},
                 {}},
        Sequence{"direction keys are held until released",
                 {{press("h", 35), ""},
                  {press("k", 37), ""},
                  {repeat("k", 37), ""},
                  {release("h", 35), ""}},
                 MouseState{{{37, MotionDirection::Up}}, {}, std::nullopt, false}},
        Sequence{"unbound keys do nothing",
                 {{press("x", 45), ""}, {press("Return", 28), ""}},
                 {}}));

TEST(DirectionVector, CombinesHeldDirections) {
  struct Case {
    std::vector<MotionDirection> held;
    DirectionVector expected;
  };
  using D = MotionDirection;
  const std::vector<Case> cases = {
      {{}, {0, 0}},
      {{D::Left}, {-1, 0}},
      {{D::Right}, {1, 0}},
      {{D::Up}, {0, -1}},
      {{D::Down}, {0, 1}},
      {{D::Left, D::Right}, {0, 0}},
      {{D::Up, D::Down}, {0, 0}},
      {{D::Up, D::Right}, {1, -1}},
      {{D::Down, D::Left}, {-1, 1}},
      // Two keys for one direction still move at unit speed.
      {{D::Left, D::Left}, {-1, 0}},
      {{D::Left, D::Right, D::Down}, {0, 1}},
  };
  for (const Case& c : cases) {
    MouseState state;
    std::uint32_t code = 1;
    for (D direction : c.held) state.held_directions[code++] = direction;
    EXPECT_EQ(direction_vector(state), c.expected) << "with " << c.held.size() << " keys";
  }
}

TEST(ReleaseEffects, EmptiesTheStateSoASecondCallReleasesNothing) {
  MouseState state;
  state.held_directions[35] = MotionDirection::Left;
  state.held_buttons[33] = PointerButton::Right;
  state.locked = PointerButton::Middle;
  EXPECT_EQ(describe(release_effects(state)), "release middle, release right");
  EXPECT_EQ(state, MouseState{});
  EXPECT_EQ(describe(release_effects(state)), "");
}

TEST(ScrollVariant, OnlyCancelAndScrollKeysAct) {
  const config::MouseBindings bindings;
  struct Case {
    KeyEvent event;
    std::string effects;
  };
  const std::vector<Case> cases = {
      {press("h", 35), ""},          {press("s", 31), ""},
      {press("v", 47), ""},          {press("c", 46), ""},
      {press("q", 16), ""},          {press("u", 22), "scroll up"},
      {repeat("u", 22), "scroll up"}, {press("e", 18), "scroll down"},
      {press("y", 21), "scroll left"}, {press("o", 24), "scroll right"},
      {release("u", 22), ""},        {release("Escape", 1), ""},
      {press("Escape", 1), "exit"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(scroll_key_effects(bindings, c.event)), c.effects)
        << c.event.name << (c.event.released ? " released" : c.event.repeat ? " repeat" : "");
  }
}

TEST(MouseBindings, AnEmptyBindingMatchesOnlyUnnamedKeys) {
  config::MouseBindings bindings;
  bindings.double_click = "";
  MouseState state;
  EXPECT_EQ(describe(mouse_key_effects(state, bindings, press("", 200))), "double-click left");
  EXPECT_EQ(describe(mouse_key_effects(state, bindings, press("c", 46))), "");
}

}  // namespace
}  // namespace tarvik
