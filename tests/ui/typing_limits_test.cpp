// Typing stopped at a field's limit is said where the installer looks, and a code too short is
// refused as soon as its cell is left, not only when the page is.
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

class TypingLimitsTest : public QObject {
  Q_OBJECT
 private slots:
  void TypingThatStopsAtALimitIsSaid_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<QString>("said");
    QTest::newRow("loop name") << 251 << "EditNameShl1"
                               << "ABCDEFGHIJKL"
                               << "ABCDEFGH"
                               << "ШС1: Имя: не больше 8 знаков";
    QTest::newRow("minus sign") << 250 << "EditTimeIn1"
                                << "-5"
                                << "5"
                                << "ШС1: Время в секундах, Выход: только цифры (число от 0 до 255";
    QTest::newRow("password") << 251 << "EditPasw"
                              << "1234567"
                              << "12345"
                              << "Пароль: не больше 5 знаков";
    QTest::newRow("telephone") << 251 << "EditPhone2"
                               << "8(495)"
                               << "8495"
                               << "Направление 2: Номер телефона: только цифры и «+»";
  }
  void TypingThatStopsAtALimitIsSaid() {
    QFETCH(int, model);
    QFETCH(QString, control);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    QFETCH(QString, said);
    UiSession s;
    QVERIFY(ReadDemo(s, model, SampleImage(model)));
    auto* edit = s.form1().findChild<QLineEdit*>(control);
    QVERIFY(edit != nullptr && ShowTabOf(s, edit) && FocusOn(edit));
    edit->clear();
    Type(edit, typed);
    QCOMPARE(edit->text(), kept);
    QVERIFY2(s.ui().StatusBar1->currentMessage().startsWith(said),
             qPrintable(s.ui().StatusBar1->currentMessage()));
  }

  // "123" in a user code: refused when the cell is left for the next one, the grid still
  // focused; the cell and the image keep the code.
  void AShortCodeIsRefusedAsItsCellIsLeft() {
    UiSession s;
    ConfigImage image = SampleImage(250);
    std::string why;
    QVERIFY(StoreFieldText(*FindFieldById(250, "code2.code"), image, "5678", why));
    QVERIFY(ReadDemo(s, 250, image, "TabSheet3"));
    QTableWidget* g = Codes(s).ui().StringGridCode;
    g->setFocus(Qt::OtherFocusReason);
    g->setCurrentCell(2, 1);
    g->editItem(g->item(2, 1));
    QVERIFY(WaitFor([&] { return OpenEditor(g) != nullptr; }, 5000));
    QLineEdit* editor = OpenEditor(g);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    Type(editor, "12345");  // a fifth digit: said
    QVERIFY(s.ui().StatusBar1->currentMessage().contains("Строка 2: Код: не больше 4 знаков"));
    QTest::keyClick(editor, Qt::Key_Backspace);
    QCOMPARE(editor->text(), QString("123"));
    g->setCurrentCell(3, 1);
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }, 5000));
    QVERIFY2(s.dialogs.messages[0].text.startsWith("Строка 2: Код: «123»: код — четыре цифры"),
             qPrintable(s.dialogs.messages[0].text));
    QVERIFY(grid::Inside(QApplication::focusWidget(), g));
    QCOMPARE(CellText(g, 2, 1), QString("5678"));
    QCOMPARE(Bytes(s.form1().Image(), 5, 2), (std::vector<uint8_t>{0x65, 0x87}));
  }
};

LOVAR_UI_TEST(TypingLimitsTest)
#include "typing_limits_test.moc"
