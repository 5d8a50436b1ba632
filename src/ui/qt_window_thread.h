// The core's window thread on Qt's event loop: posted tasks run as queued calls on the thread
// that created this object (the GUI thread), also inside the nested loop of a modal question.
#pragma once

#include <QObject>

#include "serial/window_thread.h"

namespace lovar {

class QtWindowThread : public QObject, public WindowThread {
  Q_OBJECT
 public:
  explicit QtWindowThread(QObject* parent = nullptr) : QObject(parent) {}
  // Any thread. A task posted after this object is gone is dropped by Qt.
  void Post(std::function<void()> fn) override;
};

}  // namespace lovar
