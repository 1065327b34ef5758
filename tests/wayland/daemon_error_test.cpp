#include "wayland/daemon_error.h"

#include <gtest/gtest.h>

#include "wayland/run_daemon.h"

namespace tarvik {
namespace {

using Kind = DaemonError::Kind;

TEST(DaemonError, DisplaysEachVariantWithItsPrefixAndCause) {
  struct Case {
    Kind kind;
    const char* detail;
    const char* message;
    bool has_cause;
  };
  const Case cases[] = {
      {Kind::Connect, "Could not find wayland compositor",
       "cannot connect to Wayland: Could not find wayland compositor", true},
      {Kind::Globals, "Broken pipe (os error 32)",
       "cannot initialize Wayland globals: Broken pipe (os error 32)", true},
      {Kind::MissingGlobal, "the seat is dead",
       "required Wayland global is unavailable: the seat is dead", false},
      {Kind::Dispatch, "x", "Wayland dispatch failed: x", true},
      {Kind::EventLoop, "y", "event loop failed: y", true},
      {Kind::Source, "error inserting event source: z",
       "event source failed: error inserting event source: z", true},
      {Kind::Config, "configuration error text", "configuration error text", true},
      {Kind::Application, "required keyboard shortcut inhibition is unavailable",
       "cannot initialize application: required keyboard shortcut inhibition is unavailable",
       false},
      {Kind::Ipc, "another daemon is already running at /run/a.sock",
       "another daemon is already running at /run/a.sock", true},
      {Kind::Shm, "No space left on device (os error 28)",
       "shared-memory buffer error: No space left on device (os error 28)", true},
      {Kind::NoSeat, "", "no keyboard-capable Wayland seat matched the requested seat", false},
  };
  for (const Case& c : cases) {
    DaemonError error{c.kind, c.detail};
    EXPECT_EQ(error.message(), c.message);
    EXPECT_EQ(error.has_cause(), c.has_cause) << c.message;
    EXPECT_EQ(error.cause(), c.has_cause ? c.detail : "") << c.message;
  }
}

TEST(DebugForm, ShowsAbsentAndPresentTextsLikeTheStartupLog) {
  EXPECT_EQ(debug_form(std::nullopt), "None");
  EXPECT_EQ(debug_form(std::string("seat1")), "Some(\"seat1\")");
  EXPECT_EQ(debug_form(std::string("")), "Some(\"\")");
  EXPECT_EQ(debug_form(std::string("a \"b\" c\\d")), "Some(\"a \\\"b\\\" c\\\\d\")");
  EXPECT_EQ(debug_form(std::string("l\n\t\x01")), "Some(\"l\\n\\t\\u{1}\")");
  EXPECT_EQ(debug_form(std::string("/home/é/c.toml")), "Some(\"/home/é/c.toml\")");
}

}  // namespace
}  // namespace tarvik
