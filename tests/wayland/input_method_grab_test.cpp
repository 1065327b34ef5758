// The input-method grab against a compositor inside the test program: set-up failures with
// their texts and nothing left behind, keys and repeats delivered through the event loop,
// failures delivered as a lost capture, the input-generation gate, teardown from inside a
// delivery, and the order of the teardown requests.
#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "input_method/input_method_grab.h"
#include "input_method_server_support.h"
#include "input_method_support.h"
#include "logging/logging.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::InputMethodCompositor;

constexpr std::uint32_t kPressed = 1;
constexpr std::uint32_t kReleased = 0;
constexpr std::uint64_t kGeneration = 5;

struct Recorder {
  std::uint64_t generation = kGeneration;
  std::vector<KeyEvent> keys;
  std::vector<std::string> lost;
  std::function<void()> after_key;
  std::function<void()> after_lost;

  GrabSink sink() {
    return GrabSink{
        .input_generation = [this] { return generation; },
        .key =
            [this](const KeyEvent& event) {
              keys.push_back(event);
              if (after_key) after_key();
            },
        .lost =
            [this](const std::string& text) {
              lost.push_back(text);
              if (after_lost) after_lost();
            },
    };
  }
};

// A test name from a case's description.
template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  std::string name;
  for (const char* p = info.param.what; *p; ++p) {
    name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  }
  return name;
}

class GrabTest : public ::testing::Test {
 protected:
  void serve(InputMethodCompositor::Options options = {}) {
    server = std::make_unique<InputMethodCompositor>(std::move(options));
  }

  std::expected<std::unique_ptr<InputMethodGrab>, std::string> start(
      const std::string& seat = "seat0") {
    return InputMethodGrab::start(*loop, seat, kGeneration, recorder.sink());
  }

  // A running grab that the compositor holds, with the US keymap delivered.
  void start_with_keymap() {
    serve();
    auto started = start();
    ASSERT_TRUE(started.has_value()) << started.error();
    grab = std::move(*started);
    ASSERT_TRUE(server->wait_for_request("grab_keyboard"));
    const std::string keymap = testing::us_keymap_text() + '\0';
    server->send_keymap(1, keymap, static_cast<std::uint32_t>(keymap.size()));
  }

  // Dispatches the loop until `done` holds (false after a few seconds).
  bool pump_until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (!loop->dispatch(20ms)) return false;
    }
    return true;
  }

  void pump_for(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) ASSERT_TRUE(loop->dispatch(10ms));
  }

  std::size_t count_repeats() const {
    return static_cast<std::size_t>(std::count_if(recorder.keys.begin(), recorder.keys.end(),
                                                  [](const KeyEvent& k) { return k.repeat; }));
  }

  // Destroyed in reverse: the grab first, then the loop it is registered in, then the server
  // that answers its teardown roundtrip.
  std::unique_ptr<InputMethodCompositor> server;
  std::unique_ptr<EventLoop> loop = std::move(*EventLoop::create());
  Recorder recorder;
  std::unique_ptr<InputMethodGrab> grab;
};

// ----- Set-up ------------------------------------------------------------------------------

struct SetupCase {
  const char* what;
  InputMethodCompositor::Options options;
  std::string seat;
  std::string expected;
  std::vector<std::string> requests;
};

void PrintTo(const SetupCase& c, std::ostream* os) { *os << c.what; }

class GrabSetupFailure : public GrabTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(GrabSetupFailure, ReturnsItsTextAndLeavesNothingBehind) {
  const SetupCase& c = GetParam();
  serve(c.options);
  auto started = start(c.seat);
  ASSERT_FALSE(started.has_value()) << c.what;
  EXPECT_EQ(started.error(), c.expected) << c.what;
  EXPECT_EQ(loop->source_count(), 0u) << c.what;
  EXPECT_EQ(loop->pending_timer_count(), 0u) << c.what;
  EXPECT_EQ(server->requests(), c.requests) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, GrabSetupFailure,
    ::testing::Values(
        SetupCase{"no input-method manager",
                  {.seats = {{"seat0", true}}, .input_method_manager = false},
                  "seat0",
                  kGrabManagerMissing,
                  {}},
        SetupCase{"an unnamed seat is not seat0",
                  {.seats = {{std::nullopt, true}}},
                  "seat0",
                  std::string(kGrabNoSeatPrefix) + "seat0",
                  {"manager.destroy"}},
        SetupCase{"the named seat has no keyboard",
                  {.seats = {{"seat0", false}}},
                  "seat0",
                  std::string(kGrabNoSeatPrefix) + "seat0",
                  {"manager.destroy"}},
        SetupCase{"only another seat",
                  {.seats = {{"seat0", true}}},
                  "seat1",
                  std::string(kGrabNoSeatPrefix) + "seat1",
                  {"manager.destroy"}},
        SetupCase{"another input method owns the seat",
                  {.seats = {{"seat0", true}}, .seat_taken = true},
                  "seat0",
                  kGrabUnavailable,
                  {"get_input_method", "input_method.destroy", "manager.destroy"}}),
    case_name<SetupCase>);

TEST_F(GrabTest, WithoutCompositorTheConnectionErrorIsTheText) {
  serve();
  ::setenv("WAYLAND_DISPLAY", "tarvik-no-such-display", 1);
  auto started = start();
  ASSERT_FALSE(started.has_value());
  EXPECT_EQ(started.error(), "Could not find wayland compositor");
  EXPECT_EQ(loop->source_count(), 0u);
}

TEST_F(GrabTest, TeardownReleasesThenDestroysAndWaitsForTheCompositor) {
  serve();
  auto started = start();
  ASSERT_TRUE(started.has_value()) << started.error();
  EXPECT_EQ(loop->source_count(), 1u);
  started->reset();
  // The teardown's roundtrip has returned, so the compositor has seen everything already.
  EXPECT_THAT(server->requests(), ElementsAre("get_input_method", "grab_keyboard", "grab.release",
                                              "input_method.destroy", "manager.destroy"));
  EXPECT_EQ(loop->source_count(), 0u);
}

// ----- Keys --------------------------------------------------------------------------------

TEST_F(GrabTest, KeysArriveInOrderNamedUnderTheModifiers) {
  start_with_keymap();
  const std::uint32_t shift = testing::modifier_mask(testing::state_with_us_keymap(), "Shift");
  server->send_modifiers(shift, 0, 0, 0);
  server->send_key(KEY_A, kPressed);
  server->send_key(KEY_A, kReleased);
  server->send_modifiers(0, 0, 0, 0);
  server->send_key(KEY_B, kPressed);
  ASSERT_TRUE(pump_until([&] { return recorder.keys.size() >= 3; }));
  EXPECT_THAT(recorder.keys, ElementsAre(KeyEvent{"A", KEY_A, false, false},
                                         KeyEvent{"A", KEY_A, true, false},
                                         KeyEvent{"b", KEY_B, false, false}));
  EXPECT_TRUE(recorder.lost.empty());
}

TEST_F(GrabTest, HeldKeyRepeatsFromTheGrabsOwnTimerUntilReleased) {
  start_with_keymap();
  server->send_repeat_info(100, 30);
  server->send_key(KEY_A, kPressed);
  ASSERT_TRUE(pump_until([&] { return count_repeats() >= 3; }));
  for (std::size_t i = 1; i < recorder.keys.size(); ++i) {
    EXPECT_EQ(recorder.keys[i], (KeyEvent{"a", KEY_A, false, true}));
  }

  server->send_key(KEY_A, kReleased);
  ASSERT_TRUE(pump_until([&] { return recorder.keys.back().released; }));
  const std::size_t repeats = count_repeats();
  pump_for(100ms);
  EXPECT_EQ(count_repeats(), repeats);
  EXPECT_EQ(loop->pending_timer_count(), 0u);
}

TEST_F(GrabTest, RateZeroArmsNoTimer) {
  start_with_keymap();
  server->send_repeat_info(0, 10);
  server->send_key(KEY_A, kPressed);
  ASSERT_TRUE(pump_until([&] { return !recorder.keys.empty(); }));
  pump_for(60ms);
  EXPECT_EQ(count_repeats(), 0u);
  EXPECT_EQ(loop->pending_timer_count(), 0u);
}

TEST_F(GrabTest, ItemsOfAnOlderInputGenerationAreDropped) {
  start_with_keymap();
  recorder.generation = kGeneration + 1;
  server->send_key(KEY_A, kPressed);
  server->send_keymap(1, testing::us_keymap_text(), 100);  // a failure, dropped as well
  pump_for(100ms);
  EXPECT_TRUE(recorder.keys.empty());
  EXPECT_TRUE(recorder.lost.empty());
}

TEST_F(GrabTest, EndingTheGrabFromItsOwnDeliveryStopsTheRest) {
  start_with_keymap();
  recorder.after_key = [&] { grab.reset(); };
  server->send_key(KEY_A, kPressed);
  server->send_key(KEY_B, kPressed);
  ASSERT_TRUE(pump_until([&] { return !grab; }));
  pump_for(50ms);
  EXPECT_THAT(recorder.keys, ElementsAre(KeyEvent{"a", KEY_A, false, false}));
  // The press of a had armed the repeat; the teardown took it out of the loop with the source.
  EXPECT_EQ(loop->source_count(), 0u);
  EXPECT_EQ(loop->pending_timer_count(), 0u);
  const auto requests = server->requests();
  EXPECT_THAT(std::vector(requests.end() - 3, requests.end()),
              ElementsAre("grab.release", "input_method.destroy", "manager.destroy"));
}

// ----- Lost capture ------------------------------------------------------------------------

struct LossCase {
  const char* what;
  std::function<void(InputMethodCompositor&)> cause;
  std::string expected;
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.what; }

class GrabLoss : public GrabTest, public ::testing::WithParamInterface<LossCase> {};

TEST_P(GrabLoss, IsDeliveredOnceAndTheOwnerEndsTheGrab) {
  const LossCase& c = GetParam();
  serve({.seats = {{"seat0", true}, {"seat1", true}}});
  auto started = start();
  ASSERT_TRUE(started.has_value()) << started.error();
  grab = std::move(*started);
  ASSERT_TRUE(server->wait_for_request("grab_keyboard"));
  recorder.after_lost = [&] { grab.reset(); };

  c.cause(*server);
  ASSERT_TRUE(pump_until([&] { return !recorder.lost.empty(); })) << c.what;
  pump_for(50ms);
  EXPECT_THAT(recorder.lost, ElementsAre(c.expected)) << c.what;
  EXPECT_EQ(grab, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, GrabLoss,
    ::testing::Values(
        LossCase{"keymap without a zero byte",
                 [](InputMethodCompositor& s) {
                   const std::string text = testing::us_keymap_text();
                   s.send_keymap(1, text, static_cast<std::uint32_t>(text.size()));
                 },
                 kGrabKeymapUnterminated},
        LossCase{"keymap of another format",
                 [](InputMethodCompositor& s) { s.send_keymap(0, std::string(1, '\0'), 1); },
                 kGrabKeymapFormat},
        LossCase{"keymap longer than its file",
                 [](InputMethodCompositor& s) { s.send_keymap(1, std::string(10, '\0'), 20); },
                 kGrabKeymapEarlyEnd},
        LossCase{"key before any keymap",
                 [](InputMethodCompositor& s) { s.send_key(KEY_A, kPressed); },
                 kGrabKeyWithoutKeymap},
        LossCase{"the chosen seat loses its keyboard",
                 [](InputMethodCompositor& s) { s.set_keyboard(0, false); },
                 kGrabSeatLostKeyboard},
        LossCase{"the input method becomes unavailable",
                 [](InputMethodCompositor& s) { s.send_unavailable(); }, kGrabUnavailable},
        LossCase{"the first of two failures wins",
                 [](InputMethodCompositor& s) {
                   s.send_key(KEY_A, kPressed);
                   s.send_unavailable();
                 },
                 kGrabKeyWithoutKeymap}),
    case_name<LossCase>);

TEST_F(GrabTest, AnotherSeatLosingItsKeyboardIsNoLoss) {
  serve({.seats = {{"seat0", true}, {"seat1", true}}});
  auto started = start();
  ASSERT_TRUE(started.has_value()) << started.error();
  grab = std::move(*started);
  ASSERT_TRUE(server->wait_for_request("grab_keyboard"));
  server->set_keyboard(1, false);
  pump_for(100ms);
  EXPECT_TRUE(recorder.lost.empty());
}

TEST_F(GrabTest, ABrokenConnectionIsALossNotALoopFailure) {
  start_with_keymap();
  server->disconnect_clients();
  // Every dispatch must succeed: pump_until stops at a failing one.
  ASSERT_TRUE(pump_until([&] { return !recorder.lost.empty(); }));
  EXPECT_FALSE(recorder.lost[0].empty());
  // The grab left the loop before reporting, although its owner has not ended it yet.
  EXPECT_EQ(loop->source_count(), 0u);
}

TEST_F(GrabTest, LossIsLoggedAtErrorLevel) {
  // The only test in this program that installs the process's logger.
  char path[] = "/tmp/tarvik-im-log.XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(init_logging(LogLevel::Error, fd).has_value());
  start_with_keymap();
  server->send_keymap(1, testing::us_keymap_text(), 100);
  ASSERT_TRUE(pump_until([&] { return !recorder.lost.empty(); }));

  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  ::unlink(path);
  EXPECT_THAT(text.str(), HasSubstr(R"("level":"ERR","target":"tarvik::input_method",)"
                                    R"("message":"keyboard capture lost: input-method keymap is )"
                                    R"(not a terminated XKB string"})"));
}

}  // namespace
}  // namespace tarvik
