#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/app_support.h"
#include "logging/logging.h"

namespace tarvik::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

using Calls = std::vector<std::string>;

// Warnings are checked on standard error, where the installed logger writes them. A second
// installation in the same process fails harmlessly.
void log_warnings() { (void)init_logging(LogLevel::Warn, std::nullopt); }

Command grid(GridAction action = GridAction::Choose) {
  GridOptions options;
  options.action = action;
  return command::Grid{options};
}

// A 1920 x 1080 output has 20 x 20 cells of 96 x 54 with two-letter labels; "ia" is the cell at
// (768, 540), centred on (816, 567).
constexpr const char* kCell = "ia";

std::unique_ptr<RecordingBackend> beside_primary() {
  auto backend = std::make_unique<RecordingBackend>();
  backend->set_outputs({OutputRecord{"DP-1", 0, 0, 1920, 1080},
                        OutputRecord{"HDMI-A-1", 1920, 0, 1920, 1080}});
  backend->fake_compositor().focused = std::optional<std::string>("HDMI-A-1");
  return backend;
}

TEST(AppGrid, ASessionFromRequestToClick) {
  auto h = make_harness(Config{}, beside_primary());
  ASSERT_EQ(h->request(grid()), "grid active");
  EXPECT_EQ(h->calls(), concat({{"focused_output"},
                                cancel_calls(),
                                {"capture_keyboard HDMI-A-1 false", "present HDMI-A-1 1920x1080"}}));

  // A letter no label starts with is dropped without a redraw; releases do nothing.
  h->press("z");
  h->release("z");
  h->press("Return");
  EXPECT_TRUE(h->calls().empty());

  h->press("i");
  EXPECT_EQ(h->calls(), Calls{"present HDMI-A-1 1920x1080"});
  h->repeat("a");
  EXPECT_EQ(h->calls(), Calls{"present HDMI-A-1 1920x1080"});
  EXPECT_EQ(h->app->mode(), ModeKind::Grid);

  // The left-click binding: warp in layout coordinates, click, leave.
  h->press("s");
  EXPECT_EQ(h->calls(), concat({{"cursor_set seat0 2736 567", "click left"}, cancel_calls()}));
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
}

TEST(AppGrid, TheRequestedActionRunsWhenTheLabelIsComplete) {
  struct Case {
    GridAction action;
    Calls calls;
  };
  const Case cases[] = {
      {GridAction::Move, concat({{"cursor_set seat0 816 567"}, cancel_calls()})},
      {GridAction::Right, concat({{"cursor_set seat0 816 567", "click right"}, cancel_calls()})},
      {GridAction::DoubleClick,
       concat({{"cursor_set seat0 816 567", "click left", "click left"}, cancel_calls()})},
      {GridAction::ScrollUp, {"cursor_set seat0 816 567", "scroll up 15"}},
  };
  for (const Case& c : cases) {
    auto h = make_harness();
    ASSERT_TRUE(h->request(grid(c.action)));
    h->calls();
    h->type(kCell);
    auto calls = h->calls();
    // The first letter only narrows the labels.
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "present DP-1 1920x1080");
    calls.erase(calls.begin());
    EXPECT_EQ(calls, c.calls) << static_cast<int>(c.action);
  }
}

TEST(AppGrid, AScrollKeepsGridModeForAnotherScroll) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  h->press("e");
  h->press("e");
  EXPECT_EQ(h->calls(), (Calls{"cursor_set seat0 816 567", "scroll down 15",
                               "cursor_set seat0 816 567", "scroll down 15"}));
  EXPECT_EQ(h->app->mode(), ModeKind::Grid);
}

TEST(AppGrid, AWarpToAnOutputUnpluggedMeanwhileIsPrintedAndEndsTheMode) {
  auto h = make_harness(Config{}, beside_primary());
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  h->backend->output_list.pop_back();
  ::testing::internal::CaptureStderr();
  h->press("s");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarvik: output HDMI-A-1 disappeared\n");
  // The click after the failed warp is dropped.
  EXPECT_EQ(h->calls(), cancel_calls());
}

TEST(AppGrid, AFailedFirstClickOfADoubleClickSkipsTheSecond) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  h->backend->failures["click"] = "Sway IPC error: Broken pipe (os error 32)";
  ::testing::internal::CaptureStderr();
  h->press("c");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: Sway IPC error: Broken pipe (os error 32)\n");
  EXPECT_EQ(h->calls(), concat({{"cursor_set seat0 816 567", "click left"}, cancel_calls()}));
}

TEST(AppGrid, AFailedWarpIsPrinted) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  const SwayError rejected{SwayError::Kind::Command, "no seat"};
  h->compositor().failures["cursor_set"] = rejected;
  ::testing::internal::CaptureStderr();
  h->press("space");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarvik: " + rejected.message() + "\n");
  EXPECT_EQ(h->app->mode(), ModeKind::Idle);
}

TEST(AppGrid, EnterMouseWarpsThenMouseModeTakesTheKeyboard) {
  auto h = make_harness(Config{}, beside_primary());
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  h->press("g");
  EXPECT_EQ(h->calls(), concat({{"cursor_set seat0 2736 567"},
                                cancel_calls(),
                                {"capture_keyboard HDMI-A-1 false", "present HDMI-A-1 1920x1080"}}));
  EXPECT_EQ(h->app->mode(), ModeKind::Mouse);
  h->press("h");
  EXPECT_EQ(h->calls(), (Calls{"move_pointer", "schedule_timer 0 8333333ns"}));
}

TEST(AppGrid, TheScrollActionLeavesOnlyScrollAndCancelKeys) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid(GridAction::Scroll)));
  h->type(kCell);
  EXPECT_EQ(h->app->mode(), ModeKind::Scroll);
  h->calls();
  for (const char* key : {"h", "s", "v", "c", "q"}) h->press(key);
  h->press("u");
  h->repeat("u");
  h->press("o");
  EXPECT_EQ(h->calls(), (Calls{"scroll up 15", "scroll up 15", "scroll right 15"}));
  EXPECT_FALSE(h->pending(TimerKind::MotionTick));
  h->press("Escape");
  EXPECT_EQ(h->calls(), cancel_calls());
}

TEST(AppGrid, BackStepsOncePerRepeatAndIdleIgnoresKeys) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  h->press("BackSpace");  // unselects, drops the a
  h->repeat("BackSpace");  // drops the i
  h->repeat("BackSpace");  // nothing left at the root: no redraw
  EXPECT_EQ(h->calls(), (Calls{"present DP-1 1920x1080", "present DP-1 1920x1080"}));
  h->press("Escape");
  h->calls();
  h->press("a");
  h->app->on_configured_redraw();
  EXPECT_TRUE(h->calls().empty());
}

TEST(AppGrid, AConfiguredOverlayIsRedrawnAndAFailureEndsTheMode) {
  auto h = make_harness();
  ASSERT_TRUE(h->request(grid()));
  h->calls();
  h->app->on_configured_redraw();
  EXPECT_EQ(h->calls(), Calls{"present DP-1 1920x1080"});
  h->backend->failures["present"] = "overlay for output DP-1 is unavailable";
  h->app->on_configured_redraw();
  EXPECT_EQ(h->calls(), concat({{"present DP-1 1920x1080"}, cancel_calls()}));
}

// ---- The lens --------------------------------------------------------------------------------

HeldCapture screen(std::uint32_t width, std::uint32_t height) {
  return HeldCapture{std::vector<std::uint8_t>(std::size_t{width} * height * 4, 0x80), width,
                     height, width, height};
}

class AppLensTest : public ::testing::Test {
 protected:
  void start(Config config = {}, std::uint32_t width = 1920, std::uint32_t height = 1080) {
    config.grid.refinement_zoom = 4.0;
    auto backend = std::make_unique<RecordingBackend>();
    backend->set_outputs({OutputRecord{"DP-1", 0, 0, static_cast<std::int32_t>(width),
                                       static_cast<std::int32_t>(height)}});
    backend->fake_compositor().focused = std::optional<std::string>("DP-1");
    backend->screen_capture = true;
    h = make_harness(std::move(config), std::move(backend));
    ASSERT_EQ(h->request(grid()), "grid active");
    present = "present DP-1 " + std::to_string(width) + "x" + std::to_string(height);
    w = width;
    ht = height;
    h->calls();
  }
  // Selects a cell and descends into it; the capture is then awaited.
  void descend(const std::string& label = kCell) {
    h->type(label);
    h->calls();
    h->press("Return");
  }
  void deliver(std::uint64_t serial) { h->app->on_capture("DP-1", serial, screen(w, ht)); }
  // Fires animation frames 15 ms apart until the timer stops; the number of frames drawn.
  int run_animation() {
    int frames = 0;
    while (h->pending(TimerKind::LensAnimationFrame)) {
      h->clock.advance(h->pending(TimerKind::LensAnimationFrame)->delay);
      h->fire(TimerKind::LensAnimationFrame);
      ++frames;
    }
    return frames;
  }

  std::unique_ptr<Harness> h;
  std::string present;
  std::uint32_t w = 0;
  std::uint32_t ht = 0;
};

TEST_F(AppLensTest, ADescentWaitsForAFreshCaptureThenAnimatesTheLens) {
  start();
  descend();
  // Nothing is drawn while the capture is awaited.
  EXPECT_EQ(h->calls(), (Calls{"request_capture DP-1 1", "schedule_timer 3 1000000000ns"}));
  // Keys other than leaving are ignored: neither the letter nor the back keys change the level.
  h->press("a");
  h->release("a");
  h->press("BackSpace");
  h->press("BackSpace");
  EXPECT_TRUE(h->calls().empty());

  deliver(1);
  EXPECT_EQ(h->calls(), (Calls{"cancel_captures", "schedule_timer 1 15000000ns", present}));

  // 120 ms at 15 ms a frame; the last frame stops the timer.
  for (int frame = 1; frame <= 8; ++frame) {
    h->clock.advance(std::chrono::milliseconds(15));
    ASSERT_TRUE(h->fire(TimerKind::LensAnimationFrame)) << frame;
    if (frame < 8) {
      EXPECT_EQ(h->calls(), (Calls{present, "schedule_timer 1 15000000ns"})) << frame;
    } else {
      EXPECT_EQ(h->calls(), Calls{present});
    }
  }
  EXPECT_FALSE(h->pending(TimerKind::LensAnimationFrame));

  // The timeout of the answered capture changes nothing; the child grid takes letters again.
  ASSERT_TRUE(h->fire(TimerKind::CaptureTimeout));
  EXPECT_TRUE(h->calls().empty());
  h->press("a");
  EXPECT_EQ(h->calls(), Calls{present});
}

TEST_F(AppLensTest, WhileTheCaptureIsAwaitedCancelAndQLeave) {
  for (const char* key : {"Escape", "q"}) {
    start();
    descend();
    h->calls();
    h->press(key);
    EXPECT_EQ(h->calls(), cancel_calls()) << key;
    // The result of the abandoned capture would be ignored.
    deliver(1);
    EXPECT_TRUE(h->calls().empty()) << key;
  }
}

TEST_F(AppLensTest, ACaptureThatNeverAnswersEndsTheWaitAndTheSessionGoesOnUnmagnified) {
  start();
  descend();
  h->calls();
  log_warnings();
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(h->fire(TimerKind::CaptureTimeout));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              HasSubstr("fresh screenshot unavailable; continuing without magnification"));
  EXPECT_EQ(h->calls(), (Calls{"cancel_captures", present}));
  EXPECT_EQ(h->app->mode(), ModeKind::Grid);

  // A late result is ignored.
  deliver(1);
  EXPECT_TRUE(h->calls().empty());

  // Later descents lay out their grid in place and ask for no capture.
  h->press("BackSpace");
  descend();
  EXPECT_EQ(h->calls(), Calls{present});
}

TEST_F(AppLensTest, AFailedCaptureGoesOnWithoutMagnification) {
  start();
  descend();
  h->calls();
  h->app->on_capture("DP-1", 1, std::unexpected(std::string("screencopy failed")));
  EXPECT_EQ(h->calls(), (Calls{"cancel_captures", present}));
  h->press("BackSpace");
  descend();
  EXPECT_EQ(h->calls(), Calls{present});
}

TEST_F(AppLensTest, ARequestThatCannotStartFailsAtOnce) {
  struct Case {
    const char* failure;
    Calls calls;
  };
  const Case cases[] = {
      {"request_capture", {"request_capture DP-1 1", "cancel_captures", "present DP-1 1920x1080"}},
      {"schedule_timer 3",
       {"request_capture DP-1 1", "schedule_timer 3 1000000000ns", "cancel_captures",
        "present DP-1 1920x1080"}},
  };
  log_warnings();
  for (const Case& c : cases) {
    start();
    h->backend->failures[c.failure] = "screen capture is unavailable";
    ::testing::internal::CaptureStderr();
    descend();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("cannot refresh screenshot: screen capture is unavailable"));
    EXPECT_THAT(log, HasSubstr("fresh screenshot unavailable; continuing without magnification"));
    auto calls = h->calls();
    // The key's own redraw follows the failure path's.
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), present);
    calls.pop_back();
    EXPECT_EQ(calls, c.calls) << c.failure;
    EXPECT_EQ(h->app->mode(), ModeKind::Grid);
  }
}

TEST_F(AppLensTest, AResultForAnOlderRequestIsIgnored) {
  start();
  descend();
  h->press("q");
  ASSERT_TRUE(h->request(grid()));
  descend();
  EXPECT_THAT(h->calls(), Contains("request_capture DP-1 2"));
  deliver(1);
  h->app->on_capture("HDMI-A-1", 2, screen(w, ht));
  EXPECT_TRUE(h->calls().empty());
  deliver(2);
  EXPECT_EQ(h->calls(), (Calls{"cancel_captures", "schedule_timer 1 15000000ns", present}));
}

TEST_F(AppLensTest, AKeyDuringTheAnimationShowsTheFinalLens) {
  start();
  descend();
  deliver(1);
  h->calls();
  h->clock.advance(std::chrono::milliseconds(15));
  h->fire(TimerKind::LensAnimationFrame);
  h->calls();
  // "x" continues no child label: no effects, but the discarded animation is redrawn.
  h->press("x");
  EXPECT_EQ(h->calls(), Calls{present});
  h->clock.advance(std::chrono::milliseconds(15));
  ASSERT_TRUE(h->fire(TimerKind::LensAnimationFrame));
  EXPECT_EQ(h->calls(), Calls{present});
  EXPECT_FALSE(h->pending(TimerKind::LensAnimationFrame));
}

TEST_F(AppLensTest, AnAnimationThatCannotBeTimedShowsTheLensAtOnce) {
  start();
  descend();
  h->calls();
  h->backend->failures["schedule_timer 1"] = "no timers";
  ::testing::internal::CaptureStderr();
  deliver(1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvik: cannot animate refinement: no timers\n");
  EXPECT_EQ(h->calls(), (Calls{"cancel_captures", "schedule_timer 1 15000000ns", present}));
  EXPECT_EQ(h->app->mode(), ModeKind::Grid);
}

TEST_F(AppLensTest, AFailedAnimationFrameIsPrintedAndEndsTheMode) {
  start();
  descend();
  deliver(1);
  h->calls();
  h->backend->failures["present"] = "no buffer";
  ::testing::internal::CaptureStderr();
  h->clock.advance(std::chrono::milliseconds(15));
  ASSERT_TRUE(h->fire(TimerKind::LensAnimationFrame));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "tarvik: cannot redraw: no buffer\n");
  EXPECT_EQ(h->calls(), concat({{present}, cancel_calls()}));
}

TEST_F(AppLensTest, FrameIntervalsFollowTheDurationAndTheOutputSize) {
  struct Case {
    std::uint16_t duration_ms;
    std::uint32_t width, height;
    std::string timer;  // empty: no animation
  };
  const Case cases[] = {
      {120, 1920, 1080, "schedule_timer 1 15000000ns"},
      {120, 3840, 2160, "schedule_timer 1 20000000ns"},
      {120, 5120, 2880, "schedule_timer 1 30000000ns"},
      {40, 1920, 1080, "schedule_timer 1 8000000ns"},
      {0, 1920, 1080, ""},
  };
  for (const Case& c : cases) {
    Config config;
    config.ui.lens_animation_ms = c.duration_ms;
    start(config, c.width, c.height);
    // Larger outputs have more cells and three-letter labels.
    descend(c.width > 1920 ? "aaa" : "aa");
    h->calls();
    deliver(1);
    const Calls expected = c.timer.empty() ? Calls{"cancel_captures", present}
                                           : Calls{"cancel_captures", c.timer, present};
    EXPECT_EQ(h->calls(), expected) << c.duration_ms << " ms on " << c.width << "x" << c.height;
  }
}

TEST_F(AppLensTest, GoingBackAnimatesBetweenLensesButNotToTheRoot) {
  start();
  descend();
  deliver(1);
  run_animation();
  // A second lens inside the first.
  h->type("aa");
  h->calls();
  h->press("Return");
  EXPECT_EQ(h->calls(), (Calls{"request_capture DP-1 2", "schedule_timer 3 1000000000ns"}));
  deliver(2);
  EXPECT_EQ(run_animation(), 8);
  h->calls();

  h->press("BackSpace");  // back to the first lens: animated from the second lens's place
  EXPECT_EQ(h->calls(), (Calls{"schedule_timer 1 15000000ns", present}));
  EXPECT_EQ(run_animation(), 8);
  h->calls();

  h->press("BackSpace");  // back to the root: no lens, no animation
  EXPECT_EQ(h->calls(), Calls{present});
  EXPECT_FALSE(h->pending(TimerKind::LensAnimationFrame));
}

TEST_F(AppLensTest, WithoutScreenCaptureTheSessionIsUnmagnified) {
  Config config;
  config.grid.refinement_zoom = 4.0;
  auto h = make_harness(config);  // the standard backend offers no capture
  ASSERT_TRUE(h->request(grid()));
  h->type(kCell);
  h->calls();
  h->press("Return");
  EXPECT_EQ(h->calls(), Calls{"present DP-1 1920x1080"});
}

}  // namespace
}  // namespace tarvik::testing
