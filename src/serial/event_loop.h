// A small event loop for the command-line client and the tests: posted tasks and timers, run
// on the thread that calls Run*. It sleeps on a condition variable until the next task or the
// next timer; it never polls. Post is safe from any thread; everything else belongs to the
// loop's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "serial/window_thread.h"

namespace lovar {

class EventLoop : public WindowThread {
 public:
  using Clock = std::chrono::steady_clock;

  EventLoop();
  ~EventLoop() override;

  void Post(std::function<void()> fn) override;

  // Calls fn every interval on the loop's thread while the loop runs. Returns an id for
  // RemoveTimer. Ticks that fall due while a task runs are not made up: one call per due time.
  // The tasks already queued when a tick falls due run before it (a port's input that waited
  // while the loop was held is delivered before any watch judges a time-out); tasks posted
  // meanwhile wait for the tick, so neither starves the other.
  // AddTimer and RemoveTimer are called on the loop's thread (a timer may remove itself).
  int AddTimer(std::chrono::milliseconds interval, std::function<void()> fn);
  void RemoveTimer(int id);

  // Runs tasks and timers until done() is true (checked after every task and tick) or timeout
  // passes. Returns done(). May be called from inside a task (a nested loop, as a modal
  // question runs): tasks keep running in order.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Runs tasks and timers for the given time.
  void RunFor(std::chrono::milliseconds time);

  // Runs what is queued now, then the timers due, without waiting.
  void ProcessPending();

 private:
  struct Timer {
    int id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
    std::function<void()> fn;
  };
  bool RunOne(Clock::time_point until);
  // Pops the oldest task, or returns an empty function.
  std::function<void()> TakeTask();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<Timer> timers_;  // touched on the loop's thread only
  int next_timer_id_ = 1;
  // A timer fell due with tasks queued: that many of the oldest run before it (loop's thread).
  size_t owed_ = 0;
  int owed_timer_ = 0;
};

}  // namespace lovar
