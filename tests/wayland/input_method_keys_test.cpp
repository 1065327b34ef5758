// Key translation, modifiers, repeat decisions and the seat choice of the input-method grab,
// on the real US keymap (xkb codes are evdev codes + 8).
#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "input_method/grab_state.h"
#include "input_method/input_method_grab.h"
#include "input_method_support.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::modifier_mask;
using testing::state_with_us_keymap;

constexpr std::uint32_t kPressed = 1;
constexpr std::uint32_t kReleased = 0;

struct TranslationCase {
  const char* what;
  std::uint32_t code;
  const char* depressed;  // modifier held down, or nullptr
  const char* locked;     // modifier locked, or nullptr
  std::string name;
};

void PrintTo(const TranslationCase& c, std::ostream* os) { *os << c.what; }

class GrabKeyTranslation : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(GrabKeyTranslation, NamesPressAndReleaseUnderTheModifiers) {
  const TranslationCase& c = GetParam();
  GrabState state = state_with_us_keymap(3);
  grab_modifiers(state, c.depressed ? modifier_mask(state, c.depressed) : 0, 0,
                 c.locked ? modifier_mask(state, c.locked) : 0, 0);
  grab_key(state, c.code, kPressed);
  grab_key(state, c.code, kReleased);
  EXPECT_EQ(state.error, std::nullopt);
  EXPECT_EQ(state.keys, (std::vector<KeyEvent>{{c.name, c.code, false, false},
                                              {c.name, c.code, true, false}}))
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    UsKeymap, GrabKeyTranslation,
    ::testing::Values(TranslationCase{"letter", KEY_A, nullptr, nullptr, "a"},
                      TranslationCase{"letter with shift", KEY_A, "Shift", nullptr, "A"},
                      TranslationCase{"letter with caps lock", KEY_A, nullptr, "Lock", "A"},
                      TranslationCase{"digit with shift", KEY_1, "Shift", nullptr, "!"},
                      TranslationCase{"return", KEY_ENTER, nullptr, nullptr, "Return"},
                      TranslationCase{"space", KEY_SPACE, nullptr, nullptr, "space"},
                      TranslationCase{"escape", KEY_ESC, nullptr, nullptr, "Escape"},
                      TranslationCase{"modifier key itself", KEY_LEFTSHIFT, nullptr, nullptr,
                                      "Shift_L"},
                      TranslationCase{"function key", KEY_F1, nullptr, nullptr, "F1"}));

TEST(GrabKey, ModifiersClearedAgainNameTheKeyPlainly) {
  GrabState state = state_with_us_keymap();
  grab_modifiers(state, modifier_mask(state, "Shift"), 0, 0, 0);
  grab_modifiers(state, 0, 0, 0, 0);
  grab_key(state, KEY_A, kPressed);
  ASSERT_EQ(state.keys.size(), 1u);
  EXPECT_EQ(state.keys[0].name, "a");
}

TEST(GrabKey, WithoutKeymapQueuesTheFailureAndNoKey) {
  GrabState state = make_grab_state(1);
  grab_modifiers(state, 1, 0, 0, 0);  // nothing to update yet
  grab_key(state, KEY_A, kPressed);
  EXPECT_EQ(state.error, kGrabKeyWithoutKeymap);
  EXPECT_TRUE(state.keys.empty());
  EXPECT_FALSE(state.repeat_started);
}

TEST(GrabKey, CodesWhoseXkbCodeWouldOverflowAreRefused) {
  GrabState state = state_with_us_keymap();
  grab_key(state, kGrabMaxKeyCode, kPressed);
  EXPECT_EQ(state.error, std::nullopt);
  ASSERT_EQ(state.keys.size(), 1u);
  EXPECT_EQ(state.keys[0].code, kGrabMaxKeyCode);

  grab_key(state, kGrabMaxKeyCode + 1, kPressed);
  EXPECT_EQ(state.error, kGrabKeyWithoutKeymap);
  EXPECT_EQ(state.keys.size(), 1u);
}

// ----- Repeat -----------------------------------------------------------------------------

struct RepeatStartCase {
  const char* what;
  std::int32_t rate;
  std::int32_t delay;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keys;  // code, state
  std::optional<std::chrono::nanoseconds> expected;
};

void PrintTo(const RepeatStartCase& c, std::ostream* os) { *os << c.what; }

class RepeatStart : public ::testing::TestWithParam<RepeatStartCase> {};

TEST_P(RepeatStart, ArmsOnlyForAHeldRepeatingKeyWithAPositiveRate) {
  const RepeatStartCase& c = GetParam();
  GrabState state = state_with_us_keymap();
  grab_repeat_info(state, c.rate, c.delay);
  for (const auto& [code, key_state] : c.keys) grab_key(state, code, key_state);
  EXPECT_EQ(take_repeat_start(state), c.expected) << c.what;
  // Taken once per dispatch.
  EXPECT_EQ(take_repeat_start(state), std::nullopt) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, RepeatStart,
    ::testing::Values(
        RepeatStartCase{"held letter", 30, 250, {{KEY_A, kPressed}}, 250ms},
        RepeatStartCase{"negative delay counts as none", 30, -40, {{KEY_A, kPressed}}, 0ms},
        RepeatStartCase{"rate 0 disables repeat", 0, 250, {{KEY_A, kPressed}}, std::nullopt},
        RepeatStartCase{"negative rate", -3, 250, {{KEY_A, kPressed}}, std::nullopt},
        RepeatStartCase{"released within the same dispatch", 30, 250,
                        {{KEY_A, kPressed}, {KEY_A, kReleased}}, std::nullopt},
        RepeatStartCase{"modifier keys do not repeat", 30, 250, {{KEY_LEFTSHIFT, kPressed}},
                        std::nullopt},
        RepeatStartCase{"release alone", 30, 250, {{KEY_A, kReleased}}, std::nullopt}));

TEST(RepeatEvent, RepeatsTheHeldKeyUnderTheModifiersOfTheMoment) {
  GrabState state = state_with_us_keymap();
  grab_key(state, KEY_A, kPressed);
  const std::uint64_t generation = state.repeat_generation;
  EXPECT_EQ(repeat_event(state, generation), (KeyEvent{"a", KEY_A, false, true}));

  // Shift pressed while a is held: not a repeating key, so a keeps repeating, now as "A".
  grab_key(state, KEY_LEFTSHIFT, kPressed);
  grab_modifiers(state, modifier_mask(state, "Shift"), 0, 0, 0);
  EXPECT_EQ(repeat_event(state, generation), (KeyEvent{"A", KEY_A, false, true}));

  // Releasing another key does not stop it either.
  grab_key(state, KEY_LEFTSHIFT, kReleased);
  EXPECT_TRUE(repeat_event(state, generation).has_value());

  grab_key(state, KEY_A, kReleased);
  EXPECT_EQ(repeat_event(state, generation), std::nullopt);
}

TEST(RepeatEvent, ATimerOfAnEarlierPressFindsItselfStale) {
  GrabState state = state_with_us_keymap();
  grab_key(state, KEY_A, kPressed);
  const std::uint64_t first = state.repeat_generation;
  grab_key(state, KEY_B, kPressed);
  const std::uint64_t second = state.repeat_generation;

  EXPECT_EQ(repeat_event(state, first), std::nullopt);
  EXPECT_EQ(repeat_event(state, second), (KeyEvent{"b", KEY_B, false, true}));

  // Pressing the same key again after its release starts a new repeat, not the old one.
  grab_key(state, KEY_B, kReleased);
  grab_key(state, KEY_B, kPressed);
  EXPECT_EQ(repeat_event(state, second), std::nullopt);
  EXPECT_TRUE(repeat_event(state, state.repeat_generation).has_value());
}

TEST(RepeatEvent, RateDroppedToZeroEndsTheRepeat) {
  GrabState state = state_with_us_keymap();
  grab_key(state, KEY_A, kPressed);
  grab_repeat_info(state, 0, 600);
  EXPECT_EQ(repeat_event(state, state.repeat_generation), std::nullopt);
}

TEST(RepeatInterval, IsOneOverTheRateButAtLeastOneMillisecond) {
  const std::vector<std::pair<std::int32_t, std::chrono::nanoseconds>> cases = {
      {1, 1s}, {3, 333'333'333ns}, {25, 40ms}, {1000, 1ms}, {1001, 1ms}, {50'000, 1ms}};
  for (const auto& [rate, interval] : cases) {
    EXPECT_EQ(repeat_interval(rate), interval) << "rate " << rate;
  }
}

// ----- Seat choice -------------------------------------------------------------------------

struct SeatCase {
  const char* what;
  std::vector<GrabSeat> seats;
  std::string requested;
  std::optional<std::size_t> expected;
};

void PrintTo(const SeatCase& c, std::ostream* os) { *os << c.what; }

class GrabSeatChoice : public ::testing::TestWithParam<SeatCase> {};

TEST_P(GrabSeatChoice, TakesTheFirstKeyboardSeatWithExactlyThatName) {
  const SeatCase& c = GetParam();
  EXPECT_EQ(choose_grab_seat(c.seats, c.requested), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Names, GrabSeatChoice,
    ::testing::Values(
        SeatCase{"named seat with keyboard", {{"seat0", true}}, "seat0", 0},
        SeatCase{"an unnamed seat is not seat0 here", {{"", true}}, "seat0", std::nullopt},
        SeatCase{"name without keyboard does not qualify",
                 {{"seat0", false}, {"seat0", true}}, "seat0", 1},
        SeatCase{"the comparison is case-sensitive", {{"Seat0", true}}, "seat0", std::nullopt},
        SeatCase{"a prefix is not the name", {{"seat01", true}}, "seat0", std::nullopt},
        SeatCase{"first of several qualifying", {{"other", true}, {"seat1", true}, {"seat1", true}},
                 "seat1", 1},
        SeatCase{"no seats", {}, "seat0", std::nullopt}));

}  // namespace
}  // namespace tarvik
