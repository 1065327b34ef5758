#include "ipc/event_loop.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include <csignal>

#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "ipc/unix_socket.h"
#include "logging/system_error.h"

namespace tarvik {

const std::uint32_t EventLoop::readable = EPOLLIN;
const std::uint32_t EventLoop::writable = EPOLLOUT;
const std::uint32_t EventLoop::hangup = EPOLLHUP;
const std::uint32_t EventLoop::error = EPOLLERR;

namespace {

// The timerfd's epoll tag; source ids start at 1.
constexpr std::uint64_t timer_tag = 0;

EventLoopError system_error(int errnum) { return EventLoopError{os_error_text(errnum)}; }

EventLoopError insert_error(int errnum) {
  return EventLoopError{"error inserting event source: " + os_error_text(errnum)};
}

sigset_t signal_set(std::span<const int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signo : signals) sigaddset(&set, signo);
  return set;
}

}  // namespace

std::expected<void, EventLoopError> block_signals(std::span<const int> signals) {
  const sigset_t set = signal_set(signals);
  // pthread_sigmask reports its error as the return value, not through errno.
  if (const int failed = pthread_sigmask(SIG_BLOCK, &set, nullptr); failed != 0) {
    return std::unexpected(system_error(failed));
  }
  return {};
}

std::expected<std::unique_ptr<EventLoop>, EventLoopError> EventLoop::create() {
  const int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd < 0) return std::unexpected(system_error(errno));
  const int timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (timer_fd < 0) {
    const int saved = errno;
    close(epoll_fd);
    return std::unexpected(system_error(saved));
  }
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = timer_tag;
  if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, timer_fd, &event) != 0) {
    const int saved = errno;
    close(timer_fd);
    close(epoll_fd);
    return std::unexpected(system_error(saved));
  }
  return std::unique_ptr<EventLoop>(new EventLoop(epoll_fd, timer_fd));
}

EventLoop::EventLoop(int epoll_fd, int timer_fd) : epoll_fd_(epoll_fd), timer_fd_(timer_fd) {}

EventLoop::~EventLoop() {
  // Callbacks may own descriptors that are still registered; drop them before the epoll set.
  sources_.clear();
  timers_.clear();
  close(timer_fd_);
  close(epoll_fd_);
}

std::expected<EventLoop::SourceId, EventLoopError> EventLoop::add_fd(int fd,
                                                                     std::uint32_t interest,
                                                                     FdCallback callback) {
  const SourceId id = next_id_++;
  epoll_event event{};
  event.events = interest;
  event.data.u64 = id;
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &event) != 0) {
    return std::unexpected(insert_error(errno));
  }
  sources_.emplace(id, std::make_shared<Source>(Source{fd, std::move(callback)}));
  return id;
}

EventLoop::Result EventLoop::modify_fd(SourceId id, std::uint32_t interest) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return {};
  epoll_event event{};
  event.events = interest;
  event.data.u64 = id;
  if (epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, it->second->fd, &event) != 0) {
    return std::unexpected(system_error(errno));
  }
  return {};
}

void EventLoop::remove_fd(SourceId id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;
  // The descriptor may already be closed by its owner, which removed it from the set anyway.
  epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, it->second->fd, nullptr);
  sources_.erase(it);
}

std::expected<EventLoop::SourceId, EventLoopError> EventLoop::add_signals(
    std::span<const int> signals, SignalCallback callback) {
  if (auto blocked = block_signals(signals); !blocked) {
    return std::unexpected(EventLoopError{"error inserting event source: " + blocked.error().text});
  }
  const sigset_t set = signal_set(signals);
  UniqueFd fd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!fd) return std::unexpected(insert_error(errno));
  const int raw = fd.get();
  return add_fd(raw, readable,
                [fd = std::move(fd), callback = std::move(callback)](std::uint32_t) mutable -> Result {
                  signalfd_siginfo info{};
                  // Several signals may be pending at once; each read returns one.
                  while (read(fd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                    if (auto result = callback(static_cast<int>(info.ssi_signo)); !result) {
                      return result;
                    }
                  }
                  if (errno != EAGAIN && errno != EINTR) return std::unexpected(system_error(errno));
                  return {};
                });
}

std::expected<EventLoop::TimerId, EventLoopError> EventLoop::add_timer(
    std::chrono::nanoseconds delay, TimerCallback callback) {
  const TimerId id = next_id_++;
  const Deadline deadline =
      std::chrono::steady_clock::now() + std::max(delay, std::chrono::nanoseconds::zero());
  timers_.emplace(std::pair{deadline, id},
                  std::make_shared<Timer>(Timer{id, std::move(callback)}));
  timer_deadlines_.emplace(id, deadline);
  if (auto armed = arm_timerfd(); !armed) {
    timers_.erase({deadline, id});
    timer_deadlines_.erase(id);
    return std::unexpected(EventLoopError{"error inserting event source: " + armed.error().text});
  }
  return id;
}

bool EventLoop::cancel_timer(TimerId id) {
  const auto it = timer_deadlines_.find(id);
  if (it == timer_deadlines_.end()) return false;
  timers_.erase({it->second, id});
  timer_deadlines_.erase(it);
  // A failed re-arm leaves at most one early, empty wake-up.
  (void)arm_timerfd();
  return true;
}

EventLoop::Result EventLoop::arm_timerfd() {
  const Deadline next = timers_.empty() ? Deadline::max() : timers_.begin()->first.first;
  if (next == armed_for_) return {};
  itimerspec deadline{};
  if (next != Deadline::max()) {
    const auto since_boot = next.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since_boot);
    deadline.it_value.tv_sec = seconds.count();
    deadline.it_value.tv_nsec =
        std::chrono::duration_cast<std::chrono::nanoseconds>(since_boot - seconds).count();
    // An all-zero value would disarm instead of firing at once.
    if (deadline.it_value.tv_sec == 0 && deadline.it_value.tv_nsec == 0) deadline.it_value.tv_nsec = 1;
  }
  if (timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &deadline, nullptr) != 0) {
    return std::unexpected(system_error(errno));
  }
  armed_for_ = next;
  return {};
}

EventLoop::Result EventLoop::fire_due_timers() {
  std::uint64_t expirations = 0;
  // Non-blocking: nothing to drain when a re-arm raced with the wake-up.
  (void)!read(timer_fd_, &expirations, sizeof expirations);
  // The timer was consumed by the read; arm again before anything can return.
  armed_for_ = Deadline::max();

  const Deadline now = std::chrono::steady_clock::now();
  // Only timers already due when this pass began: one added by a callback waits for the next
  // iteration even with a zero delay, so a re-arming timer cannot starve the descriptors.
  std::vector<std::pair<Deadline, TimerId>> due;
  for (const auto& [key, timer] : timers_) {
    if (key.first > now) break;
    due.push_back(key);
  }
  Result result;
  for (const auto& key : due) {
    const auto it = timers_.find(key);
    if (it == timers_.end()) continue;  // cancelled by an earlier callback
    std::shared_ptr<Timer> timer = std::move(it->second);
    timers_.erase(it);
    timer_deadlines_.erase(key.second);
    result = timer->callback();
    if (!result) break;
  }
  if (auto armed = arm_timerfd(); !armed && result) result = std::unexpected(armed.error());
  return result;
}

EventLoop::HookId EventLoop::add_before_wait(Hook hook) {
  const HookId id = next_id_++;
  before_wait_.emplace_back(id, std::make_shared<Hook>(std::move(hook)));
  return id;
}

EventLoop::HookId EventLoop::add_after_dispatch(Hook hook) {
  const HookId id = next_id_++;
  after_dispatch_.emplace_back(id, std::make_shared<Hook>(std::move(hook)));
  return id;
}

void EventLoop::remove_hook(HookId id) {
  for (auto* hooks : {&before_wait_, &after_dispatch_}) {
    std::erase_if(*hooks, [id](const auto& entry) { return entry.first == id; });
  }
}

EventLoop::Result EventLoop::run_hooks(std::vector<std::pair<HookId, std::shared_ptr<Hook>>>& hooks) {
  // A snapshot, so hooks may add or remove hooks; a hook removed meanwhile is skipped.
  const auto snapshot = hooks;
  for (const auto& [id, hook] : snapshot) {
    const bool still_registered =
        std::any_of(hooks.begin(), hooks.end(), [id](const auto& entry) { return entry.first == id; });
    if (!still_registered) continue;
    if (auto result = (*hook)(); !result) return result;
  }
  return {};
}

EventLoop::Result EventLoop::dispatch(std::optional<std::chrono::milliseconds> timeout) {
  if (auto result = run_hooks(before_wait_); !result) return result;

  std::array<epoll_event, 32> events{};
  const int wait_ms = timeout ? static_cast<int>(std::max<long long>(0, timeout->count())) : -1;
  const int count = epoll_wait(epoll_fd_, events.data(), static_cast<int>(events.size()), wait_ms);
  if (count < 0 && errno != EINTR) return std::unexpected(system_error(errno));

  for (int k = 0; k < count; ++k) {
    const std::uint64_t tag = events[k].data.u64;
    if (tag == timer_tag) {
      if (auto result = fire_due_timers(); !result) return result;
      continue;
    }
    const auto it = sources_.find(tag);
    if (it == sources_.end()) continue;  // removed earlier in this iteration
    // Keeps the callable alive even if the callback removes its own source.
    const std::shared_ptr<Source> source = it->second;
    if (auto result = source->callback(events[k].events); !result) return result;
  }

  return run_hooks(after_dispatch_);
}

EventLoop::Result EventLoop::run() {
  stopping_ = false;
  while (!stopping_) {
    if (auto result = dispatch(std::nullopt); !result) return result;
  }
  return {};
}

}  // namespace tarvik
