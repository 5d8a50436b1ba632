// The event filter and GPRS pages of model 251: the masks stored when the grid is left, the
// text fields and their limits, the masked IP address and the port.
#include "model/catalog.h"
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
    session_ = std::make_unique<UiSession>();
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
    UiSession& s = *session_;
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

  // Typing and pasting stop at the field's width; the initialisation string is followed by its
  // zero byte even at 50 characters; the byte after what the editor may write stays.
  void TextFieldLimits_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("kept");  // the first byte the editor must leave alone
    QTest::newRow("initialisation typed")
        << "EditInit" << false << QString(55, 'A') << 182 << QString(50, 'A') << 233;
    QTest::newRow("initialisation pasted")
        << "EditInit" << true << QString(60, 'Z') << 182 << QString(50, 'Z') << 233;
    QTest::newRow("initialisation short")
        << "EditInit" << false << "AT+CSQ" << 182 << "AT+CSQ" << 189;
    QTest::newRow("user name typed")
        << "EditNameIP" << false << QString(25, 'n') << 162 << QString(20, 'n') << 182;
    QTest::newRow("password pasted") << "EditPasIP" << true << "abcdefghijklmnopqrstuvwxyz" << 142
                                     << "abcdefghijklmnopqrst" << 162;
  }
  void TextFieldLimits() {
    QFETCH(QString, edit);
    QFETCH(bool, pasted);
    QFETCH(QString, text);
    QFETCH(int, offset);
    QFETCH(QString, stored);
    QFETCH(int, kept);
    UiSession& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* field = s.form1().findChild<QLineEdit*>(edit);
    QVERIFY(field != nullptr);
    for (int i = offset; i <= kept; ++i) image[i] = 0x33;
    if (pasted) {
      Paste(field, text);
      Leave(field);
    } else {
      TypeAndLeave(field, text);
    }
    QCOMPARE(field->text(), stored);
    const int width = kept - offset;
    QCOMPARE(image.Text(offset, width), stored.toStdString());
    if (stored.size() < width) QCOMPARE(int(image[offset + stored.size()]), 0);
    QCOMPARE(int(image[kept]), 0x33);
  }

  // The address typed with real keys the ways installers type one.
  void AnAddressTypedTheUsualWaysIsStored_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("way");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Bytes8>("octets");
    QTest::newRow("Home over a longer address") << "192.168.1.10"
                                                << "home"
                                                << "10.0.0.1" << Bytes8{10, 0, 0, 1};
    QTest::newRow("Home over a shorter address") << "1.2.3.4"
                                                 << "home"
                                                 << "192.168.1.10" << Bytes8{192, 168, 1, 10};
    QTest::newRow("Home over zeros") << "0.0.0.0"
                                     << "home"
                                     << "10.0.0.1" << Bytes8{10, 0, 0, 1};
    QTest::newRow("Home with the keypad's comma") << "0.0.0.0"
                                                  << "home"
                                                  << "10,20,30,40" << Bytes8{10, 20, 30, 40};
    QTest::newRow("a full number moves on") << "0.0.0.0"
                                            << "home"
                                            << "192168001010" << Bytes8{192, 168, 1, 10};
    QTest::newRow("select all, then type") << "1.2.3.4"
                                           << "select all"
                                           << "172.16.0.5" << Bytes8{172, 16, 0, 5};
    QTest::newRow("letters are dropped") << "1.2.3.4"
                                         << "select all"
                                         << "1a.2b.3c.4d" << Bytes8{1, 2, 3, 4};
    QTest::newRow("paste") << "1.2.3.4"
                           << "paste"
                           << "8.8.4.4" << Bytes8{8, 8, 4, 4};
    QTest::newRow("paste of the fixed-width form") << "1.2.3.4"
                                                   << "paste"
                                                   << "192.168.  1. 10" << Bytes8{192, 168, 1, 10};
  }
  void AnAddressTypedTheUsualWaysIsStored() {
    QFETCH(QString, before);
    QFETCH(QString, way);
    QFETCH(QString, typed);
    QFETCH(Bytes8, octets);
    UiSession& s = *session_;
    QVERIFY(ShowTab(s, "TabSheet8"));
    ConfigImage& image = s.form1().Image();
    std::string why;
    QVERIFY(StoreFieldText(*FindFieldById(251, "gprs.ip"), image, before.toStdString(), why));
    s.form1().UpDate();
    QLineEdit* ip = Gprs(s).ui().EditIPPCO;
    QCOMPARE(ip->text(), before);
    s.dialogs.messages.clear();
    QVERIFY(FocusOn(ip));
    if (way == "home") {
      QTest::keyClick(ip, Qt::Key_Home);
      QTest::keyClicks(ip, typed);
    } else if (way == "select all") {
      QTest::keyClick(ip, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(ip, typed);
    } else {
      QGuiApplication::clipboard()->setText(typed);
      QTest::keyClick(ip, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClick(ip, Qt::Key_V, Qt::ControlModifier);
    }
    QVERIFY(FocusOn(Gprs(s).ui().EditPortPCO));
    QCOMPARE(Bytes(image, 122, 4), octets);
    QCOMPARE(ip->text(), QString::fromStdString(FieldText(*FindFieldById(251, "gprs.ip"), image)));
    QVERIFY(s.dialogs.messages.empty());
  }

  void TextThatIsNoAddressIsRefused_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("octet above 255") << "300.1.1.1";
    QTest::newRow("three numbers") << "10.0.1";
    QTest::newRow("empty number") << "10..0.1";
  }
  void TextThatIsNoAddressIsRefused() {
    QFETCH(QString, text);
    UiSession& s = *session_;
    QVERIFY(ShowTab(s, "TabSheet8"));
    ConfigImage& image = s.form1().Image();
    std::string why;
    QVERIFY(StoreFieldText(*FindFieldById(251, "gprs.ip"), image, "192.0.2.10", why));
    s.form1().UpDate();
    QLineEdit* ip = Gprs(s).ui().EditIPPCO;
    s.dialogs.messages.clear();
    QVERIFY(FocusOn(ip));
    QTest::keyClick(ip, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(ip, text);
    QVERIFY(FocusOn(Gprs(s).ui().EditPortPCO));
    QCOMPARE(Bytes(image, 122, 4), (Bytes8{192, 0, 2, 10}));
    QCOMPARE(ip->text(), text);  // left as typed, to be mended
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains("не IP адрес"));
    QVERIFY(s.dialogs.messages[0].text.contains("192.0.2.10"));
  }

  void PortLowByteFirst() {
    UiSession& s = *session_;
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
    UiSession& s = *session_;
    const ConfigImage before = s.form1().Image();
    Ui::GprsPage& u = Gprs(s).ui();
    TypeAndLeave(u.Edit14, "10.0.0.2");
    TypeAndLeave(u.Edit15, "8.8.8.8");
    TypeAndLeave(u.Edit16, "1.1.1.1");
    QVERIFY(s.form1().Image() == before);
  }

 private:
  std::unique_ptr<UiSession> session_;
};

LOVAR_UI_TEST(FilterGprsPagesTest)
#include "pages_filter_gprs_test.moc"
