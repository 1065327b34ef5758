#include "ipc/socket_path.h"

#include <gtest/gtest.h>

#include "ipc_support.h"

namespace tarvik {
namespace {

TEST(SocketPath, FileNameFollowsDisplayNameAndSanitisedDisplay) {
  struct Case {
    std::string runtime_dir;
    std::optional<std::string> display;
    std::string display_name;
    std::string path;
  };
  const std::vector<Case> cases = {
      {"/run/user/1000", "wayland-1", "tarvik", "/run/user/1000/tarvik-wayland-1.sock"},
      {"/run/user/1000/", "wayland-1", "tarvik", "/run/user/1000/tarvik-wayland-1.sock"},
      {"", "wayland-1", "tarvik", "tarvik-wayland-1.sock"},
      {"/r", std::nullopt, "tarvik", "/r/tarvik-wayland-0.sock"},
      {"/r", "", "tarvik", "/r/tarvik-.sock"},
      {"/r", "wayland-1.5", "tarvik", "/r/tarvik-wayland-1_5.sock"},
      {"/r", "/run/user/1000/wayland-1", "tarvik", "/r/tarvik-_run_user_1000_wayland-1.sock"},
      // One underscore per character, whatever its length in bytes.
      {"/r", "w\xc3\xa9-\xf0\x9f\x98\x80x", "tarvik", "/r/tarvik-w_-_x.sock"},
      {"/r", "A Z_9", "tarvik", "/r/tarvik-A_Z_9.sock"},
      // Not UTF-8: the default display.
      {"/r", "bad\xff", "tarvik", "/r/tarvik-wayland-0.sock"},
      {"/r", "wayland-1", "tarvik-dev", "/r/tarvik-dev-wayland-1.sock"},
  };
  for (const auto& c : cases) {
    const auto display =
        c.display ? std::optional<std::string_view>(*c.display) : std::optional<std::string_view>();
    EXPECT_EQ(socket_path_for(c.runtime_dir, display, c.display_name), c.path);
  }
}

TEST(SocketPath, ResolvesFromTheEnvironment) {
  auto& log = testing::LogCapture::instance();
  {
    testing::EnvOverride runtime("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(resolve_socket_path(), std::nullopt);
  }
  testing::EnvOverride runtime("XDG_RUNTIME_DIR", "/run/user/7");
  testing::EnvOverride display("WAYLAND_DISPLAY", std::nullopt);
  log.take();
  // This test program is not called tarvik-dev, so the plain prefix applies.
  EXPECT_EQ(resolve_socket_path(), "/run/user/7/tarvik-wayland-0.sock");
  EXPECT_EQ(log.messages("tarvik::ipc"),
            std::vector<std::string>{"resolved daemon socket path=/run/user/7/tarvik-wayland-0.sock"});
}

}  // namespace
}  // namespace tarvik
