// Cost of one whole client command: `tarvik cancel` started as a process, connecting to a daemon
// socket that answers at once, compared with starting /bin/true the same way. The ratio says how
// many bare process starts the client's start-up and exchange are worth. The daemon program,
// which answers client commands too but links every library of the daemon, shows beside it what
// the small client saves.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A private runtime directory with a socket that answers every request at once.
class InstantDaemon {
 public:
  InstantDaemon() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    const std::string path = (dir_ / "tarvik-wayland-bench.sock").string();
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener_ < 0 || path.size() >= sizeof address.sun_path) {
      throw std::runtime_error("cannot create the daemon socket");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0) {
      throw std::runtime_error("cannot bind the daemon socket");
    }
    thread_ = std::thread([this] { serve(); });
  }

  ~InstantDaemon() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  const std::filesystem::path& runtime_dir() const { return dir_; }

 private:
  void serve() {
    static constexpr std::string_view answer = "{\"ok\":true,\"message\":\"cancelled\"}\n";
    while (!stop_) {
      pollfd ready{listener_, POLLIN, 0};
      if (::poll(&ready, 1, 50) != 1) continue;
      const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      char buffer[8192];
      std::size_t taken = 0;
      for (;;) {
        const ssize_t n = ::read(connection, buffer, sizeof buffer);
        if (n <= 0) break;
        taken += static_cast<std::size_t>(n);
        if (std::memchr(buffer, '\n', static_cast<std::size_t>(n)) != nullptr) break;
      }
      if (taken > 0) (void)::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
      ::close(connection);
    }
  }

  std::filesystem::path dir_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Starts a program with both output streams on /dev/null and waits for it; its exit status.
class Launcher {
 public:
  explicit Launcher(const std::filesystem::path& runtime_dir) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      if (text.starts_with("XDG_RUNTIME_DIR=") || text.starts_with("WAYLAND_DISPLAY=")) continue;
      env_.emplace_back(text);
    }
    env_.push_back("XDG_RUNTIME_DIR=" + runtime_dir.string());
    env_.push_back("WAYLAND_DISPLAY=wayland-bench");
    for (auto& s : env_) envp_.push_back(s.data());
    envp_.push_back(nullptr);
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  ~Launcher() { posix_spawn_file_actions_destroy(&actions_); }

  int run(std::vector<std::string> argv_strings) {
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions_, nullptr, argv.data(), envp_.data()) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::vector<std::string> env_;
  std::vector<char*> envp_;
  posix_spawn_file_actions_t actions_{};
};

const std::string kDaemonProgram =
    (std::filesystem::path(TARVIK_EXECUTABLE).parent_path() / "tarvik-daemon").string();

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Each iteration times one `tarvik cancel`; one /bin/true started right after it, outside the
// timed part, gives the baseline under the same machine load, and the ratio is reported.
void client_cancel(benchmark::State& state, const std::string& program) {
  InstantDaemon daemon;
  Launcher launcher(daemon.runtime_dir());
  Clock::duration client{};
  Clock::duration baseline{};
  for (auto _ : state) {
    auto start = Clock::now();
    const int status = launcher.run({program, "cancel"});
    client += Clock::now() - start;
    state.PauseTiming();
    start = Clock::now();
    const int true_status = launcher.run({"/bin/true"});
    baseline += Clock::now() - start;
    state.ResumeTiming();
    if (status != 0 || true_status != 0) {
      state.SkipWithError("a command failed; is the tarvik executable built?");
      break;
    }
  }
  if (state.iterations() > 0 && baseline.count() > 0) {
    const double n = static_cast<double>(state.iterations());
    state.counters["client_us"] = seconds(client) / n * 1e6;
    state.counters["true_us"] = seconds(baseline) / n * 1e6;
    state.counters["ratio"] = seconds(client) / seconds(baseline);
  }
}
void BM_ClientCancel(benchmark::State& state) { client_cancel(state, TARVIK_EXECUTABLE); }
BENCHMARK(BM_ClientCancel)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same command from the program that links everything, as `tarvik` did before it was split.
void BM_DaemonProgramCancel(benchmark::State& state) { client_cancel(state, kDaemonProgram); }
BENCHMARK(BM_DaemonProgramCancel)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The program's start-up alone (dynamic linking, parsing), without logger or exchange: the
// difference to BM_ClientCancel is what the request itself costs.
void version_only(benchmark::State& state, const std::string& program) {
  InstantDaemon daemon;
  Launcher launcher(daemon.runtime_dir());
  for (auto _ : state) {
    if (launcher.run({program, "--version"}) != 0) {
      state.SkipWithError("--version failed; are tarvik and tarvik-daemon built?");
      break;
    }
  }
}
void BM_VersionOnly(benchmark::State& state) { version_only(state, TARVIK_EXECUTABLE); }
BENCHMARK(BM_VersionOnly)->UseRealTime()->Unit(benchmark::kMicrosecond);
void BM_DaemonProgramVersionOnly(benchmark::State& state) { version_only(state, kDaemonProgram); }
BENCHMARK(BM_DaemonProgramVersionOnly)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_BinTrue(benchmark::State& state) {
  InstantDaemon daemon;
  Launcher launcher(daemon.runtime_dir());
  for (auto _ : state) {
    if (launcher.run({"/bin/true"}) != 0) {
      state.SkipWithError("/bin/true failed");
      break;
    }
  }
}
BENCHMARK(BM_BinTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
