// The "Проверка" panel and the question before a write with errors, driven through their
// controls.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "check_panel.h"
#include "harness.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// What the window will hand the panel: the findings over a model 251 image whose loop ШС2
// nobody receives and whose entry loop has no entry delay.
std::vector<Finding> Findings() {
  ConfigImage image = SampleImage(251);
  std::string why;
  for (const char* id : {"direction1.loop2", "direction2.loop2"})
    StoreFieldText(*FindFieldById(251, id), image, "не передавать", why);
  StoreFieldText(*FindFieldById(251, "entry_time"), image, "0", why);
  CheckInput in;
  in.model = 251;
  in.image = &image;
  in.extent = ImageLength(251);
  return CheckConfiguration(in);
}

Finding Error(int n) {
  Finding f;
  f.rule = "loop-not-reported";
  f.severity = Severity::Error;
  f.text = "ошибка " + std::to_string(n);
  return f;
}

}  // namespace

class CheckPanelTest : public QObject {
  Q_OBJECT
 private slots:
  void AClickOnAFindingAsksForItsField() {
    CheckPanel panel;
    panel.resize(600, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QSignalSpy chosen(&panel, &CheckPanel::FieldChosen);
    panel.SetFindings(Findings());
    QCOMPARE(panel.summary()->text(), QStringLiteral("Проверка: 1 ошибка, 1 предупреждение"));
    QListWidget* list = panel.list();
    QCOMPARE(list->count(), 2);
    QVERIFY(list->item(0)->text().startsWith(QStringLiteral("ошибка: ШС2 «Склад» используется")));
    QVERIFY(list->item(0)->text().contains(QStringLiteral("\nКак исправить: ")));
    QVERIFY(
        list->item(1)->text().startsWith(QStringLiteral("предупреждение: ШС2 «Склад» — входной")));
    QVERIFY(list->item(0)->icon().cacheKey() != list->item(1)->icon().cacheKey());

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    QVERIFY(!chosen.isEmpty());
    QCOMPARE(chosen.last().at(0).toString(), QStringLiteral("entry_time"));
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(chosen.last().at(0).toString(), QStringLiteral("direction1.loop2"));

    panel.SetFindings({});
    QCOMPARE(list->count(), 0);
    QCOMPARE(panel.summary()->text(), QStringLiteral("Проверка: замечаний нет"));
  }

  void TheQuestionListsTheErrorsAndEnterGoesBack() {
    const QString text = WriteDespiteErrorsText(Findings());
    QVERIFY(text.startsWith(QStringLiteral("Проверка нашла ошибки (1)")));
    QVERIFY(text.contains(QStringLiteral("• ШС2 «Склад» используется")));
    QVERIFY(!text.contains(QStringLiteral("входной")));  // a warning is not asked about
    std::vector<Finding> many;
    for (int n = 1; n <= kListedErrors + 3; ++n) many.push_back(Error(n));
    const QString long_text = WriteDespiteErrorsText(many);
    QVERIFY(long_text.contains(QStringLiteral("• ошибка %1\n").arg(kListedErrors)));
    QVERIFY(!long_text.contains(QStringLiteral("• ошибка %1").arg(kListedErrors + 1)));
    QVERIFY(long_text.contains(QStringLiteral("…и ещё 3")));

    // Enter on the box as it comes up: "Вернуться", no write.
    QString buttons;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      for (QAbstractButton* b : box->buttons()) buttons += b->text() + QLatin1Char('|');
      QCOMPARE(box->defaultButton()->text(), QStringLiteral("Вернуться"));
      QTest::keyClick(box, Qt::Key_Return);
    });
    QVERIFY(!AskWriteDespiteErrors(many));
    QVERIFY(buttons.contains(QStringLiteral("Записать всё равно|")));
    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      QTest::keyClick(box, Qt::Key_Escape);
    });
    QVERIFY(!AskWriteDespiteErrors(many));
    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      for (QAbstractButton* b : box->buttons())
        if (b->text() == QStringLiteral("Записать всё равно")) b->click();
    });
    QVERIFY(AskWriteDespiteErrors(many));
  }
};

LOVAR_UI_TEST(CheckPanelTest)
#include "check_panel_test.moc"
