// WaylandDisplay against the in-process fake compositor: bind versions, start-up failures,
// seat choice and reactions, output reconciliation, overlays and buffers, pointer requests,
// the Wayland source.
#include "wayland/wayland_display.h"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <wayland-client.h>

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "keyboard-shortcuts-inhibit-unstable-v1-client-protocol.h"
#include "wayland/fake_compositor.h"
#include "wayland/layer_shell_protocol.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace tarvik {
namespace {

using ::testing::ElementsAre;
using fake::FakeCompositor;
using fake::FakeOutput;
using fake::FakeSeat;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class RecordingEvents final : public BackendEvents {
 public:
  void on_key(const KeyEvent& event) override { keys.push_back(event); }
  void on_capture(const std::string& output, std::uint64_t serial,
                  std::expected<HeldCapture, std::string> result) override {
    captures.push_back({output, serial, std::move(result)});
  }
  void on_configured_redraw() override { ++redraws; }
  void on_cancel() override {
    ++cancels;
    if (cancel_like_the_controller) cancel_like_the_controller();
  }
  void on_timer(TimerKind, std::uint64_t) override {}
  void on_keyboard_focus(bool focused) override { focus.push_back(focused); }
  void on_inhibitor_inactive() override {}

  struct Capture {
    std::string output;
    std::uint64_t serial;
    std::expected<HeldCapture, std::string> result;
  };
  std::vector<KeyEvent> keys;
  std::vector<bool> focus;
  std::vector<Capture> captures;
  int redraws = 0;
  int cancels = 0;
  // What the controller's cancel does to the backend, run from inside the backend's reaction.
  std::function<void()> cancel_like_the_controller;
};

class RecordingControl final : public CompositorControl {
 public:
  std::expected<std::optional<std::string>, SwayError> focused_output() override {
    return std::nullopt;
  }
  SwayStatus cursor_set(const std::string&, std::int64_t, std::int64_t) override {
    return record("set");
  }
  SwayStatus pointer_to_focused_window(const std::string&) override { return record("focus"); }
  SwayStatus cursor_move(const std::string&, double, double) override { return record("move"); }
  SwayStatus cursor_button(const std::string& seat, PointerButton button, bool release) override {
    return record(fmt::format("button {} {} {}", seat, static_cast<int>(button),
                              release ? "release" : "press"));
  }
  SwayStatus cursor_click(const std::string& seat, PointerButton) override {
    return record("click " + seat);
  }
  SwayStatus cursor_scroll(const std::string&, ScrollDirection, double) override {
    return record("scroll");
  }
  std::vector<std::string>* calls = nullptr;

 private:
  SwayStatus record(std::string call) {
    calls->push_back(std::move(call));
    return {};
  }
};

FakeOutput output(std::string name, std::int32_t x = 0, std::int32_t width = 1920,
                  std::int32_t height = 1080) {
  FakeOutput o;
  o.name = std::move(name);
  o.x = x;
  o.width = width;
  o.height = height;
  o.logical_position = std::pair{x, 0};
  o.logical_size = std::pair{width, height};
  return o;
}

// The last number of a recorded line: the id of the object the request went to.
std::string target_of(const std::string& line) { return line.substr(line.rfind('#')); }

std::size_t digits_at(const std::string& text, std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return end - at;
}

// A recorded line without its object ids: "get_layer_surface zwlr_layer_surface_v1@9 ... #3"
// reads "get_layer_surface zwlr_layer_surface_v1 ...".
std::string without_ids(const std::string& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    if (line[i] == '@' && digits_at(line, i + 1) > 0) {
      i += 1 + digits_at(line, i + 1);
    } else if (line.compare(i, 2, " #") == 0 && digits_at(line, i + 2) > 0) {
      i += 2 + digits_at(line, i + 2);
    } else {
      out += line[i++];
    }
  }
  return out;
}

// A timed request ("name 1234 rest") with its time stamp, the first number, split off.
struct Timed {
  std::string line;  // the time stamp replaced by T
  std::string time;
};
std::optional<Timed> split_time(const std::string& text) {
  const std::size_t space = text.find(' ');
  if (space == std::string::npos) return std::nullopt;
  const std::size_t length = digits_at(text, space + 1);
  const std::size_t after = space + 1 + length;
  if (length == 0 || after >= text.size() || text[after] != ' ') return std::nullopt;
  return Timed{text.substr(0, space + 1) + "T" + text.substr(after), text.substr(space + 1, length)};
}

class WaylandDisplayTest : public ::testing::Test {
 protected:
  // Start-up steps 3 to 18, as run_daemon performs them.
  std::expected<void, DaemonError> start(std::optional<std::string> seat = std::nullopt) {
    compositor.start();
    auto control = std::make_unique<RecordingControl>();
    control->calls = &control_calls;
    auto connected = WaylandDisplay::connect(seat, std::move(control));
    if (!connected) return std::unexpected(connected.error());
    display = std::move(*connected);
    display->set_events(&events);
    if (auto pools = display->create_pools(); !pools) return pools;
    loop = std::move(*EventLoop::create());
    display->start_tracking(*loop);
    for (int i = 0; i < 2; ++i) {
      if (auto r = display->dispatch_roundtrip(); !r) return r;
    }
    if (auto r = display->choose_seat(); !r) return r;
    if (auto r = display->reconcile_outputs(); !r) return std::unexpected(r.error());
    display->create_virtual_pointer();
    display->create_overlays();
    return display->dispatch_roundtrip();
  }

  // Two roundtrips: the first delivers the compositor's events, the second makes sure the
  // requests their handlers queued have been recorded.
  void sync() {
    ASSERT_TRUE(display->dispatch_roundtrip());
    ASSERT_TRUE(display->dispatch_roundtrip());
  }

  void standard(const std::vector<std::string>& except = {}) {
    compositor.add_standard_globals(except);
    seat = compositor.add_seat(FakeSeat{"seat0", 3});
    primary = compositor.add_output(output("DP-1"));
  }

  // Destroyed in reverse: the display (and its connection) before the loop and the server.
  FakeCompositor compositor;
  std::unique_ptr<EventLoop> loop;
  RecordingEvents events;
  std::vector<std::string> control_calls;
  std::unique_ptr<WaylandDisplay> display;
  FakeCompositor::GlobalId seat = 0;
  FakeCompositor::GlobalId primary = 0;
};

TEST_F(WaylandDisplayTest, BindsEachGlobalAtTheVersionOfTheTables) {
  compositor.add_global(&wl_compositor_interface, 5);
  compositor.add_global(&wl_shm_interface, 1);
  compositor.add_global(&zwlr_layer_shell_v1_interface, 4);
  compositor.add_global(&zxdg_output_manager_v1_interface, 3);
  compositor.add_global(&zwp_keyboard_shortcuts_inhibit_manager_v1_interface, 1);
  compositor.add_global(&zwlr_virtual_pointer_manager_v1_interface, 2);
  compositor.add_global(&zwlr_screencopy_manager_v1_interface, 3);
  seat = compositor.add_seat(FakeSeat{std::nullopt, 3}, 8);
  compositor.add_output(output("DP-1"), 4);
  ASSERT_TRUE(start());
  std::vector<std::string> binds;
  for (const auto& line : compositor.requests_matching("bind ")) {
    binds.push_back(line.substr(0, line.rfind(" #")));
  }
  EXPECT_THAT(binds, ElementsAre("bind wl_compositor 5", "bind zwlr_layer_shell_v1 4",
                                 "bind wl_shm 1",
                                 "bind zwp_keyboard_shortcuts_inhibit_manager_v1 1",
                                 "bind zwlr_virtual_pointer_manager_v1 2",
                                 "bind zwlr_screencopy_manager_v1 3", "bind wl_seat 8",
                                 "bind zxdg_output_manager_v1 3", "bind wl_output 4"));
  EXPECT_TRUE(display->shortcut_inhibition_available());
  EXPECT_TRUE(display->virtual_pointer_available());
  EXPECT_TRUE(display->screen_capture_available());
  EXPECT_EQ(display->seat_name(), "seat0") << "an unnamed seat is the default seat";
}

class MissingGlobalTest : public WaylandDisplayTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(MissingGlobalTest, FailsWithTheRegistryText) {
  standard({GetParam()});
  auto started = start();
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error().message(),
            "required Wayland global is unavailable: the requested global was not found in the "
            "registry");
}

INSTANTIATE_TEST_SUITE_P(Required, MissingGlobalTest,
                         ::testing::Values("wl_compositor", "zwlr_layer_shell_v1", "wl_shm"));

TEST_F(WaylandDisplayTest, OptionalGlobalsBelowTheirVersionAreAbsent) {
  standard({"zwlr_virtual_pointer_manager_v1", "zwlr_screencopy_manager_v1"});
  compositor.add_global(&zwlr_virtual_pointer_manager_v1_interface, 1);
  compositor.add_global(&zwlr_screencopy_manager_v1_interface, 2);
  ASSERT_TRUE(start());
  EXPECT_FALSE(display->virtual_pointer_available());
  EXPECT_FALSE(display->screen_capture_available());
  EXPECT_TRUE(compositor.requests_matching("bind zwlr_virtual_pointer").empty());
  EXPECT_EQ(display->request_capture("DP-1", 1).error(), "screen capture is unavailable");
  // Pointer output falls back to the compositor's cursor commands, with the seat name.
  ASSERT_TRUE(display->click(PointerButton::Left));
  EXPECT_THAT(control_calls, ElementsAre("click seat0"));
}

TEST_F(WaylandDisplayTest, ChoosesTheFirstKeyboardSeatWithTheRequestedName) {
  compositor.add_standard_globals();
  compositor.add_seat(FakeSeat{"seat1", 1});  // pointer only
  compositor.add_seat(FakeSeat{"seat0", 3});
  compositor.add_seat(FakeSeat{"seat1", 3});
  compositor.add_output(output("DP-1"));
  ASSERT_TRUE(start("seat1"));
  auto seat_binds = compositor.requests_matching("bind wl_seat");
  auto keyboards = compositor.requests_matching("wl_seat.get_keyboard");
  ASSERT_EQ(seat_binds.size(), 3u);
  ASSERT_EQ(keyboards.size(), 1u);
  EXPECT_EQ(target_of(keyboards[0]), target_of(seat_binds[2]));
  // The virtual pointer goes to the chosen seat too.
  auto pointer = compositor.requests_matching("zwlr_virtual_pointer_manager_v1.create_virtual");
  ASSERT_EQ(pointer.size(), 1u);
  EXPECT_THAT(pointer[0], HasSubstr("wl_seat@" + target_of(seat_binds[2]).substr(1)));
}

TEST_F(WaylandDisplayTest, RefusesWhenNoSeatQualifies) {
  struct Case {
    std::optional<std::string> requested;
    FakeSeat seat;
  };
  const std::vector<Case> cases = {
      {std::string("seat1"), FakeSeat{"seat0", 3}},  // name differs
      {std::string("Seat0"), FakeSeat{"seat0", 3}},  // compared exactly
      {std::nullopt, FakeSeat{"seat0", 1}},          // no keyboard
  };
  for (const Case& c : cases) {
    FakeCompositor server;
    server.add_standard_globals();
    server.add_seat(c.seat);
    server.add_output(output("DP-1"));
    server.start();
    auto connected = WaylandDisplay::connect(c.requested, std::make_unique<RecordingControl>());
    ASSERT_TRUE(connected);
    ASSERT_TRUE((*connected)->create_pools());
    auto own_loop = std::move(*EventLoop::create());
    (*connected)->start_tracking(*own_loop);
    ASSERT_TRUE((*connected)->dispatch_roundtrip());
    ASSERT_TRUE((*connected)->dispatch_roundtrip());
    auto chosen = (*connected)->choose_seat();
    ASSERT_FALSE(chosen);
    EXPECT_EQ(chosen.error().message(),
              "no keyboard-capable Wayland seat matched the requested seat");
    connected->reset();
  }
}

TEST_F(WaylandDisplayTest, FailsWhenNoOutputIsUsable) {
  compositor.add_standard_globals({"zxdg_output_manager_v1"});
  compositor.add_seat(FakeSeat{"seat0", 3});
  FakeOutput unnamed = output("x");
  unnamed.name.reset();
  compositor.add_output(unnamed, 3);
  auto started = start();
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error().message(),
            "required Wayland global is unavailable: no Wayland output supplied usable geometry");
}

TEST_F(WaylandDisplayTest, WithoutXdgOutputTheModeAndScaleGiveTheLogicalSize) {
  compositor.add_standard_globals({"zxdg_output_manager_v1"});
  compositor.add_seat(FakeSeat{"seat0", 3});
  FakeOutput scaled = output("DP-2", 0, 2560, 1440);
  scaled.x = 300;
  scaled.scale = 2;
  compositor.add_output(scaled);
  ASSERT_TRUE(start());
  EXPECT_THAT(display->outputs(), ElementsAre(OutputRecord{"DP-2", 300, 0, 1280, 720}));
  EXPECT_THAT(compositor.requests_matching("zwlr_layer_surface_v1.set_size"),
              ElementsAre(StartsWith("zwlr_layer_surface_v1.set_size 1280 720")));
  ASSERT_TRUE(display->present("DP-2", {}, 1280, 720));
  sync();
  EXPECT_THAT(compositor.requests_matching("wl_shm_pool.create_buffer"),
              ElementsAre(HasSubstr(" 0 1280 720 5120 0 ")));
}

TEST_F(WaylandDisplayTest, CreatesOneClickThroughOverlayPerOutputInListOrder) {
  compositor.add_standard_globals();
  compositor.add_seat(FakeSeat{"seat0", 3});
  compositor.add_output(output("DP-2", 1920, 1280, 1024));
  compositor.add_output(output("DP-1", 0));
  ASSERT_TRUE(start());
  ASSERT_EQ(display->overlays().size(), 2u);
  EXPECT_EQ(display->overlays()[0].name, "DP-1");
  EXPECT_EQ(display->overlays()[1].name, "DP-2");
  EXPECT_TRUE(display->overlays()[0].configured);

  auto all = compositor.requests();
  auto first = std::find_if(all.begin(), all.end(), [](const std::string& line) {
    return line.starts_with("zwlr_layer_shell_v1.get_layer_surface");
  });
  ASSERT_NE(first, all.end());
  std::vector<std::string> sequence;
  for (auto it = first; it != all.end() && sequence.size() < 9; ++it) {
    sequence.push_back(without_ids(*it));
  }
  EXPECT_THAT(sequence,
              ElementsAre("zwlr_layer_shell_v1.get_layer_surface zwlr_layer_surface_v1 "
                          "wl_surface wl_output 3 tarvik",
                          "zwlr_layer_surface_v1.set_anchor 15",
                          "zwlr_layer_surface_v1.set_exclusive_zone -1",
                          "zwlr_layer_surface_v1.set_keyboard_interactivity 0",
                          "zwlr_layer_surface_v1.set_size 1920 1080",
                          "wl_compositor.create_region wl_region",
                          "wl_surface.set_input_region wl_region", "wl_region.destroy",
                          "wl_surface.commit"));
}

TEST_F(WaylandDisplayTest, PresentingNeedsAConfiguredOverlay) {
  standard();
  compositor.set_configure_layer_surfaces(false);
  ASSERT_TRUE(start());
  EXPECT_FALSE(display->overlays()[0].configured);
  EXPECT_EQ(display->present("DP-1", {}, 1920, 1080).error(),
            "overlay for output DP-1 is unavailable");
  EXPECT_EQ(display->present("HDMI-A-1", {}, 10, 10).error(),
            "overlay for output HDMI-A-1 is unavailable");
  EXPECT_EQ(display->capture_keyboard("DP-1", false).error(),
            "overlay for output DP-1 is unavailable");
  EXPECT_EQ(events.redraws, 0);
}

TEST_F(WaylandDisplayTest, NeverOverwritesABufferTheCompositorStillHolds) {
  compositor.add_standard_globals();
  compositor.add_seat(FakeSeat{"seat0", 3});
  compositor.add_output(output("DP-1", 0, 4, 2));
  ASSERT_TRUE(start());
  std::vector<std::uint8_t> first(4 * 2 * 4, 0x11);
  std::vector<std::uint8_t> second(4 * 2 * 4, 0x22);
  ASSERT_TRUE(display->present("DP-1", first, 4, 2));
  ASSERT_TRUE(display->present("DP-1", second, 4, 2));
  sync();
  auto created = compositor.requests_matching("wl_shm_pool.create_buffer");
  ASSERT_EQ(created.size(), 2u);
  // "wl_buffer@ID OFFSET ...": the new buffer's id and its offset in the pool.
  auto id = [](const std::string& line) {
    const std::size_t at = line.find("wl_buffer@") + std::string("wl_buffer@").size();
    const std::size_t offset = at + digits_at(line, at) + 1;
    return std::pair{static_cast<std::uint32_t>(std::stoul(line.substr(at))),
                     std::stoul(line.substr(offset))};
  };
  EXPECT_NE(id(created[0]).second, id(created[1]).second) << "same slot twice";
  EXPECT_EQ(compositor.buffer_bytes(id(created[0]).first), first);
  EXPECT_EQ(compositor.buffer_bytes(id(created[1]).first), second);
  EXPECT_EQ(display->present("DP-1", std::vector<std::uint8_t>(3), 4, 2).error(),
            "frame for output DP-1 has 3 bytes; expected 32");

  // Once the compositor releases a buffer, its slot is used again.
  compositor.set_release_buffers(true);
  ASSERT_TRUE(display->present("DP-1", first, 4, 2));  // releases the second buffer
  sync();
  ASSERT_TRUE(display->present("DP-1", second, 4, 2));
  sync();
  created = compositor.requests_matching("wl_shm_pool.create_buffer");
  ASSERT_EQ(created.size(), 4u);
  EXPECT_EQ(id(created[3]).second, id(created[1]).second);
}

// A frame drawn into the target's memory is what the compositor reads; a target given up
// for a newer one of the same output is destroyed, never shown.
TEST_F(WaylandDisplayTest, FrameTargetsAreShownFromTheMemoryDrawnInto) {
  compositor.add_standard_globals();
  compositor.add_seat(FakeSeat{"seat0", 3});
  compositor.add_output(output("DP-1", 0, 4, 2));
  ASSERT_TRUE(start());
  EXPECT_EQ(display->frame_target("HDMI-A-1", 4, 2).error(),
            "overlay for output HDMI-A-1 is unavailable");
  EXPECT_EQ(display->frame_target("DP-1", 0, 2).error(), kBufferTooLarge);
  sync();
  compositor.clear_requests();

  auto abandoned = display->frame_target("DP-1", 4, 2);
  ASSERT_TRUE(abandoned);
  auto target = display->frame_target("DP-1", 4, 2);
  ASSERT_TRUE(target);
  ASSERT_EQ(target->pixels.size(), 32u);
  for (std::size_t i = 0; i < target->pixels.size(); ++i) {
    target->pixels[i] = static_cast<std::uint8_t>(i);
  }
  const std::vector<std::uint8_t> drawn(target->pixels.begin(), target->pixels.end());
  ASSERT_TRUE(display->present_frame(std::move(*target)));
  EXPECT_EQ(display->present_frame(std::move(*abandoned)).error(),
            "overlay for output DP-1 is unavailable")
      << "only the latest target of an output can be shown";
  sync();
  auto created = compositor.requests_matching("wl_shm_pool.create_buffer");
  ASSERT_EQ(created.size(), 2u);
  const auto buffer_id = [](const std::string& line) {
    const std::size_t at = line.find("wl_buffer@");
    return static_cast<std::uint32_t>(std::stoul(line.substr(at + 10)));
  };
  EXPECT_EQ(compositor.buffer_bytes(buffer_id(created[1])), drawn);
  EXPECT_THAT(compositor.requests_matching("wl_buffer.destroy"),
              ElementsAre("wl_buffer.destroy #" + std::to_string(buffer_id(created[0]))));
  EXPECT_THAT(compositor.requests_matching("wl_surface.attach"),
              ElementsAre(StartsWith("wl_surface.attach wl_buffer@" +
                                     std::to_string(buffer_id(created[1])))));
}

TEST_F(WaylandDisplayTest, ParkingShrinksThePoolsAndLeavesOnePixel) {
  compositor.add_standard_globals();
  compositor.add_seat(FakeSeat{"seat0", 3});
  compositor.add_output(output("DP-1"));
  compositor.add_output(output("DP-2", 1920));
  ASSERT_TRUE(start());
  ASSERT_TRUE(display->capture_keyboard("DP-2", false));
  ASSERT_TRUE(display->present("DP-1", {}, 1920, 1080));
  EXPECT_GE(display->overlay_pool_length(), 1920u * 1080 * 4);
  sync();
  compositor.clear_requests();
  ASSERT_TRUE(display->park_overlays());
  display->release_keyboard();
  sync();
  EXPECT_EQ(display->overlay_pool_length(), 128u);
  EXPECT_EQ(display->capture_pool_length(), 4u);
  EXPECT_EQ(compositor.requests_matching("zwlr_layer_surface_v1.set_size 1 1").size(), 2u);
  EXPECT_EQ(compositor.requests_matching("wl_surface.damage_buffer 0 0 1 1").size(), 2u);
  EXPECT_EQ(compositor.requests_matching("zwlr_layer_surface_v1.set_keyboard_interactivity 0")
                .size(),
            2u);
  EXPECT_EQ(compositor.requests_matching("zwp_keyboard_shortcuts_inhibitor_v1.destroy").size(),
            1u);
  EXPECT_FALSE(display->keyboard_capture_active());
}

TEST_F(WaylandDisplayTest, CapturingTheKeyboardShowsAllOverlaysAndInhibitsShortcuts) {
  compositor.add_standard_globals();
  compositor.add_seat(FakeSeat{"seat0", 3});
  compositor.add_output(output("DP-1"));
  compositor.add_output(output("DP-2", 1920, 1280, 1024));
  ASSERT_TRUE(start());
  sync();  // the acknowledgements of the first configures
  compositor.clear_requests();
  ASSERT_TRUE(display->capture_keyboard("DP-2", false));
  sync();
  std::vector<std::string> lines;
  for (const auto& line : compositor.requests()) {
    if (line.starts_with("zwlr_layer_surface_v1.") || line.starts_with("zwp_keyboard")) {
      lines.push_back(line.substr(0, line.rfind(" #")));
    }
  }
  EXPECT_THAT(lines, ElementsAre("zwlr_layer_surface_v1.set_keyboard_interactivity 0",
                                 "zwlr_layer_surface_v1.set_size 1920 1080",
                                 "zwlr_layer_surface_v1.set_keyboard_interactivity 1",
                                 "zwlr_layer_surface_v1.set_size 1280 1024",
                                 StartsWith("zwp_keyboard_shortcuts_inhibit_manager_v1."
                                            "inhibit_shortcuts")));
  EXPECT_TRUE(display->keyboard_capture_active());
}

TEST_F(WaylandDisplayTest, OnlyRealLayoutChangesRebuildTheOverlays) {
  standard();
  ASSERT_TRUE(start());
  auto layers = [&] {
    return compositor.requests_matching("zwlr_layer_shell_v1.get_layer_surface").size();
  };
  ASSERT_EQ(layers(), 1u);

  FakeOutput refreshed = output("DP-1");
  refreshed.refresh = 144000;
  compositor.update_output(primary, refreshed);
  sync();
  EXPECT_EQ(layers(), 1u);
  EXPECT_EQ(events.cancels, 0);

  compositor.update_output(primary, output("DP-1", 100));
  sync();
  EXPECT_EQ(layers(), 2u);
  EXPECT_EQ(events.cancels, 1);
  EXPECT_THAT(display->outputs(), ElementsAre(OutputRecord{"DP-1", 100, 0, 1920, 1080}));
  EXPECT_EQ(compositor.requests_matching("zwlr_layer_surface_v1.destroy").size(), 1u);
  EXPECT_EQ(compositor.requests_matching("zwlr_virtual_pointer_v1.destroy").size(), 1u);
  EXPECT_EQ(compositor.requests_matching("zwlr_virtual_pointer_manager_v1.create").size(), 2u);

  // The last output going away defers: the old list and overlays stay.
  compositor.remove_global(primary);
  sync();
  EXPECT_EQ(layers(), 2u);
  EXPECT_EQ(events.cancels, 1);
  EXPECT_EQ(display->outputs().size(), 1u);
  EXPECT_EQ(display->overlays().size(), 1u);

  // A new output rebuilds with it alone.
  compositor.add_output(output("HDMI-A-1"));
  sync();
  EXPECT_THAT(display->outputs(), ElementsAre(OutputRecord{"HDMI-A-1", 0, 0, 1920, 1080}));
  EXPECT_EQ(display->overlays().size(), 1u);
  EXPECT_EQ(events.cancels, 2);
}

TEST_F(WaylandDisplayTest, AClosedOverlayRebuildsEverything) {
  standard();
  ASSERT_TRUE(start());
  compositor.close_layer_surfaces();
  sync();
  EXPECT_EQ(events.cancels, 1);
  EXPECT_EQ(compositor.requests_matching("zwlr_layer_shell_v1.get_layer_surface").size(), 2u);
  EXPECT_EQ(display->overlays().size(), 1u);
}

TEST_F(WaylandDisplayTest, FollowsTheKeyboardCapabilityOfTheSeats) {
  standard();
  auto other = compositor.add_seat(FakeSeat{"seat9", 3});
  ASSERT_TRUE(start());
  auto keyboards = [&] { return compositor.requests_matching("wl_seat.get_keyboard").size(); };
  ASSERT_EQ(keyboards(), 1u);

  compositor.set_seat_capabilities(seat, 1);  // keyboard unplugged
  sync();
  EXPECT_EQ(events.cancels, 1);
  EXPECT_TRUE(compositor.requests_matching("wl_keyboard.release").empty())
      << "a lost keyboard is forgotten without a request";
  compositor.set_seat_capabilities(seat, 3);  // and plugged in again
  sync();
  EXPECT_EQ(keyboards(), 2u);

  // Any seat's removal drops the keyboard and ends the mode.
  compositor.remove_global(other);
  sync();
  EXPECT_EQ(events.cancels, 2);
  compositor.set_seat_capabilities(seat, 1);
  compositor.set_seat_capabilities(seat, 3);
  sync();
  EXPECT_EQ(keyboards(), 3u) << "overlays exist and no keyboard is bound: bind again";
}

TEST_F(WaylandDisplayTest, SendsOnePointerSequencePerAction) {
  standard();
  ASSERT_TRUE(start());
  compositor.clear_requests();
  ASSERT_TRUE(display->click(PointerButton::Right));
  ASSERT_TRUE(display->scroll(ScrollDirection::Up, 45));
  ASSERT_TRUE(display->scroll(ScrollDirection::Right, 5));
  ASSERT_TRUE(display->set_button(PointerButton::Middle, false));
  ASSERT_TRUE(display->move_pointer(1.5, -2));
  sync();
  std::vector<std::string> lines;
  std::vector<std::string> times;
  for (const auto& line : compositor.requests_matching("zwlr_virtual_pointer_v1.")) {
    std::string text = line.substr(0, line.rfind(" #"));
    // Replace the time stamp (the first number of a timed request) by T.
    if (auto timed = split_time(text)) {
      times.push_back(timed->time);
      text = timed->line;
    }
    lines.push_back(text);
  }
  EXPECT_THAT(lines, ElementsAre("zwlr_virtual_pointer_v1.button T 273 1",
                                 "zwlr_virtual_pointer_v1.button T 273 0",
                                 "zwlr_virtual_pointer_v1.frame",
                                 "zwlr_virtual_pointer_v1.axis_source 0",
                                 "zwlr_virtual_pointer_v1.axis_discrete T 0 -45.00 -3",
                                 "zwlr_virtual_pointer_v1.frame",
                                 "zwlr_virtual_pointer_v1.axis_source 0",
                                 "zwlr_virtual_pointer_v1.axis_discrete T 1 5.00 1",
                                 "zwlr_virtual_pointer_v1.frame",
                                 "zwlr_virtual_pointer_v1.button T 274 1",
                                 "zwlr_virtual_pointer_v1.frame",
                                 "zwlr_virtual_pointer_v1.motion T 1.50 -2.00",
                                 "zwlr_virtual_pointer_v1.frame"));
  ASSERT_GE(times.size(), 2u);
  EXPECT_EQ(times[0], times[1]) << "one time stamp for the press and the release";
  EXPECT_TRUE(control_calls.empty());
}

// A daemon killed while holding a button leaves it down in the compositor's seat; the next one
// releases every button it could have pressed before doing anything else.
TEST_F(WaylandDisplayTest, ReleasesEveryButtonOnceAtStartUp) {
  for (const bool with_virtual_pointer : {true, false}) {
    SCOPED_TRACE(with_virtual_pointer ? "virtual pointer" : "cursor commands");
    FakeCompositor server;
    server.add_standard_globals(with_virtual_pointer
                                    ? std::vector<std::string>{}
                                    : std::vector<std::string>{"zwlr_virtual_pointer_manager_v1"});
    server.add_seat(FakeSeat{"seat0", 3});
    server.add_output(output("DP-1"));
    server.start();
    // Declared before the display, so it outlives it as the fixture's loop does.
    auto own_loop = std::move(*EventLoop::create());
    std::vector<std::string> calls;
    auto control = std::make_unique<RecordingControl>();
    control->calls = &calls;
    auto connected = WaylandDisplay::connect(std::nullopt, std::move(control));
    ASSERT_TRUE(connected);
    auto& shown = **connected;
    ASSERT_TRUE(shown.create_pools());
    shown.start_tracking(*own_loop);
    ASSERT_TRUE(shown.dispatch_roundtrip());
    ASSERT_TRUE(shown.dispatch_roundtrip());
    ASSERT_TRUE(shown.choose_seat());
    ASSERT_TRUE(shown.reconcile_outputs());
    shown.create_virtual_pointer();
    shown.release_orphaned_buttons();
    ASSERT_TRUE(shown.dispatch_roundtrip());
    std::vector<std::string> lines;
    for (const auto& line : server.requests_matching("zwlr_virtual_pointer_v1.")) {
      const std::string text = line.substr(0, line.rfind(" #"));
      const auto timed = split_time(text);
      lines.push_back(timed ? timed->line : text);
    }
    // Each button once, the way the daemon would have pressed it.
    if (with_virtual_pointer) {
      EXPECT_THAT(lines, ElementsAre("zwlr_virtual_pointer_v1.button T 272 0",
                                     "zwlr_virtual_pointer_v1.button T 274 0",
                                     "zwlr_virtual_pointer_v1.button T 273 0",
                                     "zwlr_virtual_pointer_v1.frame"));
      EXPECT_THAT(calls, ElementsAre());
    } else {
      EXPECT_THAT(lines, ElementsAre());
      EXPECT_THAT(calls, ElementsAre("button seat0 0 release", "button seat0 1 release",
                                     "button seat0 2 release"));
    }
  }
}

TEST_F(WaylandDisplayTest, CaptureNeedsAKnownOutput) {
  standard();
  ASSERT_TRUE(start());
  EXPECT_EQ(display->request_capture("DP-9", 1).error(), "output DP-9 disappeared before capture");
  ASSERT_TRUE(display->request_capture("DP-1", 1));
  sync();
  EXPECT_EQ(compositor.requests_matching("zwlr_screencopy_manager_v1.capture_output").size(),
            1u);
  display->cancel_captures();
  sync();
  EXPECT_EQ(compositor.requests_matching("zwlr_screencopy_frame_v1.destroy").size(), 1u);
}

// Outputs unplugged under a mode. wlroots cannot remove a headless output, so these run here.
class OutputRemovalTest : public WaylandDisplayTest {
 protected:
  void SetUp() override {
    compositor.add_standard_globals();
    seat = compositor.add_seat(FakeSeat{"seat0", 3});
    primary = compositor.add_output(output("DP-1", 0, 4, 2));
    secondary = compositor.add_output(output("DP-2", 4, 4, 2));
    ASSERT_TRUE(start());
    events.cancel_like_the_controller = [this] {
      display->cancel_captures();
      display->release_keyboard();
      ASSERT_TRUE(display->park_overlays());
    };
  }

  std::vector<std::string> overlay_names() const {
    std::vector<std::string> names;
    for (const auto& overlay : display->overlays()) names.push_back(overlay.name);
    return names;
  }

  FakeCompositor::GlobalId secondary = 0;
};

TEST_F(OutputRemovalTest, RemovingAnOutputEndsTheModeAndLeavesTheOthersUsable) {
  ASSERT_TRUE(display->capture_keyboard("DP-2", false));
  ASSERT_TRUE(display->present("DP-2", {}, 4, 2));
  sync();
  compositor.remove_global(secondary);
  sync();
  EXPECT_EQ(events.cancels, 1);
  EXPECT_FALSE(display->keyboard_capture_active());
  EXPECT_THAT(display->outputs(), ElementsAre(OutputRecord{"DP-1", 0, 0, 4, 2}));
  EXPECT_THAT(overlay_names(), ElementsAre("DP-1"));
  // A controller still holding the old output's name gets errors, not a stale surface.
  EXPECT_FALSE(display->present("DP-2", {}, 4, 2));
  EXPECT_EQ(display->request_capture("DP-2", 3).error(), "output DP-2 disappeared before capture");
  // The next mode on the remaining output works.
  ASSERT_TRUE(display->capture_keyboard("DP-1", false));
  EXPECT_TRUE(display->present("DP-1", {}, 4, 2));
  // The removed output's wl_output is given back once nothing refers to it.
  sync();
  EXPECT_EQ(compositor.requests_matching("wl_output.release").size(), 1u);
}

TEST_F(OutputRemovalTest, ACaptureInFlightOnARemovedOutputIsDroppedWithTheMode) {
  ASSERT_TRUE(display->request_capture("DP-2", 9));
  sync();
  compositor.describe_frame({{0, 2, 2, 8}});
  sync();
  ASSERT_TRUE(compositor.frame_copy_requested());
  compositor.remove_global(secondary);
  sync();
  EXPECT_EQ(events.cancels, 1);
  // The frame is destroyed, so an answer the compositor still sends for it reaches nobody.
  EXPECT_EQ(compositor.requests_matching("zwlr_screencopy_frame_v1.destroy").size(), 1u);
  EXPECT_TRUE(events.captures.empty());
  EXPECT_EQ(display->capture_pool_length(), kIdlePoolBytes);
  // A capture of the remaining output still completes.
  ASSERT_TRUE(display->request_capture("DP-1", 10));
  sync();
  compositor.describe_frame({{0, 2, 2, 8}});
  sync();
  compositor.finish_frame({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 0);
  sync();
  ASSERT_EQ(events.captures.size(), 1u);
  EXPECT_EQ(events.captures[0].output, "DP-1");
  EXPECT_EQ(events.captures[0].serial, 10u);
  EXPECT_TRUE(events.captures[0].result);
}

TEST_F(OutputRemovalTest, ACaptureFailingAfterTheLastOutputWentAwayIsReportedOnce) {
  // Both gone: the change is deferred, the mode and its capture stay, and the compositor's
  // failure of the frame is reported with its serial so the controller can end the lens.
  ASSERT_TRUE(display->request_capture("DP-1", 11));
  sync();
  compositor.remove_global(secondary);
  sync();
  ASSERT_EQ(events.cancels, 1);
  ASSERT_TRUE(display->request_capture("DP-1", 12));
  sync();
  compositor.remove_global(primary);
  sync();
  EXPECT_EQ(events.cancels, 1);
  EXPECT_THAT(overlay_names(), ElementsAre("DP-1"));
  compositor.fail_frame();
  sync();
  ASSERT_EQ(events.captures.size(), 1u);
  EXPECT_EQ(events.captures[0].serial, 12u);
  EXPECT_FALSE(events.captures[0].result);
}

TEST_F(OutputRemovalTest, OverlaysClosedWithTheLastOutputWaitForTheNextOne) {
  auto layers = [&] {
    return compositor.requests_matching("zwlr_layer_shell_v1.get_layer_surface").size();
  };
  compositor.remove_global(secondary);
  sync();
  ASSERT_EQ(events.cancels, 1);
  compositor.remove_global(primary);
  sync();
  const std::size_t before = layers();
  // What the compositor does to layer surfaces of an output it destroys. New ones on the dead
  // wl_output would be closed again at once, so none are made.
  compositor.close_layer_surfaces();
  sync();
  EXPECT_EQ(layers(), before);
  EXPECT_EQ(events.cancels, 2);
  ASSERT_EQ(display->overlays().size(), 1u);
  EXPECT_FALSE(display->overlays()[0].configured);
  EXPECT_FALSE(display->present("DP-1", {}, 4, 2));
  // The next output brings overlays back.
  compositor.add_output(output("HDMI-A-1", 0, 4, 2));
  // How many roundtrips the new output's description takes depends on when the compositor
  // thread sends it; a handful is plenty.
  for (int i = 0; i < 5 && layers() != before + 1; ++i) sync();
  EXPECT_EQ(layers(), before + 1);
  EXPECT_THAT(overlay_names(), ElementsAre("HDMI-A-1"));
  EXPECT_TRUE(display->present("HDMI-A-1", {}, 4, 2));
}

// A roundtrip only waits: events it reads stay queued until the Wayland source runs, which
// dispatches them before the loop waits, although the socket has nothing more to read.
TEST_F(WaylandDisplayTest, EventsReadByARoundtripAreDispatchedBeforeTheNextWait) {
  standard();
  ASSERT_TRUE(start());
  ASSERT_TRUE(display->register_source(*loop));
  compositor.set_seat_capabilities(seat, 1);  // the keyboard goes away
  ASSERT_TRUE(display->roundtrip());
  EXPECT_EQ(events.cancels, 0) << "a roundtrip must not run handlers";
  ASSERT_TRUE(loop->dispatch(std::chrono::milliseconds(0)));
  EXPECT_EQ(events.cancels, 1);
}

TEST_F(WaylandDisplayTest, AProtocolErrorEndsTheSourceWithItsReport) {
  standard();
  ASSERT_TRUE(start());
  ASSERT_TRUE(display->register_source(*loop));
  compositor.post_protocol_error("wl_compositor", 3, "broken on purpose");
  ::testing::internal::CaptureStderr();
  auto ran = loop->run();
  std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_FALSE(ran);
  EXPECT_THAT(ran.error().text,
              ::testing::MatchesRegex("Protocol error 3 on object wl_compositor@[0-9]+: "
                                      "broken on purpose"));
  EXPECT_THAT(err, HasSubstr("Protocol error received on display: " + ran.error().text + "\n"));
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

std::string us_keymap() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  std::string result(text);
  free(text);
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return result;
}

constexpr std::uint32_t kKeyA = 30;
constexpr std::uint32_t kKeyShift = 42;

class SeatKeyboardTest : public WaylandDisplayTest {
 protected:
  void SetUp() override {
    standard();
    ASSERT_TRUE(start());
    ASSERT_TRUE(display->register_source(*loop));
    compositor.send_keymap(us_keymap());
    compositor.keyboard_enter_first_surface();
    sync();
  }

  // Runs the event loop for about `duration`.
  void run_for(std::chrono::milliseconds duration) {
    auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
      ASSERT_TRUE(loop->dispatch(std::chrono::milliseconds(5)));
    }
  }
};

TEST_F(SeatKeyboardTest, DeliversPressesAndReleasesOnlyWhileCaptured) {
  compositor.send_key(kKeyA, true);
  compositor.send_key(kKeyA, false);
  sync();
  EXPECT_TRUE(events.keys.empty()) << "no capture, no key events";

  ASSERT_TRUE(display->capture_keyboard("DP-1", false));
  compositor.send_key(kKeyShift, true);
  compositor.send_modifiers(1, 0);  // Shift
  compositor.send_key(kKeyA, true);
  compositor.send_key(kKeyA, false);
  compositor.send_key(kKeyShift, false);
  compositor.send_modifiers(0, 0);
  sync();
  ASSERT_EQ(events.keys.size(), 4u);
  EXPECT_EQ(events.keys[0], (KeyEvent{"Shift_L", kKeyShift, false, false}));
  EXPECT_EQ(events.keys[1], (KeyEvent{"A", kKeyA, false, false})) << "shifted by the xkb state";
  EXPECT_TRUE(events.keys[2].released);
  EXPECT_EQ(events.keys[3], (KeyEvent{"Shift_L", kKeyShift, true, false}));
}

TEST_F(SeatKeyboardTest, RepeatsAHeldKeyAtTheAnnouncedRateUntilReleased) {
  ASSERT_TRUE(display->capture_keyboard("DP-1", false));
  compositor.send_repeat_info(50, 100);  // every 20 ms after 100 ms
  compositor.send_key(kKeyA, true);
  sync();
  run_for(std::chrono::milliseconds(60));
  ASSERT_EQ(events.keys.size(), 1u) << "no repeat before the delay";
  run_for(std::chrono::milliseconds(240));
  compositor.send_key(kKeyA, false);
  sync();
  std::size_t repeats = std::count_if(events.keys.begin(), events.keys.end(),
                                      [](const KeyEvent& e) { return e.repeat; });
  // About (300 - 100) / 20 = 10 repeats; a loaded machine may fire late, never early.
  EXPECT_GE(repeats, 3u);
  EXPECT_LE(repeats, 11u);
  for (const KeyEvent& e : events.keys) {
    if (e.repeat) {
      EXPECT_EQ(e, (KeyEvent{"a", kKeyA, false, true}));
    }
  }
  EXPECT_TRUE(events.keys.back().released);
  std::size_t total = events.keys.size();
  run_for(std::chrono::milliseconds(100));
  EXPECT_EQ(events.keys.size(), total) << "repeats stop with the release";
}

TEST_F(SeatKeyboardTest, ReportsKeyboardFocusBothWays) {
  compositor.keyboard_leave_first_surface();
  compositor.keyboard_enter_first_surface();
  sync();
  EXPECT_THAT(events.focus, ElementsAre(true, false, true));
}

TEST_F(SeatKeyboardTest, RateZeroDisablesRepeat) {
  ASSERT_TRUE(display->capture_keyboard("DP-1", false));
  compositor.send_repeat_info(0, 10);
  compositor.send_key(kKeyA, true);
  sync();
  run_for(std::chrono::milliseconds(80));
  EXPECT_EQ(events.keys.size(), 1u);
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

class CaptureTest : public WaylandDisplayTest {
 protected:
  void SetUp() override {
    compositor.add_standard_globals();
    compositor.add_seat(FakeSeat{"seat0", 3});
    compositor.add_output(output("DP-1", 0, 4, 2));
    ASSERT_TRUE(start());
    ASSERT_TRUE(display->request_capture("DP-1", 7));
    sync();
  }
};

TEST_F(CaptureTest, CopiesIntoTheCapturePoolAndConvertsToRgba) {
  // The overlay was cleared first so the copy shows the desktop.
  auto created = compositor.requests_matching("wl_shm_pool.create_buffer");
  ASSERT_FALSE(created.empty());
  // xrgb8888 first, then argb8888 (with padded rows): the later description wins.
  compositor.describe_frame({{1, 2, 2, 8}, {0, 2, 2, 12}});
  sync();
  ASSERT_TRUE(compositor.frame_copy_requested());
  EXPECT_EQ(compositor.requests_matching("wl_shm_pool.create_buffer").size(), created.size() + 1);
  EXPECT_THAT(compositor.requests_matching("wl_shm_pool.create_buffer").back(),
              HasSubstr(" 2 2 12 0 "));
  // Rows bottom to top (y_invert), blue-green-red-alpha in memory.
  compositor.finish_frame({1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0,  //
                           11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0, 0},
                          1);
  sync();
  ASSERT_EQ(events.captures.size(), 1u);
  const auto& capture = events.captures[0];
  EXPECT_EQ(capture.output, "DP-1");
  EXPECT_EQ(capture.serial, 7u);
  ASSERT_TRUE(capture.result) << capture.result.error();
  EXPECT_EQ(capture.result->width, 2u);
  EXPECT_EQ(capture.result->height, 2u);
  EXPECT_EQ(capture.result->logical_width, 4u);
  EXPECT_EQ(capture.result->logical_height, 2u);
  EXPECT_EQ(capture.result->pixels, (std::vector<std::uint8_t>{13, 12, 11, 14, 17, 16, 15, 18,
                                                               3, 2, 1, 4, 7, 6, 5, 8}));
  EXPECT_EQ(compositor.requests_matching("zwlr_screencopy_frame_v1.destroy").size(), 1u);
}

TEST_F(CaptureTest, FinishesWithNothingWithoutAnAcceptedFormatOrWhenTheCopyFails) {
  compositor.describe_frame({{0x34325241, 2, 2, 8}});  // RA24 only
  sync();
  EXPECT_FALSE(compositor.frame_copy_requested());
  ASSERT_EQ(events.captures.size(), 1u);
  EXPECT_FALSE(events.captures[0].result);

  ASSERT_TRUE(display->request_capture("DP-1", 8));
  sync();
  compositor.describe_frame({{0x34324258, 2, 2, 8}});  // XB24
  sync();
  ASSERT_TRUE(compositor.frame_copy_requested());
  compositor.fail_frame();
  sync();
  ASSERT_EQ(events.captures.size(), 2u);
  EXPECT_EQ(events.captures[1].serial, 8u);
  EXPECT_FALSE(events.captures[1].result);
}

TEST_F(CaptureTest, ACancelledCaptureIsNeverReported) {
  compositor.describe_frame({{0, 2, 2, 8}});
  sync();
  display->cancel_captures();
  sync();
  EXPECT_TRUE(events.captures.empty());
  EXPECT_EQ(compositor.requests_matching("zwlr_screencopy_frame_v1.destroy").size(), 1u);
  // Parking gives the capture pool's memory back.
  ASSERT_TRUE(display->park_overlays());
  EXPECT_EQ(display->capture_pool_length(), 4u);
}

}  // namespace
}  // namespace tarvik
