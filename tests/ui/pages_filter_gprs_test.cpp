// The event filter and GPRS pages of model 251: the masks stored when the grid is left, the
// text fields and their limits, the masked IP address and the port.
#include "model/regions.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

class FilterGprsPagesTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    // One read serves every test of this class: a model 251 read is long.
    session_ = std::make_unique<Session>();
    ConfigImage image = SampleImage(251);
    for (int d = 0; d < 5; ++d) {
      image[97 + 4 * d] = 0;
      image[98 + 4 * d] = 0;
      image[99 + 4 * d] = 0x5A;  // not the filter's
      image[100 + 4 * d] = 0xA5;
    }
    image[97] = 0xFF;
    image[98] = 0xFF;
    QVERIFY(ReadDemo(*session_, 251, image));
  }
  void cleanupTestCase() { session_.reset(); }

  void FilterShowsTheMasksAndLeavingUnchangedRewritesThem() {
    Session& s = *session_;
    QVERIFY(ShowTab(s, "TabSheet7"));
    QTableWidget* g = Filter(s).ui().StringGridFiltr;
    QCOMPARE(CellText(g, 0, 1), QString("  1"));
    QCOMPARE(CellText(g, 0, 5), QString("  5"));
    QCOMPARE(CellText(g, 4, 0), QString("Тревога"));
    QCOMPARE(CellText(g, 16, 0), QString("Нарушение  резервного питания/ Сброс"));
    for (int e = 1; e <= 16; ++e) QCOMPARE(CellText(g, e, 1), QString("  + "));
    QCOMPARE(CellText(g, 1, 2), QString());
    QVERIFY(FocusOn(g));
    QVERIFY(LeaveGrid(s));
    const ConfigImage& image = s.form1().Image();
    for (int d = 0; d < 5; ++d) {
      QCOMPARE(int(image[97 + 4 * d]), d == 0 ? 0xFF : 0);
      QCOMPARE(int(image[98 + 4 * d]), d == 0 ? 0xFF : 0);
      QCOMPARE(int(image[99 + 4 * d]), 0x5A);
      QCOMPARE(int(image[100 + 4 * d]), 0xA5);
    }
  }

  void FilterClicksAreStoredWhenTheGridIsLeft() {
    Session& s = *session_;
    QVERIFY(ShowTab(s, "TabSheet7"));
    QTableWidget* g = Filter(s).ui().StringGridFiltr;
    QVERIFY(FocusOn(g));
    ClickCell(g, 4, 2);   // "Тревога", direction 2
    ClickCell(g, 11, 2);  // "Наряд"
    QCOMPARE(CellText(g, 4, 2), QString(" + "));
    QCOMPARE(int(s.form1().Image()[101]), 0);  // not before the grid is left
    QVERIFY(LeaveGrid(s));
    QCOMPARE(int(s.form1().Image()[101]), 0x08);
    QCOMPARE(int(s.form1().Image()[102]), 0x04);
    QVERIFY(FocusOn(g));
    ClickCell(g, 4, 2);  // unmarked again
    QVERIFY(LeaveGrid(s));
    QCOMPARE(int(s.form1().Image()[101]), 0);
  }

  void InitialisationStringStopsTypingAt39AndIsStoredUpTo50() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* init = Gprs(s).ui().EditInit;
    const QString typed = QString(39, 'A');
    TypeAndLeave(init, typed + "BC");
    QCOMPARE(init->text(), typed);
    QCOMPARE(int(image[221]), 0);
    s.form1().UpDate();
    QCOMPARE(init->text(), typed);
    // Pasted: cut to 50 written characters, nothing past them.
    image[232] = 0x33;
    Paste(init, QString(55, 'Z'));
    Leave(init);
    QCOMPARE(image.Text(182, 50), std::string(50, 'Z'));
    QCOMPARE(int(image[232]), 0x33);
  }

  void UserNameAndPasswordOfTwentyCharactersHaveNoTerminator() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    Ui::GprsPage& u = Gprs(s).ui();
    TypeAndLeave(u.EditNameIP, QString(25, 'n'));  // typing stops at 19
    QCOMPARE(image.Text(162, 20), std::string(19, 'n'));
    QCOMPARE(int(image[181]), 0);
    image[182] = 'X';  // the byte after the field must stay
    Paste(u.EditPasIP, "abcdefghijklmnopqrstuvwxyz");
    Leave(u.EditPasIP);
    QCOMPARE(u.EditPasIP->text(), QString("abcdefghijklmnopqrst"));
    QCOMPARE(image.Text(142, 20), std::string("abcdefghijklmnopqrst"));
    QCOMPARE(int(image[162]), int('n'));
    s.form1().UpDate();
    QCOMPARE(u.EditPasIP->text(), QString("abcdefghijklmnopqrst"));
  }

  void MaskedIpAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::vector<uint8_t>>("octets");
    QTest::newRow("blanks in the parts")
        << "192.168.  1. 10" << std::vector<uint8_t>{192, 168, 1, 10};
    QTest::newRow("above 255 modulo 256") << "300.  0.256. 1" << std::vector<uint8_t>{44, 0, 0, 1};
    QTest::newRow("empty parts") << "   .   .   .   " << std::vector<uint8_t>{0, 0, 0, 0};
  }
  void MaskedIpAddress() {
    QFETCH(QString, text);
    QFETCH(std::vector<uint8_t>, octets);
    Session& s = *session_;
    QLineEdit* ip = Gprs(s).ui().EditIPPCO;
    ip->setText(text);
    Leave(ip);
    QCOMPARE(Bytes(s.form1().Image(), 122, 4), octets);
  }

  void IpAddressIsShownRightAlignedInTheMask() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    image[122] = 10;
    image[123] = 0;
    image[124] = 2;
    image[125] = 200;
    s.form1().UpDate();
    QCOMPARE(Gprs(s).ui().EditIPPCO->displayText(), QString(" 10.  0.  2.200"));
  }

  void PortLowByteFirst() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* port = Gprs(s).ui().EditPortPCO;
    TypeAndLeave(port, "5000");
    QCOMPARE(Bytes(image, 130, 2), (std::vector<uint8_t>{0x88, 0x13}));
    s.form1().UpDate();
    QCOMPARE(port->text(), QString("5000"));  // shown as it was typed
    TypeAndLeave(port, "70000");              // the low 16 bits
    QCOMPARE(Bytes(image, 130, 2), (std::vector<uint8_t>{0x70, 0x11}));
    TypeAndLeave(port, "");
    QCOMPARE(Bytes(image, 130, 2), (std::vector<uint8_t>{0, 0}));
    image[130] = 7;
    TypeAndLeave(port, "80a");
    QCOMPARE(s.dialogs.messages.back().text, QString("'80a' is not a valid integer value"));
    QCOMPARE(Bytes(image, 130, 2), (std::vector<uint8_t>{7, 0}));
  }

  void NetworkEditsAreNotPartOfTheImage() {
    Session& s = *session_;
    const ConfigImage before = s.form1().Image();
    Ui::GprsPage& u = Gprs(s).ui();
    TypeAndLeave(u.Edit14, "10.0.0.2");
    TypeAndLeave(u.Edit15, "8.8.8.8");
    TypeAndLeave(u.Edit16, "1.1.1.1");
    QVERIFY(s.form1().Image() == before);
  }

 private:
  std::unique_ptr<Session> session_;
};

LOVAR_UI_TEST(FilterGprsPagesTest)
#include "pages_filter_gprs_test.moc"
