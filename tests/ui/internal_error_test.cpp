// An exception that nothing of the window's caught: said in a box on the window thread, once per
// error, the window going on; errors that keep coming end the program with its own status.
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <thread>

#include "harness.h"
#include "internal_error.h"
#include "session/outcome.h"

using namespace lovar;
using lovar::testing::ScriptedDialogs;

namespace {

// Records the thread each box is shown on.
class ThreadDialogs : public ScriptedDialogs {
 public:
  void Message(const QString& caption, const QString& text, bool warning) override {
    ScriptedDialogs::Message(caption, text, warning);
    threads.push_back(QThread::currentThread());
  }
  std::vector<QThread*> threads;
};

// A control whose handler throws what a Cyrillic path in the ANSI code page made it throw.
class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User)
      throw std::filesystem::filesystem_error(
          "cannot convert", std::make_error_code(std::errc::illegal_byte_sequence));
    return QObject::event(e);
  }
};

}  // namespace

class InternalErrorTest : public QObject {
  Q_OBJECT
 private slots:
  void AnExceptionInAnEventIsSaidAndTheWindowGoesOn() {
    ThreadDialogs dialogs;
    InternalErrorGuard guard(dialogs);
    Thrower thrower;
    QEvent failing(QEvent::User);
    // As the program's application delivers every event: through Qt's own delivery.
    QVERIFY(!guard.Run([&] { return qApp->QApplication::notify(&thrower, &failing); }));
    QCOMPARE(guard.count(), 1);
    QVERIFY(dialogs.messages.empty());  // never inside the delivery that failed
    QTRY_COMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].caption, QString("Внутренняя ошибка"));
    QVERIFY(dialogs.messages[0].warning);
    QVERIFY2(dialogs.messages[0].text.startsWith("Внутренняя ошибка программы: ") &&
                 dialogs.messages[0].text.contains("cannot convert") &&
                 dialogs.messages[0].text.contains("окно осталось открытым"),
             qPrintable(dialogs.messages[0].text));

    // One from a worker's loop (the registry's) is shown on the window thread.
    std::thread worker([&] { guard.Run([]() -> bool { throw 42; }); });
    worker.join();
    QTRY_COMPARE(dialogs.messages.size(), size_t(2));
    QVERIFY(dialogs.messages[1].text.contains("неизвестное исключение"));
    QCOMPARE(dialogs.threads[1], QThread::currentThread());
  }

  void ErrorsThatKeepComingEndTheProgramWithItsOwnStatus() {
    ScriptedDialogs dialogs;
    InternalErrorGuard guard(dialogs);
    for (int i = 0; i < InternalErrorGuard::kMaxErrors; ++i)
      guard.Run([]() -> bool { throw std::runtime_error("again"); });
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, [&] { loop.exit(-1); });
    QCOMPARE(loop.exec(), static_cast<int>(Status::InternalError));
    QCOMPARE(dialogs.messages.size(), size_t(1));  // no box after the last
  }
};

LOVAR_UI_TEST(InternalErrorTest)
#include "internal_error_test.moc"
