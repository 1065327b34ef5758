// The daemon's single-threaded event loop on epoll and one timerfd.
//
//   auto loop = EventLoop::create();                       // unique_ptr: callbacks keep `*loop`
//   auto id = (*loop)->add_fd(fd, EventLoop::readable, [](std::uint32_t events) { ...; return ok; });
//   (*loop)->add_timer(std::chrono::milliseconds(50), [] { ...; return ok; });
//   (*loop)->add_before_wait([] { /* flush a connection */ return ok; });
//   (*loop)->add_signals({SIGTERM, SIGINT}, [](int signo) { ...; return ok; });
//   auto result = (*loop)->run();                           // until a callback fails or stop()
//
// - File-descriptor sources are level-triggered: a callback runs on every iteration in which its
//   descriptor is ready, with the ready events (readable, writable, hangup, error bits). The loop
//   does not own the descriptor; a callback may own it through its captures, and it is released
//   when the source is removed.
// - Timers are one-shot on the monotonic clock; due timers fire in deadline order (equal
//   deadlines in the order they were added). A callback re-arms by adding a new timer.
// - Before-wait hooks run, in order, before each wait; after-dispatch hooks after the callbacks
//   of each iteration (a Wayland connection prepares its read in the first and cancels an unused
//   read in the second).
// - Any source, timer or hook may be added or removed from inside any callback; a removed
//   source's callback never runs again, even for events already collected in this iteration.
// - Signal sources read blocked signals from a signalfd, so their callbacks run in the loop like
//   any other, never in async-signal context. Block the signals with block_signals() before any
//   thread exists (threads inherit the mask); a signal that arrives before its source is added
//   stays pending and is delivered once it is.
// - A callback or hook that returns an error ends run() with that error. No periodic wake-ups:
//   an idle loop sleeps in epoll_wait until a descriptor or the earliest timer is due.
//
// Error texts: add_fd / add_timer failures read "error inserting event source: " + the system
// error; run() failures of the loop itself read as the system error of the failing call.
// Callers wrap them ("event loop failed: ...", "event source failed: ...").
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tarvik {

struct EventLoopError {
  std::string text;
  std::string message() const { return text; }
  bool operator==(const EventLoopError&) const = default;
};

// Blocks `signals` for the calling thread, so they stay pending until a signal source reads them.
std::expected<void, EventLoopError> block_signals(std::span<const int> signals);

class EventLoop {
 public:
  using Result = std::expected<void, EventLoopError>;
  using FdCallback = std::move_only_function<Result(std::uint32_t events)>;
  using TimerCallback = std::move_only_function<Result()>;
  using Hook = std::move_only_function<Result()>;
  using SignalCallback = std::move_only_function<Result(int signo)>;
  using SourceId = std::uint64_t;
  using TimerId = std::uint64_t;
  using HookId = std::uint64_t;

  // Interest and readiness bits (the epoll values).
  static const std::uint32_t readable;
  static const std::uint32_t writable;
  static const std::uint32_t hangup;
  static const std::uint32_t error;

  static std::expected<std::unique_ptr<EventLoop>, EventLoopError> create();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  std::expected<SourceId, EventLoopError> add_fd(int fd, std::uint32_t interest,
                                                 FdCallback callback);
  // Changes the interest of a source (for example to add writable while output is queued).
  Result modify_fd(SourceId id, std::uint32_t interest);
  // Unknown or already removed ids are ignored.
  void remove_fd(SourceId id);

  // Blocks `signals` (as block_signals does) and calls `callback` once per delivered signal, in
  // arrival order. The signalfd belongs to the source; remove it with remove_fd.
  std::expected<SourceId, EventLoopError> add_signals(std::span<const int> signals,
                                                      SignalCallback callback);

  std::expected<TimerId, EventLoopError> add_timer(std::chrono::nanoseconds delay,
                                                   TimerCallback callback);
  // True when the timer was still pending.
  bool cancel_timer(TimerId id);

  HookId add_before_wait(Hook hook);
  HookId add_after_dispatch(Hook hook);
  void remove_hook(HookId id);

  // One iteration: hooks, one wait (at most `timeout`; nullopt waits as long as needed), the due
  // callbacks, hooks. Interrupted waits count as an empty iteration.
  Result dispatch(std::optional<std::chrono::milliseconds> timeout);
  // Iterates until a callback or hook fails (its error) or stop() was called (success).
  Result run();
  // Makes run() return success once the current iteration is finished.
  void stop() { stopping_ = true; }

  std::size_t source_count() const { return sources_.size(); }
  std::size_t pending_timer_count() const { return timers_.size(); }

 private:
  struct Source {
    int fd = -1;
    FdCallback callback;
  };
  struct Timer {
    TimerId id = 0;
    TimerCallback callback;
  };
  using Deadline = std::chrono::steady_clock::time_point;

  EventLoop(int epoll_fd, int timer_fd);
  Result arm_timerfd();
  Result fire_due_timers();
  Result run_hooks(std::vector<std::pair<HookId, std::shared_ptr<Hook>>>& hooks);

  int epoll_fd_;
  int timer_fd_;
  std::uint64_t next_id_ = 1;
  bool stopping_ = false;
  // Shared ownership lets a callback remove its own source while it runs: the entry leaves the
  // map at once, the callable lives until the call returns.
  std::map<SourceId, std::shared_ptr<Source>> sources_;
  // Ordered by deadline, then by id, which is the order of addition.
  std::map<std::pair<Deadline, TimerId>, std::shared_ptr<Timer>> timers_;
  std::map<TimerId, Deadline> timer_deadlines_;
  std::vector<std::pair<HookId, std::shared_ptr<Hook>>> before_wait_;
  std::vector<std::pair<HookId, std::shared_ptr<Hook>>> after_dispatch_;
  Deadline armed_for_ = Deadline::max();
};

}  // namespace tarvik
