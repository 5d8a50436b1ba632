// The report directions page of model 251: telephone numbers, protocols, tests and periods,
// routing, listen-in and names, each edit's bytes in the image.
#include <QCheckBox>
#include <QComboBox>

#include "model/regions.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

using Bytes8 = std::vector<uint8_t>;

class DirectionsPageTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    // One read serves every test of this class: a model 251 read is long.
    session_ = std::make_unique<Session>();
    QVERIFY(ReadDemo(*session_, 251, SampleImage(251)));
    QVERIFY(ShowTab(*session_, "TabSheet6"));
  }
  void cleanupTestCase() { session_.reset(); }

  void TelephoneNumbers_data() {
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Bytes8>("bytes");
    QTest::addColumn<QString>("shown");
    const uint8_t F = 0xFF;
    QTest::newRow("plus and three digits")
        << false << "+987" << Bytes8{0x81, 0x89, 0xF7, F, F, F, F, F} << "  + 987";
    QTest::newRow("four digits without plus")
        << false << "9876" << Bytes8{0x91, 0x89, 0x67, F, F, F, F, F} << "9876";
    QTest::newRow("empty") << false << "" << Bytes8{0, F, F, F, F, F, F, F} << "";
    QTest::newRow("sixteen digits keep fourteen")
        << false << "1234567890123456" << Bytes8{0x91, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0x43}
        << "12345678901234";
    QTest::newRow("letters and blanks are dropped")
        << false << "+7 (916) abc" << Bytes8{0x81, 0x97, 0x61, F, F, F, F, F} << "  + 7916";
    QTest::newRow("pasted text keeps only its digits")
        << true << "+7-916-12" << Bytes8{0x81, 0x97, 0x61, 0x21, F, F, F, F} << "  + 791612";
  }
  void TelephoneNumbers() {
    QFETCH(bool, pasted);
    QFETCH(QString, text);
    QFETCH(Bytes8, bytes);
    QFETCH(QString, shown);
    Session& s = *session_;
    QLineEdit* phone = Directions(s).direction(3).phone;
    if (pasted) {
      Paste(phone, text);
      Leave(phone);
    } else {
      TypeAndLeave(phone, text);
    }
    QCOMPARE(Bytes(s.form1().Image(), directions::PhoneOffset(3), 8), bytes);
    s.form1().UpDate();
    QCOMPARE(phone->text(), shown);
  }

  void ProtocolAndTestKindsKeepTheOtherNibble() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    DirectionsPage& page = Directions(s);
    image[79] = 0x02;
    page.direction(0).protocol->setCurrentText("Речевое сообщение");
    QCOMPARE(int(image[79]), 0x32);
    s.form1().UpDate();
    QCOMPARE(page.direction(0).protocol->currentText(), QString("Речевое сообщение"));
    image[95] = 0x80;
    page.direction(4).test->setCurrentText("Телефонный вызов- период в минутах");
    QCOMPARE(int(image[95]), 0x84);
    // A typed text that is none of the entries stores 0.
    page.direction(4).test->setEditText("нет такого");
    QCOMPARE(int(image[95]), 0x80);
  }

  void RoutingListsArePickOnlyAndStoreTheirIndex() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QComboBox* shl4 = Directions(s).direction(2).routing[3];
    QVERIFY(!shl4->isEditable());
    image[86] = 0x01;
    shl4->setCurrentText("все");
    QCOMPARE(int(image[86]), 0x31);
    QComboBox* shl1 = Directions(s).direction(2).routing[0];
    shl1->setCurrentIndex(4);  // "все кроме "Сработка""
    QCOMPARE(int(image[85]) & 0x0F, 4);
  }

  void ValuesThatSelectNoEntryShowEmptyAndStay() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    image[81] = 0x05;  // direction 2: ШС1 routing 5
    image[83] = 0x08;  // test nibble with only bit 3, protocol nibble 0
    s.form1().UpDate();
    const DirectionsPage::Direction& d = Directions(s).direction(1);
    QCOMPARE(d.routing[0]->currentText(), QString());
    QCOMPARE(d.test->currentText(), QString());
    QCOMPARE(d.protocol->currentText(), QString());
    QCOMPARE(int(image[81]), 0x05);
    QCOMPARE(int(image[83]), 0x08);
  }

  void ListenInSetsBitZeroOnly() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    image[243] = 0xF0;
    QCheckBox* box = Directions(s).direction(1).listen;
    box->setChecked(true);
    Leave(box);
    QCOMPARE(int(image[243]), 0xF1);
  }

  void TestPeriodIsAByte() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* period = Directions(s).direction(1).period;
    TypeAndLeave(period, "300");
    QCOMPARE(int(image[84]), 44);
    QCOMPARE(period->text(), QString("44"));
    TypeAndLeave(period, "1x2");  // the letter is dropped
    QCOMPARE(int(image[84]), 12);
    Paste(period, "7x");
    Leave(period);
    QCOMPARE(int(image[84]), 12);
    QCOMPARE(s.dialogs.messages.back().text, QString("'7x' is not a valid integer value"));
  }

  void DirectionNames() {
    Session& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* name = Directions(s).direction(0).name;
    image.SetText(720, 8, "NEXTNAME");
    TypeAndLeave(name, "Пульт");
    QCOMPARE(image.Text(712, 8), std::string("Пульт"));
    QCOMPARE(int(image[717]), 0);
    Paste(name, "ABCDEFGHIJK");  // cut to the field's eight places
    Leave(name);
    QCOMPARE(name->text(), QString("ABCDEFGH"));
    QCOMPARE(Bytes(image, 712, 8), (Bytes8{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}));
    QCOMPARE(image.Text(720, 8), std::string("NEXTNAME"));
  }

 private:
  std::unique_ptr<Session> session_;
};

LOVAR_UI_TEST(DirectionsPageTest)
#include "pages_directions_test.moc"
