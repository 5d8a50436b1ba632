// The report directions page of model 251: each editor's store and display, and what it lets in.
// The encodings themselves are tested with the core.
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
    session_ = std::make_unique<UiSession>();
    QVERIFY(ReadDemo(*session_, 251, SampleImage(251)));
    QVERIFY(ShowTab(*session_, "TabSheet6"));
  }
  void cleanupTestCase() { session_.reset(); }

  // The encoding is the core's; the page stores typed and pasted numbers and shows them back.
  void TelephoneNumbers() {
    UiSession& s = *session_;
    QLineEdit* phone = Directions(s).direction(3).phone;
    TypeAndLeave(phone, "+9a87");
    QCOMPARE(Bytes(s.form1().Image(), directions::PhoneOffset(3), 3), (Bytes8{0x81, 0x89, 0xF7}));
    s.form1().UpDate();
    QCOMPARE(phone->text(), QString("  + 987"));
    Paste(phone, "+7-916-12");
    Leave(phone);
    QCOMPARE(Bytes(s.form1().Image(), directions::PhoneOffset(3), 5),
             (Bytes8{0x81, 0x97, 0x61, 0x21, 0xFF}));
    QCOMPARE(phone->text(), QString("  + 791612"));  // as stored
    // More digits than a number holds: refused, not cut; the number stays.
    s.dialogs.messages.clear();
    Paste(phone, "1234567890123456");
    Leave(phone);
    QCOMPARE(phone->text(), QString("  + 791612"));
    QCOMPARE(Bytes(s.form1().Image(), directions::PhoneOffset(3), 5),
             (Bytes8{0x81, 0x97, 0x61, 0x21, 0xFF}));
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains("от 1 до 14 цифр"));
    // Cleared: the bytes the editor has always stored for no number.
    TypeAndLeave(phone, "");
    QCOMPARE(Bytes(s.form1().Image(), directions::PhoneOffset(3), 8),
             (Bytes8{0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  }

  // Protocol and test kind share a byte (their nibbles are the core's); listen-in is bit 0.
  void EditsKeepTheOtherBitsOfTheirByte() {
    UiSession& s = *session_;
    ConfigImage& image = s.form1().Image();
    DirectionsPage& page = Directions(s);
    image[95] = 0x80;
    image[243] = 0xF0;
    page.direction(4).test->setCurrentText("Телефонный вызов- период в минутах");
    QCOMPARE(int(image[95]), 0x84);
    page.direction(4).test->setEditText("нет такого");  // none of the entries: nothing stored
    QCOMPARE(int(image[95]), 0x84);
    page.direction(4).protocol->setEditText("ОФМ");  // typed with a Cyrillic М: the entry "ОФM"
    QCOMPARE(int(image[95]), 0x24);
    QVERIFY(!page.direction(2).routing[3]->isEditable());
    page.direction(1).listen->setChecked(true);
    Leave(page.direction(1).listen);
    QCOMPARE(int(image[243]), 0xF1);
  }

  void ValuesThatSelectNoEntryShowEmptyAndStay() {
    UiSession& s = *session_;
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

  void TestPeriodIsAByte() {
    UiSession& s = *session_;
    ConfigImage& image = s.form1().Image();
    QLineEdit* period = Directions(s).direction(1).period;
    const uint8_t before = image[84];
    s.dialogs.messages.clear();
    TypeAndLeave(period, "300");  // refused, the unit named: hours or minutes by the test kind
    QCOMPARE(image[84], before);
    QCOMPARE(period->text(), QString::number(before));
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains(
        "Направление 2: Тест, Период: «300» не принято: нужно число от 0 до 255 (часы или "
        "минуты, по виду теста)"));
    QCOMPARE(period->toolTip(), QString("Число от 0 до 255 (часы или минуты, по виду теста)"));
    TypeAndLeave(period, "1x2");  // the letter is dropped
    QCOMPARE(int(image[84]), 12);
    Paste(period, "7x");
    Leave(period);
    QCOMPARE(int(image[84]), 12);
    QCOMPARE(s.dialogs.messages.back().text, QString("'7x' is not a valid integer value"));
  }

  void DirectionNames() {
    UiSession& s = *session_;
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
  std::unique_ptr<UiSession> session_;
};

LOVAR_UI_TEST(DirectionsPageTest)
#include "pages_directions_test.moc"
