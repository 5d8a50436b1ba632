// The window says the core's line for each end, the one lovar-cli prints, and adds around it
// only what to do next.
#include <QTest>

#include "harness.h"
#include "session/end_texts.h"
#include "session_texts.h"
#include "utf8.h"

using namespace lovar;

class SessionTextsTest : public QObject {
  Q_OBJECT
 private slots:
  void TheWindowSaysTheCoresLineForEachEnd() {
    struct Case {
      Operation operation;
      EndCause cause;
      std::string line;
    };
    const Case cases[] = {
        {Operation::Identify, EndCause::NoAnswer, "Поиск прибора: Прибор не отвечает"},
        {Operation::Identify, EndCause::GaveUp, "Поиск прибора: прибор отвечает, но не на запросы"},
        {Operation::Identify, EndCause::LineLost, "Поиск прибора: Связь с портом потеряна"},
        {Operation::Read, EndCause::Declined, std::string(end_texts::kReadDeclined)},
        {Operation::Write, EndCause::NotWritable, end_texts::WriteNotWhole(72, 256)},
        {Operation::Write, EndCause::WrongModel, end_texts::WriteWrongModel("Ловар-Т")},
        {Operation::Write, EndCause::CheckErrors, end_texts::WriteCheckRefused("2 ошибки")},
        {Operation::Write, EndCause::Refused, end_texts::WriteArchiveRefused("диск полон")},
    };
    for (const Case& c : cases) {
      SessionEnd end{c.operation, c.cause, {Status::FileError, c.line}};
      end.reached = 72;
      end.length = 256;
      const Said said = c.operation == Operation::Identify ? IdentifyEndSaid(end)
                        : c.operation == Operation::Read   ? ReadEndSaid(end, {}, false)
                                                           : WriteEndSaid(end);
      QVERIFY2(said.text.startsWith(Sentence(Q(c.line))), qPrintable(said.text));
    }
  }

  // A save or a comparison refused says how much is held as a refused write does.
  void AnImageNotWholeIsWordedOnce() {
    const Said said = IncompleteSaid(0, 256, QStringLiteral("Сохранение невозможно"),
                                     QStringLiteral("Сохранить её нельзя."));
    QCOMPARE(said.caption, QStringLiteral("Сохранение невозможно"));
    QVERIFY(said.text.startsWith(Q(end_texts::NotWhole(0, 256)) + QStringLiteral(". ")));
  }
};

LOVAR_UI_TEST(SessionTextsTest)
#include "session_texts_test.moc"
