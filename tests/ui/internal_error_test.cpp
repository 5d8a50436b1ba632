// An exception that nothing of the window's caught: said in a box on the window thread, once per
// error, the window going on; errors that keep coming end the program with its own status.
#include <filesystem>
#include <thread>

#include "harness.h"
#include "internal_error.h"
#include "session/outcome.h"

using namespace lovar;

namespace {

// A handler that throws what a Cyrillic path in the ANSI code page made the window throw.
class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    throw std::filesystem::filesystem_error("cannot convert",
                                            std::make_error_code(std::errc::illegal_byte_sequence));
  }
};

}  // namespace

class InternalErrorTest : public QObject {
  Q_OBJECT
 private slots:
  void AnExceptionIsSaidOnTheWindowThreadAndTheWindowGoesOn() {
    testing::ScriptedDialogs dialogs;
    std::vector<int> ended;
    InternalErrorGuard guard(dialogs, [&](int status) { ended.push_back(status); });
    // Through Qt's own delivery, as the program's application delivers every event.
    Thrower thrower;
    QEvent failing(QEvent::User);
    QVERIFY(!guard.Run([&] { return qApp->QApplication::notify(&thrower, &failing); }));
    QVERIFY(dialogs.messages.empty());  // never inside the delivery that failed
    QTRY_COMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].caption, QString("Внутренняя ошибка"));
    QVERIFY2(dialogs.messages[0].text.startsWith("Внутренняя ошибка программы: ") &&
                 dialogs.messages[0].text.contains("cannot convert") &&
                 dialogs.messages[0].text.contains("окно осталось открытым"),
             qPrintable(dialogs.messages[0].text));
    // From a worker's loop (the registry's): shown on the window thread all the same.
    std::thread([&] { guard.Run([]() -> bool { throw 42; }); }).join();
    QTRY_COMPARE(dialogs.messages.size(), size_t(2));
    QVERIFY(dialogs.messages[1].text.contains("неизвестное исключение"));
    QVERIFY(ended.empty());

    // Errors that keep coming end the program, with its own status, after one more box.
    for (int i = 2; i < InternalErrorGuard::kMaxErrors + 2; ++i)
      guard.Run([]() -> bool { throw std::runtime_error("again"); });
    QTRY_COMPARE(ended, std::vector<int>{int(Status::InternalError)});
    QTest::qWait(50);
    QCOMPARE(dialogs.messages.size(), size_t(3));
  }
};

LOVAR_UI_TEST(InternalErrorTest)
#include "internal_error_test.moc"
