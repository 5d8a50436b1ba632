// What the window does with an exception that no code of its own caught: it reaches the event
// loop (Qt's, the window thread's or the registry worker's), where the program would end without
// a word, the configuration just read gone with it. Instead the delivery of that one event is
// given up, the window says so in a message box and stays open with what it holds, so that the
// installer can save it. Errors that keep coming end the program, with a status of its own.
//
// Threads: Deliver on any thread that runs Qt events; the box is shown on the window thread
// (the guard's), one at a time.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <atomic>
#include <exception>
#include <functional>

#include "page.h"

namespace lovar {

class InternalErrorGuard : public QObject {
 public:
  // After so many, the program ends (an error in every event would show box after box).
  static constexpr int kMaxErrors = 5;

  // end(status) ends the program (QCoreApplication::exit; tests record it instead).
  explicit InternalErrorGuard(Dialogs& dialogs,
                              std::function<void(int)> end = QCoreApplication::exit)
      : dialogs_(dialogs), end_(std::move(end)) {}

  // Runs deliver(), which delivers one event; an exception from it is reported and false
  // returned, as for an event nobody took.
  template <class Deliver>
  bool Run(Deliver&& deliver) noexcept {
    try {
      return deliver();
    } catch (...) {
      Caught(std::current_exception());
      return false;
    }
  }

  // Exceptions caught so far.
  int count() const { return count_.load(); }

  // The message box's text for an exception; window_kept: the window stays open.
  static QString Text(std::exception_ptr error, bool window_kept);
  // What the exception says of itself.
  static QString What(std::exception_ptr error);

 private:
  void Caught(std::exception_ptr error);  // any thread
  void Show(const QString& text);         // the window thread

  Dialogs& dialogs_;
  std::function<void(int)> end_;
  std::atomic<int> count_{0};
  bool showing_ = false;
  bool ending_ = false;  // the program is ending: no more boxes
};

// The program's application: every event delivered through the guard.
class GuardedApplication : public QApplication {
 public:
  GuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  void SetGuard(InternalErrorGuard* guard) { guard_ = guard; }
  bool notify(QObject* receiver, QEvent* event) override {
    if (guard_ == nullptr) return QApplication::notify(receiver, event);
    return guard_->Run([&] { return QApplication::notify(receiver, event); });
  }

 private:
  InternalErrorGuard* guard_ = nullptr;
};

}  // namespace lovar
