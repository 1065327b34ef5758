#include "logging/logging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "logging/log.h"
#include "logging/log_file.h"
#include "logging/panic.h"
#include "logging/utf8.h"
#include "support/process_support.h"

namespace tarvik {
namespace {

using namespace std::chrono;
using testing::ChildResult;
using testing::read_file;
using testing::run_in_child;
using testing::TempDir;

system_clock::time_point at(long long ms_since_epoch) {
  return system_clock::time_point(milliseconds(ms_since_epoch));
}

TEST(Timestamp, IsUtcTimeOfDayWithMilliseconds) {
  struct Case {
    system_clock::time_point when;
    const char* text;
  };
  const Case cases[] = {
      {at(0), "00:00:00.000Z"},
      {at(((9 * 60 + 5) * 60 + 3) * 1000LL + 42), "09:05:03.042Z"},
      // The date is dropped: 20000 days later, same time of day.
      {at(20000LL * 86400 * 1000 + ((14 * 60 + 2) * 60 + 7) * 1000LL + 318), "14:02:07.318Z"},
      {at(86400LL * 1000 - 1), "23:59:59.999Z"},
      {at(86400LL * 1000), "00:00:00.000Z"},
      // Milliseconds are rounded down, not to nearest.
      {system_clock::time_point(nanoseconds(1'999'999)), "00:00:00.001Z"},
      {at(-1), "00:00:00.000Z"},
      {at(-5LL * 86400 * 1000 + 1234), "00:00:00.000Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(logging::format_timestamp(c.when), c.text);
  }
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir", R"("C:\\dir")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"\x1b[0m", R"("\u001b[0m")"},
      // DEL and everything non-ASCII pass through unchanged.
      {"\x7f", "\"\x7f\""},
      {"grüße ✓", "\"grüße ✓\""},
  };
  for (const auto& c : cases) {
    std::string out = "prefix:";
    logging::append_json_string(out, c.text);
    EXPECT_EQ(out, "prefix:" + c.json) << c.text;
  }
}

TEST(LossyUtf8, ReplacesEachMalformedSequenceWithOneReplacementCharacter) {
  const std::string r = "\uFFFD";
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"plain ✓ text", "plain ✓ text"},
      {"a\xff" "b", "a" + r + "b"},
      {"\xff\xfe", r + r},
      // A truncated sequence counts once, however many of its bytes are there.
      {"x\xe2\x82", "x" + r},
      {"\xe2\x82\xe2\x82\xac", r + "€"},
      {"\xf0\x9f\x98", r},
      // Overlong forms and surrogates are malformed from their first byte on.
      {"\xc0\x80", r + r},
      {"\xed\xa0\x80", r + r + r},
      {"\xf4\x90\x80\x80", r + r + r + r},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(logging::lossy_utf8(c.bytes), c.text) << ::testing::PrintToString(c.bytes);
    EXPECT_TRUE(logging::is_valid_utf8(logging::lossy_utf8(c.bytes)));
  }
}

TEST(Tag, FollowsLevelExceptForThePanicTarget) {
  EXPECT_EQ(logging::tag(LogLevel::Error, "tarvik"), "ERR");
  EXPECT_EQ(logging::tag(LogLevel::Warn, "tarvik::config"), "WRN");
  EXPECT_EQ(logging::tag(LogLevel::Info, "tarvik::ipc"), "INF");
  EXPECT_EQ(logging::tag(LogLevel::Debug, "tarvik::sway"), "DBG");
  EXPECT_EQ(logging::tag(LogLevel::Trace, "wayland"), "TRC");
  EXPECT_EQ(logging::tag(LogLevel::Info, "tarvik::panic"), "PNC");
  EXPECT_EQ(logging::tag(LogLevel::Trace, "tarvik::panic"), "PNC");
  // Only the exact target is special.
  EXPECT_EQ(logging::tag(LogLevel::Error, "tarvik::panicky"), "ERR");
}

// A logger writing to two files of a temporary directory.
class LoggerTest : public ::testing::Test {
 protected:
  int open_out(const char* name) {
    const int fd = ::open((dir_.path() / name).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }
  std::string text(const char* name) { return read_file(dir_.path() / name); }
  void TearDown() override {
    for (const int fd : fds_) ::close(fd);
  }

  TempDir dir_;
  std::vector<int> fds_;
};

TEST_F(LoggerTest, WritesBothFormsOfOneRecord) {
  logging::Logger logger(logging::rank(LogLevel::Info), open_out("stderr"), open_out("log"));
  const auto when = at(((14 * 60 + 2) * 60 + 7) * 1000LL + 318);
  logger.log_at(when, LogLevel::Info, "tarvik::ipc",
                "bound daemon socket path=/run/user/1000/tarvik-wayland-1.sock");
  EXPECT_EQ(text("stderr"),
            "INF 14:02:07.318Z bound daemon socket path=/run/user/1000/tarvik-wayland-1.sock\n");
  EXPECT_EQ(text("log"),
            R"({"timestamp":"14:02:07.318Z","level":"INF","target":"tarvik::ipc",)"
            R"("message":"bound daemon socket path=/run/user/1000/tarvik-wayland-1.sock"})"
            "\n");
}

TEST_F(LoggerTest, MessageWithLineFeedQuoteAndBackslashStaysOneJsonLine) {
  logging::Logger logger(logging::rank(LogLevel::Info), open_out("stderr"), open_out("log"));
  logger.log_at(at(1000), LogLevel::Warn, "tarvik::config",
                "first line\nsecond \"quoted\" C:\\path");
  EXPECT_EQ(text("stderr"), "WRN 00:00:01.000Z first line\nsecond \"quoted\" C:\\path\n");
  EXPECT_EQ(text("log"),
            R"({"timestamp":"00:00:01.000Z","level":"WRN","target":"tarvik::config",)"
            R"("message":"first line\nsecond \"quoted\" C:\\path"})"
            "\n");
}

TEST_F(LoggerTest, RawBytesInAMessageCannotBreakTheJsonLine) {
  logging::Logger logger(logging::rank(LogLevel::Debug), open_out("stderr"), open_out("log"));
  logger.log_at(at(0), LogLevel::Debug, "tarvik::sway", "using Sway IPC socket path=/run/s\xff\xfe.sock");
  EXPECT_EQ(text("stderr"), "DBG 00:00:00.000Z using Sway IPC socket path=/run/s\uFFFD\uFFFD.sock\n");
  EXPECT_EQ(text("log"),
            R"({"timestamp":"00:00:00.000Z","level":"DBG","target":"tarvik::sway",)"
            "\"message\":\"using Sway IPC socket path=/run/s\uFFFD\uFFFD.sock\"}\n");
}

TEST_F(LoggerTest, DropsRecordsAboveTheLevelInBothOutputs) {
  logging::Logger logger(logging::rank(LogLevel::Warn), open_out("stderr"), open_out("log"));
  logger.log_at(at(0), LogLevel::Info, "tarvik", "dropped info");
  logger.log_at(at(0), LogLevel::Debug, "tarvik", "dropped debug");
  logger.log_at(at(0), LogLevel::Warn, "tarvik", "kept warn");
  logger.log_at(at(0), LogLevel::Error, "tarvik::panic", "kept panic");
  EXPECT_EQ(text("stderr"), "WRN 00:00:00.000Z kept warn\nPNC 00:00:00.000Z kept panic\n");
  const std::string log = text("log");
  EXPECT_THAT(log, ::testing::Not(::testing::HasSubstr("dropped")));
  EXPECT_THAT(log, ::testing::HasSubstr(R"("level":"PNC","target":"tarvik::panic")"));
}

TEST_F(LoggerTest, WithoutFileOnlyStandardErrorIsWritten) {
  logging::Logger logger(logging::rank(LogLevel::Trace), open_out("stderr"), std::nullopt);
  logger.log_at(at(0), LogLevel::Trace, "wl_display", "trace from a platform library");
  EXPECT_EQ(text("stderr"), "TRC 00:00:00.000Z trace from a platform library\n");
}

TEST_F(LoggerTest, FullLogFileLosesRecordsButStandardErrorKeepsThem) {
  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  fds_.push_back(full);
  logging::Logger logger(logging::rank(LogLevel::Info), open_out("stderr"), full);
  logger.log_at(at(0), LogLevel::Info, "tarvik", "one");
  logger.log_at(at(0), LogLevel::Error, "tarvik", "two");
  EXPECT_EQ(text("stderr"), "INF 00:00:00.000Z one\nERR 00:00:00.000Z two\n");
}

TEST_F(LoggerTest, ConcurrentRecordsStayWholeLines) {
  logging::Logger logger(logging::rank(LogLevel::Info), open_out("stderr"), open_out("log"));
  constexpr int kThreads = 4;
  constexpr int kRecords = 200;
  const std::string payload(3000, 'x');  // longer than a pipe's atomic write
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kRecords; ++i) logger.log(LogLevel::Info, "tarvik", fmt::format("{} {}", t, payload));
      });
    }
  }
  std::istringstream lines(text("log"));
  std::string line;
  int count = 0;
  const std::regex shape(R"(\{"timestamp":"\d\d:\d\d:\d\d\.\d{3}Z","level":"INF","target":"tarvik","message":"\d x{3000}"\})");
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_TRUE(std::regex_match(line, shape)) << line.substr(0, 80);
  }
  EXPECT_EQ(count, kThreads * kRecords);
}

// Counts how often a value is formatted, to show a dropped record costs no formatting.
struct Counted {
  int* formatted;
};

}  // namespace
}  // namespace tarvik

template <>
struct fmt::formatter<tarvik::Counted> : fmt::formatter<int> {
  auto format(const tarvik::Counted& c, fmt::format_context& ctx) const {
    ++*c.formatted;
    return fmt::formatter<int>::format(*c.formatted, ctx);
  }
};

namespace tarvik {
namespace {

TEST(Facade, RecordsAboveTheMaximumRankAreNeverFormatted) {
  // No logger is installed in this process, so admitted records are formatted and then dropped.
  const int saved = logging::g_max_rank.load();
  int formatted = 0;
  logging::g_max_rank = logging::rank(LogLevel::Warn);
  TARVIK_LOG(Info, "tarvik", "value={}", Counted{&formatted});
  TARVIK_LOG(Trace, "tarvik", "value={}", Counted{&formatted});
  EXPECT_EQ(formatted, 0);
  TARVIK_LOG(Warn, "tarvik", "value={}", Counted{&formatted});
  TARVIK_LOG(Error, "tarvik", "value={}", Counted{&formatted});
  EXPECT_EQ(formatted, 2);
  logging::g_max_rank = saved;
}

TEST(InitLogging, InstallsOnceAndFiltersThroughTheFacade) {
  TempDir dir;
  const auto log_path = dir.path() / "log.json";
  const ChildResult child = run_in_child([&] {
    const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (!init_logging(LogLevel::Warn, fd)) ::_exit(2);
    const auto again = init_logging(LogLevel::Trace, std::nullopt);
    if (again) ::_exit(3);
    TARVIK_LOG(Info, "tarvik", "not admitted");
    TARVIK_LOG(Warn, "tarvik::config", "second init said: {}", again.error().message());
  });
  ASSERT_TRUE(WIFEXITED(child.wait_status)) << child.stderr_text;
  ASSERT_EQ(WEXITSTATUS(child.wait_status), 0) << child.stderr_text;
  EXPECT_TRUE(std::regex_match(
      child.stderr_text,
      std::regex(R"(WRN \d\d:\d\d:\d\d\.\d{3}Z second init said: logging has already been initialized\n)")))
      << child.stderr_text;
  EXPECT_THAT(read_file(log_path),
              ::testing::HasSubstr(R"("level":"WRN","target":"tarvik::config","message":"second init said: logging has already been initialized"})"));
}

// Kept apart so that the test knows the line the record must name.
void break_grid_invariant() {
  TARVIK_ASSERT(std::getenv("TARVIK_TEST_NEVER_SET") != nullptr, "grid cells overlap");
}
constexpr unsigned kBrokenInvariantLine = __LINE__ - 2;

TEST(CrashReport, InvariantFailureBecomesOnePanicRecordInBothOutputs) {
  TempDir dir;
  const auto log_path = dir.path() / "log.json";
  const ChildResult child = run_in_child([&] {
    const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (!init_logging(LogLevel::Info, fd)) ::_exit(2);
    break_grid_invariant();
  });
  ASSERT_TRUE(WIFSIGNALED(child.wait_status)) << child.stderr_text;
  EXPECT_EQ(WTERMSIG(child.wait_status), SIGABRT);

  const std::string location =
      fmt::format(R"(\S*tests/logging/logging_test\.cpp:{}:\d+)", kBrokenInvariantLine);
  EXPECT_TRUE(std::regex_match(
      child.stderr_text,
      std::regex(R"(PNC \d\d:\d\d:\d\d\.\d{3}Z panicked at )" + location + ":\ngrid cells overlap\n")))
      << child.stderr_text;
  EXPECT_TRUE(std::regex_match(
      read_file(log_path),
      std::regex(R"(\{"timestamp":"\d\d:\d\d:\d\d\.\d{3}Z","level":"PNC","target":"tarvik::panic",)"
                 R"("message":"panicked at )" + location + R"(:\\ngrid cells overlap"\}\n)")))
      << read_file(log_path);
}

TEST(CrashReport, UncaughtExceptionNamesItsTypeAndText) {
  TempDir dir;
  const auto log_path = dir.path() / "log.json";
  const ChildResult child = run_in_child([&] {
    const int fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (!init_logging(LogLevel::Error, fd)) ::_exit(2);
    std::thread([] { throw std::runtime_error("lens capture vanished"); }).join();
  });
  ASSERT_TRUE(WIFSIGNALED(child.wait_status)) << child.stderr_text;
  EXPECT_EQ(WTERMSIG(child.wait_status), SIGABRT);
  EXPECT_TRUE(std::regex_match(
      child.stderr_text,
      std::regex(R"(PNC \d\d:\d\d:\d\d\.\d{3}Z panicked at <unknown>:0:0:\n)"
                 R"(uncaught exception of type std::runtime_error: lens capture vanished\n)")))
      << child.stderr_text;
  EXPECT_THAT(read_file(log_path),
              ::testing::HasSubstr(R"("level":"PNC","target":"tarvik::panic","message":"panicked at <unknown>:0:0:\nuncaught exception of type std::runtime_error: lens capture vanished"})"));
}

TEST(CrashReport, BeforeTheLoggerExistsTheBareMessageGoesToStandardError) {
  const ChildResult child = run_in_child([] { invariant_failed("too early"); });
  ASSERT_TRUE(WIFSIGNALED(child.wait_status)) << child.stderr_text;
  EXPECT_EQ(WTERMSIG(child.wait_status), SIGABRT);
  EXPECT_TRUE(std::regex_match(child.stderr_text,
                               std::regex(R"(panicked at \S*logging_test\.cpp:\d+:\d+:\ntoo early\n)")))
      << child.stderr_text;
}

TEST(ParentDirectory, NamesTheDirectoryPart) {
  struct Case {
    const char* path;
    const char* parent;
  };
  const Case cases[] = {
      {"", ""},          {"log.json", ""},       {"/log.json", "/"},
      {"a/b/log.json", "a/b"}, {"a//b//log.json", "a//b"}, {"a/b/", "a"},
      {"/", ""},         {"./log", "."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parent_directory(c.path), c.parent) << c.path;
  }
}

TEST(OpenLogFile, CreatesMissingParentsAndAppends) {
  TempDir dir;
  const auto path = dir.path() / "state" / "tarvik" / "log.json";
  {
    const auto fd = open_log_file(path.string());
    ASSERT_TRUE(fd) << fd.error().message();
    ASSERT_TRUE(logging::write_all(*fd, "first\n"));
    ::close(*fd);
  }
  const auto fd = open_log_file(path.string());
  ASSERT_TRUE(fd) << fd.error().message();
  EXPECT_NE(::fcntl(*fd, F_GETFD) & FD_CLOEXEC, 0);
  const int null_fd = ::open("/dev/null", O_WRONLY);
  logging::Logger logger(logging::rank(LogLevel::Info), null_fd, *fd);
  logger.log_at(at(0), LogLevel::Info, "tarvik", "second");
  ::close(*fd);
  ::close(null_fd);
  EXPECT_EQ(read_file(path),
            "first\n"
            R"({"timestamp":"00:00:00.000Z","level":"INF","target":"tarvik","message":"second"})"
            "\n");
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            static_cast<std::filesystem::perms>(0666 & ~mask));
  EXPECT_EQ(std::filesystem::status(path.parent_path()).permissions(),
            static_cast<std::filesystem::perms>(0777 & ~mask));
}

TEST(OpenLogFile, FailuresCarryTheSystemErrorText) {
  TempDir dir;
  std::ofstream(dir.path() / "plain") << "x";
  struct Case {
    std::string path;
    const char* message;
  };
  const Case cases[] = {
      {"", "cannot open log file: No such file or directory (os error 2)"},
      {dir.path().string(), "cannot open log file: Is a directory (os error 21)"},
      {(dir.path() / "plain" / "log.json").string(),
       "cannot open log file: Not a directory (os error 20)"},
      {(dir.path() / "plain" / "deeper" / "log.json").string(),
       "cannot open log file: Not a directory (os error 20)"},
  };
  for (const auto& c : cases) {
    const auto fd = open_log_file(c.path);
    ASSERT_FALSE(fd) << c.path;
    EXPECT_EQ(fd.error().message(), c.message) << c.path;
  }
}

}  // namespace
}  // namespace tarvik
