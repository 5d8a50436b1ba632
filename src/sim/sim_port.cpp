#include "sim/sim_port.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace lovar {

// Shared between the port, the tasks it posts and its timer thread, so that a task that runs
// after the port is gone finds the state still there (and does nothing).
struct SimPort::Line : std::enable_shared_from_this<Line> {
  using Clock = std::chrono::steady_clock;

  struct Pending {
    Clock::time_point due;
    uint64_t session;
    std::vector<uint8_t> bytes;
    bool hang_up;
  };

  Line(WindowThread& w, DeviceSim s) : window(w), sim(std::move(s)) {}

  // Window thread only.
  WindowThread& window;
  DeviceSim sim;
  SimPort* owner = nullptr;  // null once the port is destroyed
  LinkError error = LinkError::None;
  uint64_t session = 0;  // a new one at every open, close and hang-up
  TMessageDevice record;
  std::atomic<bool> open{false};
  // Deliveries posted and not run yet (SimPort::InputPending).
  std::atomic<int> undelivered{0};

  // Guards the queue of delayed outputs, shared with the timer thread.
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Pending> queue;  // in due-time order, equal times in the order queued
  bool stopping = false;
  std::thread timer;

  // Posts one output: its bytes in deliveries of at most kMaxDelivery, or the hang-up.
  void PostOutput(Pending pending) {
    std::shared_ptr<Line> self = shared_from_this();
    const uint64_t s = pending.session;
    if (pending.hang_up) {
      window.Post([self, s] { self->HangUp(s); });
      return;
    }
    const std::vector<uint8_t>& bytes = pending.bytes;
    for (size_t at = 0; at < bytes.size(); at += kMaxDelivery) {
      const size_t n = std::min(kMaxDelivery, bytes.size() - at);
      std::vector<uint8_t> chunk(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
      ++undelivered;
      window.Post([self, s, chunk = std::move(chunk)] {
        --self->undelivered;
        self->Deliver(s, chunk);
      });
    }
  }

  bool Current(uint64_t s) const { return owner != nullptr && open.load() && s == session; }

  void Deliver(uint64_t s, const std::vector<uint8_t>& chunk) {
    if (!Current(s)) return;
    record.Count = static_cast<int32_t>(chunk.size());
    std::copy(chunk.begin(), chunk.end(), record.Data.begin());
    if (owner->OnReceive) owner->OnReceive(record);
  }

  void HangUp(uint64_t s) {
    if (!Current(s)) return;
    error = LinkError::HungUp;
    Stop();
  }

  // Ends the session: nothing queued or already posted is delivered any more.
  void Stop() {
    open = false;
    ++session;
    std::lock_guard lock(mutex);
    queue.clear();
  }

  void Enqueue(Pending pending) {
    std::lock_guard lock(mutex);
    if (queue.empty() && pending.due <= Clock::now()) {
      // Nothing is waiting that is due earlier, and the timer thread posts under this lock, so
      // posting here keeps the order.
      PostOutput(std::move(pending));
      return;
    }
    auto at = std::upper_bound(queue.begin(), queue.end(), pending.due,
                               [](Clock::time_point due, const Pending& p) { return due < p.due; });
    queue.insert(at, std::move(pending));
    if (!timer.joinable()) timer = std::thread([this] { RunTimer(); });
    wake.notify_one();
  }

  void RunTimer() {
    std::unique_lock lock(mutex);
    while (!stopping) {
      if (queue.empty()) {
        wake.wait(lock);
      } else if (queue.front().due > Clock::now()) {
        wake.wait_until(lock, queue.front().due);
      } else {
        Pending pending = std::move(queue.front());
        queue.pop_front();
        PostOutput(std::move(pending));
      }
    }
  }

  void Shutdown() {
    owner = nullptr;
    open = false;
    {
      std::lock_guard lock(mutex);
      stopping = true;
      queue.clear();
    }
    wake.notify_one();
    if (timer.joinable()) timer.join();
  }
};

SimPort::SimPort(WindowThread& window, SimConfig config)
    : line_(std::make_shared<Line>(window, DeviceSim(std::move(config)))) {
  line_->owner = this;
}

SimPort::SimPort(WindowThread& window, SimConfig config, const ConfigImage& image)
    : line_(std::make_shared<Line>(window, DeviceSim(std::move(config), image))) {
  line_->owner = this;
}

SimPort::~SimPort() {
  line_->Shutdown();
}

bool SimPort::IsOpen() const {
  return line_->open.load();
}

bool SimPort::OpenDevice() {
  if (line_->open) return true;
  line_->sim.ResetLine();
  line_->error = LinkError::None;
  ++line_->session;
  line_->open = true;
  return true;
}

bool SimPort::CloseDevice() {
  if (line_->open) line_->Stop();
  return true;
}

void SimPort::WriteDevice(int32_t Count, std::span<const uint8_t> Buf) {
  if (!line_->open || Count <= 0) return;
  const size_t n = std::min(static_cast<size_t>(Count), Buf.size());
  std::vector<SimOutput> outputs;
  line_->sim.Feed(Buf.first(n), outputs);
  const auto now = Line::Clock::now();
  for (SimOutput& output : outputs) {
    line_->Enqueue(
        Line::Pending{now + output.delay, line_->session, std::move(output.bytes), output.hang_up});
  }
}

LinkError SimPort::LastError() const {
  return line_->error;
}

bool SimPort::InputPending() const {
  return line_->open.load() && line_->undelivered.load() > 0;
}

DeviceSim& SimPort::device() {
  return line_->sim;
}

}  // namespace lovar
