#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "app/app_support.h"

namespace tarvik::testing {
namespace {

using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

constexpr auto kTick = std::chrono::nanoseconds(8333333);  // 1 / 120 s
const std::string kMotionTimer = "schedule_timer 0 8333333ns";

// The default speed curve written out (60 to 1800 px/s at 1400 px/s², ease-in-out).
double default_speed(double t) {
  const double u = std::clamp(t * 1400.0 / 1740.0, 0.0, 1.0);
  const double e = u < 0.5 ? 2 * u * u : 1 - (2 - 2 * u) * (2 - 2 * u) / 2;
  return 60.0 + 1740.0 * e;
}

class AppMouseTest : public ::testing::Test {
 protected:
  void start(Config config = {}) {
    h = make_harness(std::move(config));
    ASSERT_EQ(h->request(command::Mouse{}), "mouse mode active");
    h->calls();
  }
  std::vector<std::pair<double, double>> take_moves() {
    auto moves = h->backend->moves;
    h->backend->moves.clear();
    return moves;
  }
  std::unique_ptr<Harness> h;
};

TEST_F(AppMouseTest, TheFirstStepIsHalfAPixelThenTheMeasuredTimeAtTheGrowingSpeed) {
  start();
  h->press("h");
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"move_pointer", kMotionTimer}));
  EXPECT_THAT(take_moves(), ElementsAre(std::pair(-0.5, 0.0)));

  // Irregular firing changes the step, not the speed; a stall is capped at 50 ms.
  const milliseconds gaps[] = {milliseconds(8), milliseconds(12), milliseconds(300),
                               milliseconds(9)};
  double t = 0;
  for (milliseconds gap : gaps) {
    h->clock.advance(gap);
    t += std::chrono::duration<double>(gap).count();
    ASSERT_TRUE(h->fire(TimerKind::MotionTick));
    EXPECT_EQ(h->calls(), (std::vector<std::string>{"move_pointer", kMotionTimer}));
    const auto moves = take_moves();
    ASSERT_EQ(moves.size(), 1u);
    const double step = std::min(std::chrono::duration<double>(gap).count(), 0.050);
    EXPECT_NEAR(moves[0].first, -step * default_speed(t), 1e-9) << "after " << t << " s";
    EXPECT_EQ(moves[0].second, 0.0);
  }
}

TEST_F(AppMouseTest, OppositeKeysCancelAndDiagonalsMoveOnBothAxes) {
  start();
  h->press("h");
  h->press("l");
  take_moves();
  h->clock.advance(milliseconds(10));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  EXPECT_TRUE(take_moves().empty());
  // Nothing is held in effect: the timer stops by itself.
  EXPECT_FALSE(h->pending(TimerKind::MotionTick));

  // Letting go of one of the two moves towards the other at once.
  h->release("h");
  EXPECT_THAT(take_moves(), ElementsAre(std::pair(0.5, 0.0)));
  h->press("k");
  h->clock.advance(milliseconds(10));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  const auto moves = take_moves();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_GT(moves[0].first, 0.0);
  EXPECT_DOUBLE_EQ(moves[0].first, -moves[0].second);
}

TEST_F(AppMouseTest, ReleasingEveryDirectionStopsAndRestartsTheAcceleration) {
  start();
  h->press("j");
  for (int i = 0; i < 20; ++i) {
    h->clock.advance(milliseconds(20));
    h->fire(TimerKind::MotionTick);
  }
  h->release("j");
  take_moves();
  h->clock.advance(milliseconds(20));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  EXPECT_TRUE(take_moves().empty());
  EXPECT_FALSE(h->pending(TimerKind::MotionTick));

  h->clock.advance(milliseconds(500));
  h->press("j");
  EXPECT_THAT(take_moves(), ElementsAre(std::pair(0.0, 0.5)));
}

TEST_F(AppMouseTest, ChangingDirectionWhileOneKeyStaysHeldKeepsTheSpeed) {
  start();
  h->press("h");
  h->clock.advance(milliseconds(20));
  h->fire(TimerKind::MotionTick);
  h->press("k");  // the timer is running: no extra tick
  h->release("h");
  take_moves();
  h->clock.advance(milliseconds(20));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  const auto moves = take_moves();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_NEAR(moves[0].second, -0.020 * default_speed(0.040), 1e-9);
}

TEST_F(AppMouseTest, WithoutAccelerationTheSpeedStaysInitial) {
  Config config;
  config.motion.acceleration = 0;
  start(config);
  h->press("l");
  for (int i = 0; i < 100; ++i) {
    h->clock.advance(milliseconds(20));
    h->fire(TimerKind::MotionTick);
  }
  const auto moves = take_moves();
  ASSERT_EQ(moves.size(), 101u);
  EXPECT_DOUBLE_EQ(moves.front().first, 0.5);
  for (std::size_t i = 1; i < moves.size(); ++i) EXPECT_DOUBLE_EQ(moves[i].first, 0.020 * 60.0);
}

TEST_F(AppMouseTest, ATimerFromAnEndedModeDoesNothing) {
  start();
  h->press("h");
  const auto old_timer = h->pending(TimerKind::MotionTick);
  ASSERT_TRUE(old_timer);
  h->press("Escape");
  ASSERT_TRUE(h->request(command::Mouse{}));
  h->press("h", 99);
  const auto new_timer = h->backend->timers.back();
  ASSERT_NE(old_timer->token, new_timer.token);
  take_moves();
  h->calls();

  h->clock.advance(milliseconds(10));
  h->app->on_timer(TimerKind::MotionTick, old_timer->token);
  EXPECT_TRUE(h->calls().empty());
  h->app->on_timer(TimerKind::MotionTick, new_timer.token);
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"move_pointer", kMotionTimer}));
}

TEST_F(AppMouseTest, ATimerAfterTheModeEndedDoesNothing) {
  start();
  h->press("h");
  ASSERT_TRUE(h->request(command::Cancel{}));
  h->calls();
  h->clock.advance(milliseconds(10));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  EXPECT_TRUE(h->calls().empty());
}

TEST_F(AppMouseTest, ButtonsAndScrollsReachTheBackend) {
  start();
  h->press("s");
  h->repeat("s");
  h->release("s");
  h->press("c");
  h->press("u");
  h->repeat("u");
  h->press("y");
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"set_button left press",
                                                  "set_button left release", "click left",
                                                  "click left", "scroll up 15", "scroll up 15",
                                                  "scroll left 15"}));
}

TEST_F(AppMouseTest, LockingRedrawsAndCancellingReleasesMiddleThenRight) {
  start();
  h->press("v");
  h->press("d");
  h->release("d");
  h->press("f");
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"present DP-1 1920x1080",
                                                  "set_button middle press",
                                                  "present DP-1 1920x1080",
                                                  "set_button right press"}));
  // The cancel binding releases first, then leaves.
  h->press("Escape");
  EXPECT_EQ(h->calls(), concat({{"set_button middle release", "set_button right release"},
                                cancel_calls()}));
}

TEST_F(AppMouseTest, ACancelFromOutsideReleasesTheHeldButtonsInOrder) {
  start();
  h->press("f");
  h->press("v");
  h->press("s");
  h->calls();
  h->app->on_cancel();
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"cancel_captures", "set_button left release",
                                                  "set_button right release",
                                                  "increment_input_generation",
                                                  "release_keyboard", "park_overlays"}));
  // Key releases after the mode ended find nothing to release.
  h->release("f");
  EXPECT_TRUE(h->calls().empty());
}

TEST_F(AppMouseTest, QuitLeavesAndTheCancelReleases) {
  start();
  h->press("s");
  h->calls();
  h->press("q");
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"cancel_captures", "set_button left release",
                                                  "increment_input_generation",
                                                  "release_keyboard", "park_overlays"}));
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
}

TEST_F(AppMouseTest, AKeyStampedBeforeTheModeIsDroppedByTheBackendNotSeenHere) {
  // The backend only delivers keys of the current input generation; every cancel moves it on.
  start();
  const auto generation = h->backend->generation;
  h->press("Escape");
  EXPECT_EQ(h->backend->generation, generation + 1);
  EXPECT_FALSE(h->backend->keyboard_capture_active());
}

// ---- Failures after the answer: printed, then the mode ends ----------------------------------

TEST_F(AppMouseTest, AFailedMoveIsPrintedAndEndsTheMode) {
  start();
  h->backend->failures["move_pointer"] = "Sway rejected cursor command: move";
  ::testing::internal::CaptureStderr();
  h->press("h");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: Sway rejected cursor command: move\n");
  EXPECT_EQ(h->calls(), concat({{"move_pointer"}, cancel_calls()}));
  EXPECT_FALSE(h->pending(TimerKind::MotionTick));
}

TEST_F(AppMouseTest, AMotionTimerThatCannotStartIsPrintedAndEndsTheMode) {
  start();
  h->backend->failures["schedule_timer 0"] = "error inserting event source: no memory";
  ::testing::internal::CaptureStderr();
  h->press("k");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: cannot start motion timer: error inserting event source: no memory\n");
  EXPECT_EQ(h->calls(), concat({{"move_pointer", kMotionTimer}, cancel_calls()}));
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
}

TEST_F(AppMouseTest, AFailedButtonDropsTheRestAndCancelStillTriesEveryRelease) {
  start();
  h->press("v");
  h->press("d");  // middle locked
  h->press("f");  // right held
  h->calls();
  h->backend->failures["set_button"] = "no seat";
  ::testing::internal::CaptureStderr();
  h->press("Escape");
  // The first release fails: printed once, the rest of the list is dropped, and the cancel that
  // follows finds the state already emptied by the cancel binding.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: no seat\n");
  EXPECT_EQ(h->calls(), concat({{"set_button middle release"}, cancel_calls()}));
}

TEST_F(AppMouseTest, CancelPrintsEachFailedReleaseAndAFailedPark) {
  start();
  h->press("v");
  h->press("d");
  h->press("f");
  h->calls();
  h->backend->failures["set_button"] = "no seat";
  h->backend->failures["park_overlays"] = "no shm";
  ::testing::internal::CaptureStderr();
  h->app->cancel();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: cannot release mouse button: no seat\n"
            "tarvik: cannot release mouse button: no seat\n"
            "tarvik: cannot park overlays: no shm\n");
  EXPECT_EQ(h->calls(), (std::vector<std::string>{"cancel_captures", "set_button middle release",
                                                  "set_button right release",
                                                  "increment_input_generation",
                                                  "release_keyboard", "park_overlays"}));
}

// ---- Keyboard focus and shortcut inhibition --------------------------------------------------

const std::string kFocusTimer = "schedule_timer 2 50000000ns";

TEST_F(AppMouseTest, LosingTheKeyboardEndsTheModeAfterTheGrace) {
  start();
  h->app->on_keyboard_focus(true);
  h->app->on_keyboard_focus(false);
  EXPECT_EQ(h->calls(), std::vector<std::string>{kFocusTimer});
  ASSERT_TRUE(h->fire(TimerKind::KeyboardFocusCheck));
  EXPECT_EQ(h->calls(), cancel_calls());
}

TEST_F(AppMouseTest, AFocusFlickerKeepsTheModeAndTheMotionRecovers) {
  start();
  h->press("h");
  h->app->on_keyboard_focus(false);  // held directions are dropped
  h->app->on_keyboard_focus(true);
  take_moves();
  h->clock.advance(milliseconds(10));
  ASSERT_TRUE(h->fire(TimerKind::KeyboardFocusCheck));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  EXPECT_TRUE(take_moves().empty());
  EXPECT_EQ(h->app->mode(), ModeKind::Mouse);

  // The key pressed again moves from the initial speed.
  h->press("h", 77);
  EXPECT_THAT(take_moves(), ElementsAre(std::pair(-0.5, 0.0)));
  EXPECT_TRUE(h->pending(TimerKind::MotionTick));
}

TEST_F(AppMouseTest, OnlyTheNewestFocusCheckCounts) {
  start();
  h->app->on_keyboard_focus(false);
  h->app->on_keyboard_focus(true);
  h->app->on_keyboard_focus(false);
  h->calls();
  ASSERT_TRUE(h->fire(TimerKind::KeyboardFocusCheck));
  EXPECT_TRUE(h->calls().empty());
  ASSERT_TRUE(h->fire(TimerKind::KeyboardFocusCheck));
  EXPECT_EQ(h->calls(), cancel_calls());
}

TEST_F(AppMouseTest, FocusEventsAreIgnoredWhenIdleOrWithPreservedFocus) {
  h = make_harness();
  h->app->on_keyboard_focus(false);
  EXPECT_TRUE(h->calls().empty());

  Config config;
  config.general.preserve_focus = true;
  start(config);
  h->app->on_keyboard_focus(false);
  h->app->on_inhibitor_inactive();
  EXPECT_TRUE(h->calls().empty());
  EXPECT_EQ(h->app->mode(), ModeKind::Mouse);
}

TEST_F(AppMouseTest, AFocusCheckThatCannotBeArmedEndsTheMode) {
  start();
  h->backend->failures["schedule_timer 2"] = "no timer";
  ::testing::internal::CaptureStderr();
  h->app->on_keyboard_focus(false);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: cannot monitor keyboard focus: no timer\n");
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
}

TEST_F(AppMouseTest, InhibitorLossReleasesALockedButtonThenEndsTheMode) {
  start();
  h->press("v");
  h->press("s");
  h->calls();
  h->app->on_inhibitor_inactive();
  EXPECT_EQ(h->calls(), concat({{"set_button left release"}, cancel_calls()}));
}

TEST_F(AppMouseTest, InhibitorLossWithoutTheRequirementKeepsTheModeWithNothingHeld) {
  Config config;
  config.general.require_shortcut_inhibit = false;
  start(config);
  h->press("v");
  h->press("s");
  h->press("h");
  h->calls();
  h->app->on_inhibitor_inactive();
  EXPECT_EQ(h->calls(), std::vector<std::string>{"set_button left release"});
  EXPECT_EQ(h->app->mode(), ModeKind::Mouse);
  take_moves();
  h->clock.advance(milliseconds(10));
  ASSERT_TRUE(h->fire(TimerKind::MotionTick));
  EXPECT_TRUE(take_moves().empty());
  // Keys act as usual afterwards; the lock key is no longer armed or locked.
  h->press("s", 55);
  EXPECT_EQ(h->calls(), std::vector<std::string>{"set_button left press"});
}

}  // namespace
}  // namespace tarvik::testing
