#include "serial/event_loop.h"

#include <algorithm>
#include <utility>

namespace lovar {

EventLoop::EventLoop() = default;
EventLoop::~EventLoop() = default;

void EventLoop::Post(std::function<void()> fn) {
  // Notified under the lock: once the loop has taken the task it may end and destroy wake_,
  // so a posting thread must be done with it before the loop can see the task.
  std::lock_guard lock(mutex_);
  tasks_.push_back(std::move(fn));
  wake_.notify_one();
}

int EventLoop::AddTimer(std::chrono::milliseconds interval, std::function<void()> fn) {
  interval = std::max(interval, std::chrono::milliseconds(1));
  const int id = next_timer_id_++;
  timers_.push_back(Timer{id, interval, Clock::now() + interval, std::move(fn)});
  return id;
}

void EventLoop::RemoveTimer(int id) {
  std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

std::function<void()> EventLoop::TakeTask() {
  std::lock_guard lock(mutex_);
  if (tasks_.empty()) return {};
  std::function<void()> task = std::move(tasks_.front());
  tasks_.pop_front();
  return task;
}

bool EventLoop::RunOne(Clock::time_point until) {
  // The tasks queued when a timer fell due go first: a delivery that waited while the loop was
  // held is never judged late by the tick behind it. A timer fires at most once per interval,
  // and the tasks posted after it fell due wait for it, so neither starves the other.
  if (owed_ > 0) {
    --owed_;
    if (std::function<void()> task = TakeTask()) {
      task();
      return true;
    }
    owed_ = 0;  // a nested loop ran them
  }
  const auto now = Clock::now();
  Timer* due = nullptr;
  for (Timer& t : timers_) {
    if (t.due <= now && (!due || t.due < due->due)) due = &t;
  }
  if (due) {
    if (owed_timer_ != due->id) {
      owed_timer_ = due->id;
      std::lock_guard lock(mutex_);
      owed_ = tasks_.size();
      if (owed_ > 0) return true;  // they run first, one per call
    }
    owed_timer_ = 0;
    due->due += due->interval;
    if (due->due <= now) due->due = now + due->interval;  // missed ticks are not made up
    std::function<void()> fn = due->fn;                   // the callback may add or remove timers
    fn();
    return true;
  }
  Clock::time_point wake_at = until;
  for (const Timer& t : timers_) wake_at = std::min(wake_at, t.due);

  std::function<void()> task;
  {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, wake_at, [&] { return !tasks_.empty(); });
    if (tasks_.empty()) return false;  // a timer fell due, or time is up
    task = std::move(tasks_.front());
    tasks_.pop_front();
  }
  task();
  return true;
}

bool EventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto until = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= until) return done();
    RunOne(until);
  }
  return true;
}

void EventLoop::RunFor(std::chrono::milliseconds time) {
  RunUntil([] { return false; }, time);
}

void EventLoop::ProcessPending() {
  size_t queued;
  {
    std::lock_guard lock(mutex_);
    queued = tasks_.size();
  }
  // The tasks queued at the call, then the timers due; whatever they post waits for the next run.
  for (size_t i = 0; i < queued; ++i) {
    std::function<void()> task = TakeTask();
    if (!task) break;
    task();
  }
  const auto now = Clock::now();
  std::vector<int> due_ids;
  for (const Timer& t : timers_) {
    if (t.due <= now) due_ids.push_back(t.id);
  }
  for (int id : due_ids) {
    auto it =
        std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) continue;
    it->due = now + it->interval;
    std::function<void()> fn = it->fn;
    fn();
  }
}

}  // namespace lovar
