// The window thread, as the core sees it: the one thread that runs every handler.
#pragma once

#include <functional>

namespace lovar {

// The windows implement this on Qt's event loop; EventLoop implements it for the CLI and tests.
class WindowThread {
 public:
  virtual ~WindowThread() = default;

  // Queues fn to run on the window thread, after the events already queued. Safe to call from
  // any thread; never blocks and never runs fn before returning. Tasks posted from one thread
  // run in the order posted. A task posted after the loop has stopped for good may never run.
  virtual void Post(std::function<void()> fn) = 0;
};

}  // namespace lovar
