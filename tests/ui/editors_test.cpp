// The parameters page: display decoding and corrections, the editors, and the password gate.
#include <QTemporaryDir>

#include "files/config_file.h"
#include "harness.h"
#include "model/regions.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

namespace {
// A session whose model's demo device holds `image`, read and displayed.
bool ReadImage(Session& s, int model, const ConfigImage& image) {
  if (!s.Identify(model)) return false;
  s.demo(model).device().image() = image;
  return s.Start();
}
}  // namespace

class EditorsTest : public QObject {
  Q_OBJECT
 private slots:
  void DisplayCorrectsOutOfRangeBytesOfModel250() {
    Session s;
    ConfigImage image = SampleImage(250);
    image[100] = 9;  // loop type beyond the list
    image[118] = 7;  // output 1 mode beyond the list
    image[121] = 5;  // protocol
    image[140] = 0x40;
    image[141] = 0x09;
    QVERIFY(ReadImage(s, 250, image));
    Ui::ParametersPage& p = s.pui();
    QCOMPARE(int(s.form1().Image()[100]), 0);
    QCOMPARE(int(s.form1().Image()[118]), 0);
    QCOMPARE(p.ComboBoxTypeRele1->currentText(), QString("ПЦН"));
    QCOMPARE(p.LabelRele1->text(), QString("c"));
    QVERIFY(!p.EditTimeRele1->isHidden());
    QCOMPARE(p.ComboBoxType->currentText(), QString("Мирвал"));
    QCOMPARE(p.EditNumPlata->text(), QString("5"));
    QCOMPARE(p.EditNumNapr->text(), QString("2"));
  }

  void Model251BytesThatSelectNothingShowEmptyAndStay() {
    Session s;
    ConfigImage image = SampleImage(251);
    image[2] = 0x0F;
    image[3] = 0x82;
    QVERIFY(ReadImage(s, 251, image));
    QCOMPARE(s.pui().ComboBoxTypeShl1->currentText(), QString());
    QCOMPARE(int(s.form1().Image()[2]), 0x0F);
    QCOMPARE(s.pui().ComboBoxTypeShl2->currentText(), QString("Охранный"));
    QVERIFY(s.pui().CheckBoxAuto2->isChecked());
    // Changing the type keeps the re-arming bit.
    s.pui().ComboBoxTypeShl2->setCurrentIndex(4);  // "Тревожный"
    QCOMPARE(int(s.form1().Image()[3]), 0x84);
  }

  void AModel250DisplayAfterA251OneRestoresTheOutputModeLists() {
    Session s;
    QVERIFY(ReadImage(s, 251, SampleImage(251)));
    QCOMPARE(s.pui().ComboBoxTypeRele1->itemText(0), QString("Управление замком"));
    QVERIFY(ReadImage(s, 250, SampleImage(250)));
    QCOMPARE(s.pui().ComboBoxTypeRele1->count(), 5);
    QCOMPARE(s.pui().ComboBoxTypeRele1->itemText(0), QString("ПЦН"));
    QCOMPARE(s.pui().ComboBoxTypeRele2->itemText(4), QString("Включить на время при взятии"));
  }

  void NumberEditors() {
    Session s;
    QVERIFY(ReadImage(s, 250, SampleImage(250)));
    Ui::ParametersPage& p = s.pui();
    ConfigImage& img = s.form1().Image();
    TypeAndLeave(p.EditTimeOut2, "");
    QCOMPARE(p.EditTimeOut2->text(), QString("0"));
    QCOMPARE(int(img[109]), 0);
    // A letter is dropped but the progress bar still goes to 0.
    s.ui().ProgressBar1->setValue(100);
    QTest::keyClicks(p.EditTimeSound, "a");
    QCOMPARE(s.ui().ProgressBar1->value(), 0);
    QVERIFY(!p.EditTimeSound->text().contains('a'));
    // Pasted text that is no integer: the message, byte and text unchanged.
    const uint8_t before = img[117];
    p.EditTimeSound->setText("12x");
    Leave(p.EditTimeSound);
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QCOMPARE(s.dialogs.messages[0].text, QString("'12x' is not a valid integer value"));
    QCOMPARE(img[117], before);
    QCOMPARE(p.EditTimeSound->text(), QString("12x"));
    p.EditTimeSound->setText("99999999999");
    Leave(p.EditTimeSound);
    QCOMPARE(s.dialogs.messages.size(), size_t{2});
    // Board address and direction.
    img[141] = 0x4C;  // direction 19, address bits 00
    TypeAndLeave(p.EditNumPlata, "5");
    QCOMPARE(int(img[140]), 0x40);
    QCOMPARE(int(img[141]), 0x4D);
    TypeAndLeave(p.EditNumPlata, "16");
    QCOMPARE(p.EditNumPlata->text(), QString("0"));
    QCOMPARE(int(img[140]), 0);
    QCOMPARE(int(img[141]), 0x4C);
    TypeAndLeave(p.EditNumNapr, "20");
    QCOMPARE(p.EditNumNapr->text(), QString("0"));
    QCOMPARE(int(img[141]), 0x00);
  }

  void ComboEditorsOfModel250() {
    Session s;
    QVERIFY(ReadImage(s, 250, SampleImage(250)));
    Ui::ParametersPage& p = s.pui();
    ConfigImage& img = s.form1().Image();
    p.ComboBoxTypeShl2->setCurrentIndex(2);  // "Пожарный"
    QCOMPARE(int(img[101]), 2);
    QVERIFY(p.EditTimeIn2->isHidden() && p.EditTimeOut2->isHidden());
    p.ComboBoxTypeShl2->setCurrentIndex(0);
    QVERIFY(!p.EditTimeIn2->isHidden() && !p.EditTimeOut2->isHidden());
    p.ComboBoxTypeRele1->setCurrentIndex(2);  // "Сирена"
    QCOMPARE(p.LabelRele1->text(), QString("c"));
    QVERIFY(!p.EditTimeRele1->isHidden());
    p.ComboBoxTypeRele1->setCurrentIndex(4);
    QCOMPARE(p.LabelRele1->text(), QString("c/16"));
    p.ComboBoxTypeRele1->setCurrentIndex(1);  // "Лампа"
    QVERIFY(p.EditTimeRele1->isHidden());
    QCOMPARE(int(img[118]), 1);
    // The level combo takes no keys.
    p.ComboBoxLevel->setCurrentIndex(3);
    QTest::keyClick(p.ComboBoxLevel, Qt::Key_Down);
    QCOMPARE(p.ComboBoxLevel->currentIndex(), 3);
    QCOMPARE(int(img[122]), 3);
  }

  void CheckBoxesStoreTheirBitOnLeaving() {
    Session s;
    ConfigImage image = SampleImage(251);
    image[6] = 0xFF;
    QVERIFY(ReadImage(s, 251, image));
    s.pui().CheckBoxSir3->setChecked(false);
    QCOMPARE(int(s.form1().Image()[6]), 0xFF);  // not before leaving
    Leave(s.pui().CheckBoxSir3);
    QCOMPARE(int(s.form1().Image()[6]), 0xFB);
    s.pui().CheckSound1->setChecked(false);
    Leave(s.pui().CheckSound1);
    QCOMPARE(int(s.form1().Image()[6]), 0xEB);
    TypeAndLeave(s.pui().Edit6, "17");
    QCOMPARE(int(s.form1().Image()[7]), 0x11);
  }

  void TextFieldsKeepTheirLimitsAndCodePage() {
    Session s;
    QVERIFY(ReadImage(s, 251, SampleImage(251)));
    Ui::ParametersPage& p = s.pui();
    ConfigImage& img = s.form1().Image();
    p.EditNameShl1->clear();
    Type(p.EditNameShl1, "Подвал123");
    QCOMPARE(p.EditNameShl1->text(), QString("Подвал12"));
    QTest::keyClick(p.EditNameShl1, Qt::Key_Backspace);
    QCOMPARE(p.EditNameShl1->text(), QString("Подвал1"));
    Leave(p.EditNameShl1);
    const uint8_t expected[] = {0xCF, 0xEE, 0xE4, 0xE2, 0xE0, 0xEB, '1', 0};
    for (int i = 0; i < 8; ++i) QCOMPARE(int(img[512 + i]), int(expected[i]));
    // A four-character password over a five-character one.
    TypeAndLeave(p.EditPasw, "12345");
    TypeAndLeave(p.EditPasw, "9876");
    QCOMPARE(img.Text(16, 5), std::string("9876"));
    QCOMPARE(int(img[20]), 0);
  }

  void AValueStillInTheFocusedControlIsCommittedBeforeWriteAndSave() {
    Session s;
    QVERIFY(ReadImage(s, 250, SampleImage(250)));
    s.form1().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s.form1()));
    QLineEdit* edit = s.pui().EditTimeIn1;
    edit->setFocus();
    QVERIFY(WaitFor([&] { return QApplication::focusWidget() == edit; }, 5000));
    edit->setText("77");
    s.form1().ButtonWriteClick();  // from the keyboard: the focus has not moved
    QCOMPARE(int(s.form1().Image()[104]), 77);
    QVERIFY(s.WaitIdle());
    QCOMPARE(int(s.demo(250).device().image()[104]), 77);

    edit->setText("78");
    QTemporaryDir dir;
    s.dialogs.save_answer = dir.filePath("a.dat");
    s.form1().N3Click();
    ConfigImage loaded;
    QVERIFY(LoadConfigFile(dir.filePath("a.dat").toStdString(), 250, loaded).ok());
    QCOMPARE(int(loaded[104]), 78);
  }

  void SaveAndLoadRoundTrip() {
    Session s;
    QVERIFY(ReadImage(s, 251, SampleImage(251)));
    QTemporaryDir dir;
    s.form1().SetProgramFolder(dir.path());
    s.dialogs.save_answer = dir.filePath("LovarM.dat");
    s.form1().N3Click();
    QCOMPARE(s.dialogs.last_file_name, QString("LovarM.dat"));
    QCOMPARE(s.dialogs.last_folder, dir.filePath("LovarM"));
    QCOMPARE(QFileInfo(dir.filePath("LovarM.dat")).size(), qint64(2148));
    const ConfigImage saved = s.form1().Image();
    s.form1().Image()[10] = 99;
    s.form1().Image()[3600] = 0x5A;  // keys are not in a model-251 file
    s.dialogs.open_answer = dir.filePath("LovarM.dat");
    s.form1().N2Click();
    QVERIFY(s.dialogs.messages.empty());
    QCOMPARE(int(s.form1().Image()[10]), int(saved[10]));
    QCOMPARE(s.pui().EditTimeIn1->text(), QString::number(saved[10]));
    QCOMPARE(int(s.form1().Image()[3600]), 0x5A);
    QVERIFY(s.form1().windowTitle().startsWith("Программирование УО ЛОВАРТ "));
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Файл загружен"));
  }

  void AFileOfAnotherModelIsRefused() {
    Session s;
    QVERIFY(ReadImage(s, 250, SampleImage(250)));
    QTemporaryDir dir;
    QVERIFY(SaveConfigFile(dir.filePath("m.dat").toStdString(), 251, SampleImage(251)).ok());
    const ConfigImage before = s.form1().Image();
    s.dialogs.open_answer = dir.filePath("m.dat");
    s.form1().N2Click();
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QCOMPARE(s.dialogs.messages[0].caption, QString("Неверный тип УО"));
    QCOMPARE(s.dialogs.messages[0].text, QString("Ошибка"));
    QVERIFY(s.form1().Image() == before);
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Файл не принят"));
  }

  void PasswordGateOfModel250() {
    Session s;
    ConfigImage image = SampleImage(250);
    image[0] = 0x21;  // first code "1234"
    image[1] = 0x43;
    QVERIFY(ReadImage(s, 250, image));
    QVERIFY(!s.ui().PageControl1->isHidden());  // empty equals empty
    QCOMPARE(s.form1().StoredPassword(), QString("1234"));
    s.form1().ButtonReadClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().PageControl1->isHidden());
    QVERIFY(!s.ui().EditPassword->isHidden());
    QTest::keyClicks(s.ui().EditPassword, "123");
    QVERIFY(s.ui().PageControl1->isHidden());
    QTest::keyClicks(s.ui().EditPassword, "4");
    QVERIFY(!s.ui().PageControl1->isHidden());
    QVERIFY(s.ui().PanelPassword->isHidden());
    s.form1().ButtonReadClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(!s.ui().PageControl1->isHidden());  // the typed password stays and matches
  }

  void DeviceLineClickAsksFor40718OnModel251() {
    Session s;
    QVERIFY(s.Identify(251));
    s.form_key.ListBoxDeviceClick();
    QCOMPARE(s.form1().StoredPassword(), QString("40718"));
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().PageControl1->isHidden());
    QVERIFY(!s.ui().EditPassword->isHidden());
    // Focus into an edit that already holds the password shows the pages, panel stays.
    s.ui().EditPassword->blockSignals(true);
    s.ui().EditPassword->setText("40718");
    s.ui().EditPassword->blockSignals(false);
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(s.ui().EditPassword, &in);
    QVERIFY(!s.ui().PageControl1->isHidden());
    QVERIFY(!s.ui().PanelPassword->isHidden());
  }

  void Model252NeedsNoPassword() {
    Session s;
    QVERIFY(s.Identify(252));
    QVERIFY(s.ui().PanelPassword->isHidden());
    s.form_key.ListBoxDeviceClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(!s.ui().PageControl1->isHidden());
  }
};

LOVAR_UI_TEST(EditorsTest)
#include "editors_test.moc"
