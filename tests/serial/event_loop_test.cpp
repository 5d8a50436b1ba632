// The small event loop that stands for the window thread in the CLI and the tests.
#include "serial/event_loop.h"

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace lovar {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kLong(5000);

TEST(EventLoop, PostFromAnotherThreadWakesTheLoop) {
  EventLoop loop;
  std::atomic<bool> waiting{false};
  bool ran = false;
  loop.Post([&] { waiting.store(true); });
  std::thread other([&] {
    while (!waiting.load()) std::this_thread::yield();
    loop.Post([&] { ran = true; });
  });
  EXPECT_TRUE(loop.RunUntil([&] { return ran; }, kLong));
  other.join();
}

// A timer ticks until removed, even by itself from its own tick, which may add another.
TEST(EventLoop, TimerTicksUntilRemoved) {
  EventLoop loop;
  int first = 0;
  int second = 0;
  int id = 0;
  id = loop.AddTimer(milliseconds(1), [&] {
    ++first;
    loop.RemoveTimer(id);
    loop.AddTimer(milliseconds(1), [&] { ++second; });
  });
  EXPECT_TRUE(loop.RunUntil([&] { return second >= 2; }, kLong));
  loop.RunFor(milliseconds(5));
  EXPECT_EQ(first, 1);
}

// A modal question runs a nested loop inside a task: later tasks and the timer go on in it.
TEST(EventLoop, NestedRunUntilKeepsTasksAndTimersGoing) {
  EventLoop loop;
  std::string order;
  int ticks = 0;
  loop.AddTimer(milliseconds(1), [&] { ++ticks; });
  loop.Post([&] {
    order += '[';
    loop.Post([&] { order += 'x'; });
    loop.Post([&] { order += 'y'; });
    EXPECT_TRUE(loop.RunUntil([&] { return order == "[zxy" && ticks >= 2; }, kLong));
    order += ']';
  });
  loop.Post([&] { order += 'z'; });
  EXPECT_TRUE(loop.RunUntil([&] { return order.find('z') != std::string::npos; }, kLong));
  // 'z' was queued before x and y, so the nested loop ran it first.
  EXPECT_EQ(order, "[zxy]");
}

TEST(EventLoop, RunUntilGivesUpAfterItsTime) {
  EventLoop loop;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(loop.RunUntil([] { return false; }, milliseconds(20)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(20));
}

TEST(EventLoop, ProcessPendingRunsOnlyWhatIsQueuedNow) {
  EventLoop loop;
  std::string order;
  loop.Post([&] {
    order += 'a';
    loop.Post([&] { order += 'b'; });
  });
  loop.ProcessPending();
  EXPECT_EQ(order, "a");
  loop.ProcessPending();
  EXPECT_EQ(order, "ab");
}

// After the loop was held, the tasks that waited (a port's deliveries) run before the tick that
// fell due meanwhile, so no watch judges an answer late that came in time; what they post
// waits for the tick, so neither starves the other.
TEST(EventLoop, TasksThatWaitedRunBeforeATickDueMeanwhile) {
  EventLoop loop;
  std::string order;
  loop.AddTimer(milliseconds(20), [&] { order += 't'; });
  loop.Post([&] {
    std::this_thread::sleep_for(milliseconds(60));  // held past the tick's due time
    order += 'h';
  });
  loop.Post([&] {
    order += 'a';
    loop.Post([&] { order += 'c'; });
  });
  loop.Post([&] { order += 'b'; });
  EXPECT_TRUE(loop.RunUntil([&] { return order.find('c') != std::string::npos; }, kLong));
  EXPECT_EQ(order, "habtc");  // one tick for the time held: missed ticks are not made up
}

}  // namespace
}  // namespace lovar
