#include "qt_window_thread.h"

#include <QMetaObject>

namespace lovar {

void QtWindowThread::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(
      this, [fn = std::move(fn)]() { fn(); }, Qt::QueuedConnection);
}

}  // namespace lovar
