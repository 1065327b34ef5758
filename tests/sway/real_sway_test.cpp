// The client against a real headless Sway: the replies Sway really sends decode, the command
// texts are ones Sway accepts, and they move, click and scroll a real window's pointer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sway/cursor_commands.h"
#include "sway/headless_sway_support.h"
#include "sway/sway_client.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::HeadlessSway;
using testing::LineProcess;
using testing::VirtualPointer;

constexpr auto event_timeout = 10s;

class RealSway : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::sway_installed()) GTEST_SKIP() << "sway is not installed";
    std::string error;
    sway_ = HeadlessSway::start(&error);
    ASSERT_NE(sway_, nullptr) << error;
    client_ = std::make_unique<SwayClient>(sway_->swaysock());
  }

  // Gives the seat a pointer and opens the fullscreen probe window, which takes the focus.
  void open_probe_window() {
    std::string error;
    pointer_ = VirtualPointer::create(sway_->wayland_socket_path(), &error);
    ASSERT_NE(pointer_, nullptr) << error;
    probe_ = LineProcess::spawn(TARVIK_E2E_PROBE,
                                {"WAYLAND_DISPLAY=" + sway_->wayland_display(),
                                 "XDG_RUNTIME_DIR=" + sway_->runtime_dir()},
                                &error);
    ASSERT_NE(probe_, nullptr) << error;
    ASSERT_TRUE(probe_->wait_for([](const std::string& l) { return l.rfind("ready ", 0) == 0; },
                                 event_timeout))
        << "the probe window never became ready";
  }

  // Waits for the probe to report the pointer at surface position (x, y).
  ::testing::AssertionResult pointer_reaches(const std::string& x, const std::string& y,
                                             std::size_t start) {
    const std::string enter = "pointer enter " + x + " " + y;
    const std::string motion = "pointer motion " + x + " " + y;
    auto line = probe_->wait_for(
        [&](const std::string& l) { return l == enter || l == motion; }, event_timeout, start);
    if (line) return ::testing::AssertionSuccess();
    std::string seen;
    for (std::size_t i = start; i < probe_->lines().size(); ++i) seen += probe_->lines()[i] + "\n";
    return ::testing::AssertionFailure() << "pointer never reported at " << x << " " << y
                                         << "; probe said:\n"
                                         << seen;
  }

  std::unique_ptr<HeadlessSway> sway_;
  std::unique_ptr<SwayClient> client_;
  std::unique_ptr<VirtualPointer> pointer_;
  std::unique_ptr<LineProcess> probe_;
};

TEST_F(RealSway, FreshSessionHasItsOutputFocusedAndNoWindow) {
  auto output = client_->focused_output();
  ASSERT_TRUE(output.has_value()) << output.error().message();
  EXPECT_EQ(*output, std::optional<std::string>("HEADLESS-1"));

  auto empty = client_->pointer_to_focused_window("seat0");
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error().message(), "Sway reported no usable focused window for seat seat0");

  auto warp = client_->cursor_set("seat0", 100, 200);
  EXPECT_TRUE(warp.has_value()) << warp.error().message();
}

TEST_F(RealSway, BringsThePointerOntoTheFocusedWindow) {
  ASSERT_NO_FATAL_FAILURE(open_probe_window());

  std::size_t mark = probe_->mark();
  auto warp = client_->cursor_set("seat0", 10, 20);
  ASSERT_TRUE(warp.has_value()) << warp.error().message();
  EXPECT_TRUE(pointer_reaches("10.00", "20.00", mark));

  // The probe fills the 1280 x 720 output, so its centre is the output's.
  mark = probe_->mark();
  auto centre = client_->pointer_to_focused_window("seat0");
  ASSERT_TRUE(centre.has_value()) << centre.error().message();
  EXPECT_TRUE(pointer_reaches("640.00", "360.00", mark));
}

TEST_F(RealSway, CursorCommandsReachTheWindow) {
  ASSERT_NO_FATAL_FAILURE(open_probe_window());
  std::size_t mark = probe_->mark();
  ASSERT_TRUE(client_->cursor_set("seat0", 300, 300).has_value());
  ASSERT_TRUE(pointer_reaches("300.00", "300.00", mark));

  // Sway reads the amounts of "cursor move" as integers (1.000 moves by 1, -0.500 by 0), so
  // whole amounts are what can be seen arriving; the fraction is still sent as written.
  mark = probe_->mark();
  auto move = client_->cursor_move("seat0", 2.0, -3.0);
  ASSERT_TRUE(move.has_value()) << move.error().message();
  EXPECT_TRUE(pointer_reaches("302.00", "297.00", mark));

  struct ButtonCase {
    PointerButton button;
    const char* code;  // the evdev code the window sees
  };
  for (const ButtonCase& c : {ButtonCase{PointerButton::Left, "272"},
                              ButtonCase{PointerButton::Right, "273"},
                              ButtonCase{PointerButton::Middle, "274"}}) {
    SCOPED_TRACE(c.code);
    const std::string pressed = std::string("pointer button ") + c.code + " pressed";
    const std::string released = std::string("pointer button ") + c.code + " released";
    mark = probe_->mark();
    auto click = client_->cursor_click("seat0", c.button);
    ASSERT_TRUE(click.has_value()) << click.error().message();
    auto press_line = probe_->wait_for([&](const std::string& l) { return l == pressed; },
                                       event_timeout, mark);
    ASSERT_TRUE(press_line.has_value());
    EXPECT_TRUE(probe_->wait_for([&](const std::string& l) { return l == released; },
                                 event_timeout, mark));

    mark = probe_->mark();
    ASSERT_TRUE(client_->cursor_button("seat0", c.button, false).has_value());
    EXPECT_TRUE(probe_->wait_for([&](const std::string& l) { return l == pressed; },
                                 event_timeout, mark));
    ASSERT_TRUE(client_->cursor_button("seat0", c.button, true).has_value());
    EXPECT_TRUE(probe_->wait_for([&](const std::string& l) { return l == released; },
                                 event_timeout, mark));
  }

  // A step of 30 downwards is two wheel clicks; a warp afterwards marks the end of them.
  mark = probe_->mark();
  ASSERT_TRUE(client_->cursor_scroll("seat0", ScrollDirection::Down, 30).has_value());
  ASSERT_TRUE(client_->cursor_set("seat0", 500, 400).has_value());
  ASSERT_TRUE(pointer_reaches("500.00", "400.00", mark));
  const auto& lines = probe_->lines();
  const auto vertical_down = std::count_if(lines.begin() + static_cast<std::ptrdiff_t>(mark),
                                           lines.end(), [](const std::string& l) {
                                             return l.rfind("pointer axis 0 ", 0) == 0 &&
                                                    l.find('-') == std::string::npos;
                                           });
  EXPECT_EQ(vertical_down, 2);
}

TEST_F(RealSway, RefusedCommandCarriesSwaysMessage) {
  auto status = client_->run_command("seat seat0 cursor press button99");
  ASSERT_FALSE(status.has_value());
  EXPECT_EQ(status.error().kind, SwayError::Kind::Command);
  EXPECT_THAT(status.error().message(), ::testing::StartsWith("Sway rejected cursor command: "));
  EXPECT_GT(status.error().message().size(), std::string("Sway rejected cursor command: ").size());
}

// Half-pixel steps through the carry: Sway drops the fraction of each command, the carry puts
// it back into the next, so six steps of (0.5, -0.5) arrive as three whole pixels each way.
TEST_F(RealSway, CarriedFractionsOfCursorMovesAddUp) {
  ASSERT_NO_FATAL_FAILURE(open_probe_window());
  std::size_t mark = probe_->mark();
  ASSERT_TRUE(client_->cursor_set("seat0", 200, 200).has_value());
  ASSERT_TRUE(pointer_reaches("200.00", "200.00", mark));

  CursorMoveCarry carry;
  mark = probe_->mark();
  for (int i = 0; i < 6; ++i) {
    const auto amounts = carry.amounts(0.5, -0.5);
    auto moved = client_->cursor_move("seat0", amounts.dx, amounts.dy);
    ASSERT_TRUE(moved.has_value()) << moved.error().message();
    carry.sent(amounts);
  }
  EXPECT_TRUE(pointer_reaches("203.00", "197.00", mark));
}

}  // namespace
}  // namespace tarvik
