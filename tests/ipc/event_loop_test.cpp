#include "ipc/event_loop.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ipc/unix_socket.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

const EventLoop::Result ok{};

std::unique_ptr<EventLoop> make_loop() {
  auto loop = EventLoop::create();
  EXPECT_TRUE(loop.has_value());
  return std::move(*loop);
}

struct Pipe {
  UniqueFd read_end;
  UniqueFd write_end;
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    read_end.reset(fds[0]);
    write_end.reset(fds[1]);
  }
  void put(char c = 'x') { EXPECT_EQ(write(write_end.get(), &c, 1), 1); }
  void drain() {
    char buffer[64];
    while (read(read_end.get(), buffer, sizeof buffer) > 0) {
    }
  }
};

TEST(EventLoop, TimersFireInDeadlineOrderThenAdditionOrder) {
  auto loop = make_loop();
  std::vector<std::string> fired;
  auto record = [&](std::string name) {
    return [&fired, name] {
      fired.push_back(name);
      return ok;
    };
  };
  ASSERT_TRUE(loop->add_timer(30ms, record("30ms")));
  ASSERT_TRUE(loop->add_timer(10ms, record("10ms")));
  ASSERT_TRUE(loop->add_timer(0ms, record("now-a")));
  ASSERT_TRUE(loop->add_timer(0ms, record("now-b")));
  ASSERT_TRUE(loop->add_timer(20ms, record("20ms")));
  ASSERT_TRUE(loop->add_timer(40ms, [&] {
    loop->stop();
    return ok;
  }));
  ASSERT_TRUE(loop->run());
  EXPECT_EQ(fired, (std::vector<std::string>{"now-a", "now-b", "10ms", "20ms", "30ms"}));
  EXPECT_EQ(loop->pending_timer_count(), 0u);
}

TEST(EventLoop, CancelledTimersNeverFireAndCallbacksMayRearm) {
  auto loop = make_loop();
  int rearmed = 0;
  std::vector<std::string> fired;
  auto cancelled = loop->add_timer(5ms, [&] {
    fired.push_back("cancelled");
    return ok;
  });
  ASSERT_TRUE(cancelled);
  // A timer that cancels another due in the same pass.
  auto later = loop->add_timer(1ms, [&] {
    fired.push_back("later");
    return ok;
  });
  ASSERT_TRUE(later);
  ASSERT_TRUE(loop->add_timer(0ms, [&, id = *later] {
    fired.push_back("canceller");
    EXPECT_TRUE(loop->cancel_timer(id));
    return ok;
  }));
  std::function<EventLoop::Result()> again = [&]() -> EventLoop::Result {
    if (++rearmed < 3) {
      auto id = loop->add_timer(1ms, [&] { return again(); });
      if (!id) return std::unexpected(id.error());
    } else {
      loop->stop();
    }
    return ok;
  };
  ASSERT_TRUE(loop->add_timer(2ms, [&] { return again(); }));
  EXPECT_TRUE(loop->cancel_timer(*cancelled));
  EXPECT_FALSE(loop->cancel_timer(*cancelled));
  EXPECT_FALSE(loop->cancel_timer(987654));
  ASSERT_TRUE(loop->run());
  EXPECT_EQ(rearmed, 3);
  EXPECT_EQ(fired, std::vector<std::string>{"canceller"});
}

TEST(EventLoop, DescriptorReadinessIsLevelTriggered) {
  auto loop = make_loop();
  Pipe pipe;
  std::vector<std::uint32_t> seen;
  ASSERT_TRUE(loop->add_fd(pipe.read_end.get(), EventLoop::readable, [&](std::uint32_t events) {
    seen.push_back(events);
    return ok;
  }));
  ASSERT_TRUE(loop->dispatch(0ms));
  EXPECT_TRUE(seen.empty());

  pipe.put();
  ASSERT_TRUE(loop->dispatch(1000ms));
  ASSERT_TRUE(loop->dispatch(1000ms));
  // Not read yet: reported again.
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0] & EventLoop::readable);

  pipe.drain();
  ASSERT_TRUE(loop->dispatch(0ms));
  EXPECT_EQ(seen.size(), 2u);

  pipe.write_end.reset();
  ASSERT_TRUE(loop->dispatch(1000ms));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[2] & EventLoop::hangup);
}

TEST(EventLoop, SourcesRemovedInsideCallbacksNeverRunAgain) {
  auto loop = make_loop();
  Pipe first, second;
  first.put();
  second.put();
  int first_calls = 0, second_calls = 0;
  EventLoop::SourceId first_id = 0, second_id = 0;
  // Whichever runs first removes the other, although both are ready in the same iteration.
  auto first_added = loop->add_fd(first.read_end.get(), EventLoop::readable, [&](std::uint32_t) {
    ++first_calls;
    first.drain();
    loop->remove_fd(second_id);
    return ok;
  });
  auto second_added = loop->add_fd(second.read_end.get(), EventLoop::readable, [&](std::uint32_t) {
    ++second_calls;
    second.drain();
    loop->remove_fd(first_id);
    return ok;
  });
  ASSERT_TRUE(first_added && second_added);
  first_id = *first_added;
  second_id = *second_added;
  ASSERT_TRUE(loop->dispatch(1000ms));
  // The survivor drained its pipe; the removed one's pipe is still full but no longer watched.
  ASSERT_TRUE(loop->dispatch(0ms));
  EXPECT_EQ(first_calls + second_calls, 1);
  EXPECT_EQ(loop->source_count(), 1u);
}

TEST(EventLoop, SourceRemovingItselfKeepsItsStateUntilTheCallbackReturns) {
  auto loop = make_loop();
  Pipe pipe;
  pipe.put();
  auto owned = std::make_shared<std::string>("still alive");
  std::weak_ptr<std::string> watch = owned;
  EventLoop::SourceId id = 0;
  std::string seen_after_removal;
  auto added = loop->add_fd(pipe.read_end.get(), EventLoop::readable,
                            [&, owned = std::move(owned)](std::uint32_t) {
                              loop->remove_fd(id);
                              seen_after_removal = *owned;
                              return ok;
                            });
  ASSERT_TRUE(added);
  id = *added;
  ASSERT_TRUE(loop->dispatch(1000ms));
  EXPECT_EQ(seen_after_removal, "still alive");
  // Released once the call returned.
  EXPECT_TRUE(watch.expired());
  ASSERT_TRUE(loop->dispatch(0ms));
  EXPECT_EQ(loop->source_count(), 0u);
}

TEST(EventLoop, AnErrorFromACallbackOrHookEndsRun) {
  {
    auto loop = make_loop();
    Pipe pipe;
    pipe.put();
    int calls = 0;
    ASSERT_TRUE(loop->add_fd(pipe.read_end.get(), EventLoop::readable,
                             [&](std::uint32_t) -> EventLoop::Result {
                               ++calls;
                               return std::unexpected(EventLoopError{"source broke"});
                             }));
    EXPECT_EQ(loop->run(), EventLoop::Result(std::unexpected(EventLoopError{"source broke"})));
    EXPECT_EQ(calls, 1);
  }
  {
    auto loop = make_loop();
    ASSERT_TRUE(loop->add_timer(1ms, []() -> EventLoop::Result {
      return std::unexpected(EventLoopError{"timer broke"});
    }));
    EXPECT_EQ(loop->run(), EventLoop::Result(std::unexpected(EventLoopError{"timer broke"})));
  }
  {
    auto loop = make_loop();
    loop->add_before_wait([]() -> EventLoop::Result {
      return std::unexpected(EventLoopError{"flush failed"});
    });
    EXPECT_EQ(loop->run(), EventLoop::Result(std::unexpected(EventLoopError{"flush failed"})));
  }
}

TEST(EventLoop, HooksSurroundEachWait) {
  auto loop = make_loop();
  Pipe pipe;
  std::vector<std::string> order;
  loop->add_before_wait([&] {
    order.push_back("before");
    return ok;
  });
  const auto removable = loop->add_before_wait([&] {
    order.push_back("removed");
    return ok;
  });
  loop->add_after_dispatch([&] {
    order.push_back("after");
    return ok;
  });
  ASSERT_TRUE(loop->add_fd(pipe.read_end.get(), EventLoop::readable, [&](std::uint32_t) {
    order.push_back("fd");
    pipe.drain();
    return ok;
  }));
  loop->remove_hook(removable);
  pipe.put();
  ASSERT_TRUE(loop->dispatch(1000ms));
  ASSERT_TRUE(loop->dispatch(0ms));
  EXPECT_EQ(order, (std::vector<std::string>{"before", "fd", "after", "before", "after"}));
}

TEST(EventLoop, InsertionFailureNamesTheSystemError) {
  auto loop = make_loop();
  auto added = loop->add_fd(-1, EventLoop::readable, [](std::uint32_t) { return ok; });
  ASSERT_FALSE(added.has_value());
  EXPECT_EQ(added.error().message(),
            "error inserting event source: Bad file descriptor (os error 9)");
  EXPECT_EQ(loop->source_count(), 0u);
}

bool pending(int signo) {
  sigset_t set;
  sigemptyset(&set);
  EXPECT_EQ(sigpending(&set), 0);
  return sigismember(&set, signo) == 1;
}

// Signals go to the whole process; the sources below read them back on this thread.
TEST(EventLoopSignals, SignalsRaisedBeforeAndAfterTheSourceAreDeliveredInTheLoop) {
  const int signals[] = {SIGUSR1, SIGUSR2};
  ASSERT_TRUE(block_signals(signals));
  // Raised while blocked and before any source exists: it must wait, not kill the process.
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  EXPECT_TRUE(pending(SIGUSR1));

  auto loop = make_loop();
  std::vector<int> seen;
  const auto id = loop->add_signals(signals, [&](int signo) {
    seen.push_back(signo);
    return ok;
  });
  ASSERT_TRUE(id);
  ASSERT_TRUE(loop->dispatch(1000ms));
  EXPECT_EQ(seen, std::vector<int>{SIGUSR1});
  EXPECT_FALSE(pending(SIGUSR1));

  // Two different signals at once both arrive; a repeated one is merged by the kernel.
  ASSERT_EQ(kill(getpid(), SIGUSR2), 0);
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
  ASSERT_TRUE(loop->dispatch(1000ms));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<int>{SIGUSR1, SIGUSR1, SIGUSR2}));

  // Once the source is gone nothing reads the signal: it stays pending for the next reader.
  loop->remove_fd(*id);
  ASSERT_EQ(kill(getpid(), SIGUSR2), 0);
  ASSERT_TRUE(loop->dispatch(50ms));
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_TRUE(pending(SIGUSR2));
  std::vector<int> later;
  ASSERT_TRUE(loop->add_signals(signals, [&](int signo) {
    later.push_back(signo);
    return ok;
  }));
  ASSERT_TRUE(loop->dispatch(1000ms));
  EXPECT_EQ(later, std::vector<int>{SIGUSR2});
}

TEST(EventLoopSignals, AHandlerMayStopTheLoopOrEndItWithAnError) {
  const int signals[] = {SIGUSR1};
  {
    auto loop = make_loop();
    int calls = 0;
    ASSERT_TRUE(loop->add_signals(signals, [&](int) {
      ++calls;
      loop->stop();
      return ok;
    }));
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    EXPECT_TRUE(loop->run());
    EXPECT_EQ(calls, 1);
  }
  {
    auto loop = make_loop();
    ASSERT_TRUE(loop->add_signals(signals, [](int) -> EventLoop::Result {
      return std::unexpected(EventLoopError{"handler broke"});
    }));
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    EXPECT_EQ(loop->run(), EventLoop::Result(std::unexpected(EventLoopError{"handler broke"})));
  }
}

}  // namespace
}  // namespace tarvik
