// The event filter and GPRS pages of model 251: the masks stored when the grid is left, the
// text fields and their limits, the masked IP address and the port.
#include "model/regions.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

using Bytes8 = std::vector<uint8_t>;

class FilterGprsPagesTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    // One read serves every test of this class: a model 251 read is long.
    session_ = std::make_unique<Session>();
    ConfigImage image = SampleImage(251);
    for (int d = 0; d < 5; ++d) {
      image[97 + 4 * d] = d == 0 ? 0xFF : 0;
      image[98 + 4 * d] = d == 0 ? 0xFF : 0;
      image[99 + 4 * d] = 0x5A;  // not the filter's
      image[100 + 4 * d] = 0xA5;
    }
    QVERIFY(ReadDemo(*session_, 251, image));
  }
  void cleanupTestCase() { session_.reset(); }

  void FilterMasksAreStoredWhenTheGridIsLeftAndOnlyThey() {
    Session& s = *session_;
    QVERIFY(ShowTab(s, "TabSheet7"));
    QTableWidget* g = Filter(s).ui().StringGridFiltr;
    for (int e = 1; e <= 16; ++e) QVERIFY(!CellText(g, e, 1).isEmpty());
    QCOMPARE(CellText(g, 1, 2), QString());
    const ConfigImage& image = s.form1().Image();
    QVERIFY(FocusOn(g));
    ClickCell(g, 4, 2);            // "Тревога", direction 2
    ClickCell(g, 11, 2);           // "Наряд"
    QCOMPARE(int(image[101]), 0);  // not before the grid is left
    QVERIFY(LeaveGrid(s));
    for (int d = 0; d < 5; ++d) {
      const Bytes8 masks = d == 0 ? Bytes8{0xFF, 0xFF} : d == 1 ? Bytes8{0x08, 0x04} : Bytes8{0, 0};
      QCOMPARE(Bytes(image, 97 + 4 * d, 2), masks);
      QCOMPARE(Bytes(image, 99 + 4 * d, 2), (Bytes8{0x5A, 0xA5}));
    }
  }

  // Typing stops one character short of the field; pasted text is cut to the field's width and
  // leaves the byte after it alone.
  void TextFieldLimits_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("stored");
    QTest::newRow("initialisation typed")
        << "EditInit" << false << QString(41, 'A') << 182 << 50 << QString(39, 'A');
    QTest::newRow("initialisation pasted")
        << "EditInit" << true << QString(55, 'Z') << 182 << 50 << QString(50, 'Z');
    QTest::newRow("user name typed")
        << "EditNameIP" << false << QString(25, 'n') << 162 << 20 << QString(19, 'n');
    QTest::newRow("password pasted") << "EditPasIP" << true << "abcdefghijklmnopqrstuvwxyz" << 142
                                     << 20 << "abcdefghijklmnopqrst";
  }
  void TextFieldLimits() {
    QFETCH(QString, edit);
    QFETCH(bool, pasted);
    QFETCH(QString, text);
    QFETCH(int, offset);
    QFETCH(int, width);
    QFETCH(QString, stored);
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* field = s.form1().findChild<QLineEdit*>(edit);
    QVERIFY(field != nullptr);
    image[offset + width] = 0x33;
    if (pasted) {
      Paste(field, text);
      Leave(field);
    } else {
      TypeAndLeave(field, text);
    }
    if (!pasted) QCOMPARE(field->text(), stored);
    QCOMPARE(image.Text(offset, width), stored.toStdString());
    if (stored.size() < width) QCOMPARE(int(image[offset + stored.size()]), 0);
    QCOMPARE(int(image[offset + width]), 0x33);
  }

  void MaskedIpAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<Bytes8>("octets");
    QTest::addColumn<QString>("shown");  // right-aligned in the mask
    QTest::newRow("blanks in the parts")
        << "192.168.  1. 10" << Bytes8{192, 168, 1, 10} << "192.168.  1. 10";
    QTest::newRow("left-aligned parts")
        << "10.0.2.200" << Bytes8{10, 0, 2, 200} << " 10.  0.  2.200";
    QTest::newRow("empty parts") << "   .   .   .   " << Bytes8{0, 0, 0, 0} << "  0.  0.  0.  0";
  }
  void MaskedIpAddress() {
    QFETCH(QString, text);
    QFETCH(Bytes8, octets);
    QFETCH(QString, shown);
    Session& s = *session_;
    QLineEdit* ip = Gprs(s).ui().EditIPPCO;
    ip->setText(text);
    Leave(ip);
    QCOMPARE(Bytes(s.form1().Image(), 122, 4), octets);
    s.form1().UpDate();
    QCOMPARE(ip->displayText(), shown);
  }

  void PortLowByteFirst() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* port = Gprs(s).ui().EditPortPCO;
    TypeAndLeave(port, "5000");
    QCOMPARE(Bytes(image, 130, 2), (Bytes8{0x88, 0x13}));
    image[130] = 7;
    TypeAndLeave(port, "80a");
    QCOMPARE(s.dialogs.messages.back().text, QString("'80a' is not a valid integer value"));
    QCOMPARE(Bytes(image, 130, 2), (Bytes8{7, 0x13}));
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
