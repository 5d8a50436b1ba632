// The codes page of model 250: what the grid lets in (typed and pasted), rights, the installer's
// row, and device bytes it cannot show as digits. The digit packing is tested with the core.
#include "model/catalog.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

ConfigImage WithoutCodes() {
  ConfigImage image = SampleImage(250);
  for (int i = 0; i < 100; ++i) image[i] = 0;
  return image;
}

}  // namespace

class CodesPageTest : public QObject {
  Q_OBJECT
 private slots:
  void TypedCodesArePackedLowNibbleFirst_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("shown");
    QTest::newRow("four digits") << "1234" << 0x21 << 0x43 << "1234";
    QTest::newRow("a fifth digit is refused") << "98765" << 0x89 << 0x67 << "9876";
    QTest::newRow("letters are refused") << "1a2b3c4" << 0x21 << 0x43 << "1234";
  }
  void TypedCodesArePackedLowNibbleFirst() {
    QFETCH(QString, typed);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(QString, shown);
    UiSession s;
    QVERIFY(ReadDemo(s, 250, WithoutCodes(), "TabSheet3"));
    QTableWidget* g = Codes(s).ui().StringGridCode;
    TypeIntoCell(g, 2, 1, typed);
    QVERIFY(LeaveGrid(s));
    QCOMPARE(Bytes(s.form1().Image(), 5, 2),
             (std::vector<uint8_t>{uint8_t(first), uint8_t(second)}));
    s.form1().UpDate();
    QCOMPARE(CellText(g, 2, 1), shown);
  }

  void DuressCodeAndRightsOfARow() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, WithoutCodes(), "TabSheet3"));
    QTableWidget* g = Codes(s).ui().StringGridCode;
    TypeIntoCell(g, 3, 2, "5678");
    ClickCell(g, 3, 3);   // "Взятие" 1
    ClickCell(g, 3, 10);  // "Снятие" 4
    QVERIFY(LeaveGrid(s));
    QCOMPARE(Bytes(s.form1().Image(), 10, 5), (std::vector<uint8_t>{0, 0, 0x65, 0x87, 0x81}));
  }

  void TheInstallerRowHasNoDuressCode() {
    UiSession s;
    ConfigImage image = WithoutCodes();
    image[0] = 0x21;
    image[1] = 0x43;
    image[2] = 0x55;  // a duress code where the device keeps none
    image[3] = 0x55;
    QVERIFY(ReadDemo(s, 250, image, "TabSheet3"));
    QTableWidget* g = Codes(s).ui().StringGridCode;
    QCOMPARE(Codes(s).FirstUserCode().value(), QString("1234"));
    QVERIFY(!(g->item(1, 2)->flags() & Qt::ItemIsEditable));
    QVERIFY(FocusOn(g));
    QVERIFY(LeaveGrid(s));
    QCOMPARE(Bytes(s.form1().Image(), 0, 4), (std::vector<uint8_t>{0x21, 0x43, 0, 0}));
  }

  void PastedTextThatIsNotDigitsIsRefusedAndTheCellKeepsItsCode() {
    UiSession s;
    ConfigImage image = WithoutCodes();
    std::string why;
    QVERIFY(StoreFieldText(*FindFieldById(250, "code2.code"), image, "5678", why));
    QVERIFY(ReadDemo(s, 250, image, "TabSheet3"));
    QTableWidget* g = Codes(s).ui().StringGridCode;
    QVERIFY(PasteIntoCell(g, 2, 1, "12a4") != nullptr);
    QVERIFY(LeaveGrid(s));
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }, 5000));
    QVERIFY(s.dialogs.messages[0].text.contains("12a4"));
    QVERIFY(s.dialogs.messages[0].warning);
    QCOMPARE(CellText(g, 2, 1), QString("5678"));
    QCOMPARE(Bytes(s.form1().Image(), 5, 2), (std::vector<uint8_t>{0x65, 0x87}));
    // Pasted digits go in, cut to the cell's four places.
    s.dialogs.messages.clear();
    QVERIFY(PasteIntoCell(g, 2, 1, "24681") != nullptr);
    QVERIFY(LeaveGrid(s));
    QCOMPARE(CellText(g, 2, 1), QString("2468"));
    QCOMPARE(int(s.form1().Image()[5]), 0x42);
    QVERIFY(s.dialogs.messages.empty());
    // Three digits are no code: refused and said, never stored as no code.
    QVERIFY(PasteIntoCell(g, 2, 1, "135") != nullptr);
    QVERIFY(LeaveGrid(s));
    QVERIFY(WaitFor([&] { return !s.dialogs.messages.empty(); }, 5000));
    QVERIFY(s.dialogs.messages[0].text.startsWith(
        "Строка 2: Код: «135»: код — четыре цифры, или пусто."));
    QCOMPARE(CellText(g, 2, 1), QString("2468"));
    QCOMPARE(int(s.form1().Image()[5]), 0x42);
  }

  void NibblesAboveNineFromADeviceSurviveACommit() {
    UiSession s;
    ConfigImage image = WithoutCodes();
    image[5] = 0xA1;  // digits 1, ':' (10), ...
    image[6] = 0xF3;
    QVERIFY(ReadDemo(s, 250, image, "TabSheet3"));
    QTableWidget* g = Codes(s).ui().StringGridCode;
    QCOMPARE(CellText(g, 2, 1), QString("1:3?"));
    QVERIFY(FocusOn(g));
    QVERIFY(LeaveGrid(s));
    QCOMPARE(Bytes(s.form1().Image(), 5, 2), (std::vector<uint8_t>{0xA1, 0xF3}));
    // Opening the cell's editor and closing it unchanged is no paste of non-digits.
    image[5] = 0xFF;
    image[6] = 0xFF;
    s.form1().Image() = image;
    s.form1().UpDate();
    QCOMPARE(CellText(g, 2, 1), QString("????"));
    g->setFocus(Qt::OtherFocusReason);
    g->setCurrentCell(2, 1);
    g->editItem(g->item(2, 1));
    QVERIFY(WaitFor([&] { return OpenEditor(g) != nullptr; }, 5000));
    QVERIFY(LeaveGrid(s));
    QCoreApplication::processEvents();  // a refusal is said once the editor has closed
    QVERIFY(s.dialogs.messages.empty());
    QCOMPARE(Bytes(s.form1().Image(), 5, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
  }
};

LOVAR_UI_TEST(CodesPageTest)
#include "pages_codes_test.moc"
