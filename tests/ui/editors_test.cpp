// The parameters page: display decoding and corrections, the editors, files, and the password
// gate.
#include <QComboBox>
#include <QTemporaryDir>

#include "files/config_file.h"
#include "model/regions.h"
#include "number_editors.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

class EditorsTest : public QObject {
  Q_OBJECT
 private slots:
  // Model 252 hides loops 3 and 4 and output 2, but its display puts their bytes right too.
  void DisplayCorrectsOutOfRangeBytesOfModels250And252_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("250") << 250;
    QTest::newRow("252") << 252;
  }
  void DisplayCorrectsOutOfRangeBytesOfModels250And252() {
    QFETCH(int, model);
    UiSession s;
    ConfigImage image = SampleImage(model);
    image[100] = 9;  // loop types beyond the list
    image[103] = 4;
    image[102] = 3;  // "Охранный актив.", in the list
    image[118] = 7;  // output modes beyond the list
    image[119] = 5;
    image[121] = 5;  // any protocol but 0
    QVERIFY(ReadDemo(s, model, image));
    Ui::ParametersPage& p = s.pui();
    const ConfigImage& shown = s.form1().Image();
    QCOMPARE(Bytes(shown, 100, 4), (std::vector<uint8_t>{0, image[101], 3, 0}));
    QCOMPARE(Bytes(shown, 118, 4), (std::vector<uint8_t>{0, 0, image[120], 5}));
    QCOMPARE(p.ComboBoxTypeRele1->currentIndex(), 0);
    QCOMPARE(p.ComboBoxType->currentText(), QString("Мирвал"));
  }

  // The board address editor writes the bits below the address as 0 and keeps the direction; the
  // direction editor keeps the address; a value beyond the editor's limit is refused and the
  // field keeps its value.
  void BoardAddressAndDirectionEditorsKeepTheirRules_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("b140");
    QTest::addColumn<int>("b141");
    QTest::addColumn<int>("after140");
    QTest::addColumn<int>("after141");
    QTest::addColumn<QString>("shown");
    QTest::newRow("address 5") << "EditNumPlata"
                               << "5" << 0x3F << 0xFE << 0x40 << 0xFD << "5";
    QTest::newRow("address 16") << "EditNumPlata"
                                << "16" << 0xC0 << 0x4F << 0xC0 << 0x4F << "15";
    QTest::newRow("direction 20") << "EditNumNapr"
                                  << "20" << 0xC0 << 0x4F << 0xC0 << 0x4F << "19";
    QTest::newRow("direction 19") << "EditNumNapr"
                                  << "19" << 0xFF << 0x03 << 0xFF << 0x4F << "19";
  }
  void BoardAddressAndDirectionEditorsKeepTheirRules() {
    QFETCH(QString, edit);
    QFETCH(QString, typed);
    QFETCH(int, b140);
    QFETCH(int, b141);
    QFETCH(int, after140);
    QFETCH(int, after141);
    QFETCH(QString, shown);
    UiSession s;
    ConfigImage image = SampleImage(250);
    image[140] = static_cast<uint8_t>(b140);
    image[141] = static_cast<uint8_t>(b141);
    QVERIFY(ReadDemo(s, 250, image));
    auto* e = s.form1().findChild<QLineEdit*>(edit);
    TypeAndLeave(e, typed);
    QCOMPARE(
        Bytes(s.form1().Image(), 140, 2),
        (std::vector<uint8_t>{static_cast<uint8_t>(after140), static_cast<uint8_t>(after141)}));
    QCOMPARE(e->text(), shown);
  }

  void Model251BytesThatSelectNothingShowEmptyAndStay() {
    UiSession s;
    ConfigImage image = SampleImage(251);
    image[2] = 0x0F;
    image[3] = 0x82;
    QVERIFY(ReadDemo(s, 251, image));
    QCOMPARE(s.pui().ComboBoxTypeShl1->currentText(), QString());
    QCOMPARE(int(s.form1().Image()[2]), 0x0F);
    s.pui().ComboBoxTypeShl2->setCurrentIndex(4);  // the type changes, the re-arming bit stays
    QCOMPARE(int(s.form1().Image()[3]), 0x84);
  }

  void AModel250DisplayAfterA251OneRestoresTheOutputModeLists() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    QCOMPARE(s.pui().ComboBoxTypeRele1->itemText(0), QString("Управление замком"));
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QCOMPARE(s.pui().ComboBoxTypeRele1->count(), 5);
    QCOMPARE(s.pui().ComboBoxTypeRele1->itemText(0), QString("ПЦН"));
    QCOMPARE(s.pui().ComboBoxTypeRele2->itemText(0), QString("ПЦН"));
  }

  void Model250EditorsRefuseWhatTheyCannotStore() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    Ui::ParametersPage& p = s.pui();
    ConfigImage& img = s.form1().Image();
    // Out of its range: refused with the field, the range and the unit named; the field keeps
    // its value and the box shows it.
    const uint8_t delay = img[104];
    TypeAndLeave(p.EditTimeIn1, "300");
    QCOMPARE(img[104], delay);
    QCOMPARE(p.EditTimeIn1->text(), QString::number(delay));
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QCOMPARE(s.dialogs.messages[0].text,
             QString("ШС1: Время в секундах, Выход: «300» не принято: нужно число от 0 до 255 "
                     "(секунды). В поле осталось прежнее значение: «%1».")
                 .arg(delay));
    s.dialogs.messages.clear();
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
    for (const QString text : {"12x", "99999999999"}) {
      s.dialogs.messages.clear();
      Paste(p.EditTimeSound, text);
      Leave(p.EditTimeSound);
      QCOMPARE(s.dialogs.messages.size(), size_t{1});
      QCOMPARE(s.dialogs.messages[0].text, QString("'%1' is not a valid integer value").arg(text));
      QCOMPARE(img[117], before);
      QCOMPARE(p.EditTimeSound->text(), text);
    }
    // A board address out of range is refused like any number (the word's packing is the
    // core's).
    img[140] = 0x40;
    img[141] = 0x4D;  // direction 19, address 5
    s.dialogs.messages.clear();
    TypeAndLeave(p.EditNumPlata, "16");
    QCOMPARE(Bytes(img, 140, 2), (std::vector<uint8_t>{0x40, 0x4D}));
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QVERIFY(s.dialogs.messages[0].text.contains("от 0 до 15"));
    // The level combo takes no keys.
    p.ComboBoxLevel->setCurrentIndex(3);
    QTest::keyClick(p.ComboBoxLevel, Qt::Key_Down);
    QCOMPARE(p.ComboBoxLevel->currentIndex(), 3);
    QCOMPARE(int(img[122]), 3);
  }

  // Every number the window takes names its range and unit in its tooltip, for each model's
  // binding of the shared edits.
  void NumberToolTipsNameTheRangeAndUnit() {
    UiSession s;
    for (int model : {250, 251, 252}) {
      QVERIFY(ReadDemo(s, model, SampleImage(model)));
      int numbers = 0;
      for (QLineEdit* e : s.form1().findChildren<QLineEdit*>()) {
        const Field* f = ControlField(model, e);
        if (f == nullptr || f->kind != FieldKind::Number || e->isReadOnly()) continue;
        ++numbers;
        QVERIFY2(e->toolTip().startsWith("Число от 0 до "), qPrintable(e->objectName()));
      }
      QVERIFY(numbers >= 8);
    }
    QCOMPARE(s.pui().EditTimeSir->toolTip(), QString());  // model 251's only
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    QCOMPARE(s.pui().EditTimeSir->toolTip(), QString("Число от 0 до 255 (секунды)"));
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QCOMPARE(s.pui().EditNumPlata->toolTip(), QString("Число от 0 до 15"));
    QCOMPARE(s.pui().EditTimeIn1->toolTip(), QString("Число от 0 до 255 (секунды)"));
  }

  // A character the device's code page lacks is refused, not stored as "?".
  void TextTheDeviceCannotHoldIsRefused() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    QLineEdit* name = s.pui().EditNameShl1;
    const std::vector<uint8_t> before = Bytes(s.form1().Image(), 512, 8);
    Paste(name, QString::fromUtf8("Двер\u263A"));
    Leave(name);
    QCOMPARE(Bytes(s.form1().Image(), 512, 8), before);
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QVERIFY(s.dialogs.messages[0].text.startsWith(QString::fromUtf8(
        "ШС1: Имя: «Двер\u263A» не принято: знак «\u263A» не входит в кодировку")));
    QCOMPARE(name->text(), QString("Дверь"));
  }

  // Ctrl+A, C, X, Z and V reach every edit past its key filter.
  void ShortcutsWorkInEveryEdit_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("pasted");
    QTest::newRow("number") << "EditTimeSound"
                            << "42";
    QTest::newRow("loop name") << "EditNameShl1"
                               << "Склад";
    QTest::newRow("telephone") << "EditPhone2"
                               << "+79990001122";
    QTest::newRow("test period") << "EditTimeTest3"
                                 << "12";
    QTest::newRow("station address") << "EditIPPCO"
                                     << "10.1.2.3";
    QTest::newRow("GPRS user name") << "EditNameIP"
                                    << "user";
  }
  void ShortcutsWorkInEveryEdit() {
    QFETCH(QString, edit);
    QFETCH(QString, pasted);
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    auto* e = s.form1().findChild<QLineEdit*>(edit);
    QVERIFY(e != nullptr && ShowTabOf(s, e) && FocusOn(e));
    const QString original = e->text();
    QVERIFY(!original.isEmpty());
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(e->selectedText(), original);
    QTest::keyClick(e, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), original);
    QTest::keyClick(e, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(e->text(), QString());
    QTest::keyClick(e, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(e->text(), original);
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(e, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(e->text(), pasted);
  }

  // Ctrl+A and "200" over "30" replaces it, instead of making it "30200" (refused then).
  void SelectAllThenTypingReplacesANumber() {
    UiSession s;
    ConfigImage image = SampleImage(250);
    image[104] = 30;
    QVERIFY(ReadDemo(s, 250, image, "TabSheet1"));
    QLineEdit* edit = s.pui().EditTimeIn1;
    QVERIFY(FocusOn(edit));
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, "200");
    QVERIFY(FocusOn(s.pui().EditTimeOut1));
    QCOMPARE(int(s.form1().Image()[104]), 200);
    QCOMPARE(edit->text(), QString("200"));
  }

  // A typed text is taken only on leaving the box: one that names no entry is refused with the
  // field and the entries named, the field and the box keep the previous entry (a 251's ШС2
  // "Вход" + "xyz" once became "Резерв"); an entry typed in any case, or as the window shows
  // it, is stored.
  void TypedTextThatNamesNoEntryIsRefused_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("after");
    QTest::newRow("loop type") << 250 << "ComboBoxTypeShl2" << 101 << 2 << "тревожный" << 1;
    QTest::newRow("protocol") << 250 << "ComboBoxType" << 121 << 1 << "тирон3" << 0;
    QTest::newRow("output mode") << 250 << "ComboBoxTypeRele2" << 119 << 1 << "пцн" << 0;
    QTest::newRow("251 loop type, re-arming kept")
        << 251 << "ComboBoxTypeShl2" << 3 << 0x81 << "ТРЕВОЖНЫЙ" << 0x84;
    QTest::newRow("251 output mode") << 251 << "ComboBoxTypeRele2" << 1 << 3 << "лампа" << 2;
    QTest::newRow("direction protocol") << 251 << "ComboBoxTR2" << 83 << 0x11 << "ОФМ" << 0x21;
    QTest::newRow("direction test")
        << 251 << "ComboBoxTest1" << 79 << 0x31 << "НЕ передавать тест" << 0x30;
  }
  void TypedTextThatNamesNoEntryIsRefused() {
    QFETCH(int, model);
    QFETCH(QString, combo);
    QFETCH(int, offset);
    QFETCH(int, before);
    QFETCH(QString, entry);
    QFETCH(int, after);
    UiSession s;
    ConfigImage image = SampleImage(model);
    image[offset] = static_cast<uint8_t>(before);
    QVERIFY(ReadDemo(s, model, image));
    auto* box = s.form1().findChild<QComboBox*>(combo);
    QVERIFY(box != nullptr && ShowTabOf(s, box) && FocusOn(box));
    const QString shown = box->currentText();
    QTest::keyClick(box, Qt::Key_End);
    QTest::keyClicks(box, "xyz");
    QCOMPARE(int(s.form1().Image()[offset]), before);  // nothing stored while typing
    QVERIFY(FocusOn(s.ui().PageControl1->tabBar()));
    QCOMPARE(int(s.form1().Image()[offset]), before);
    QCOMPARE(box->currentText(), shown);
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    const QString said = s.dialogs.messages[0].text;
    QVERIFY2(said.contains(shown + "xyz") && said.contains(box->itemText(1)) &&
                 said.contains(QString("прежнее значение: «%1»").arg(shown)),
             qPrintable(said));

    QVERIFY(FocusOn(box));
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    Type(box, entry);
    QVERIFY(FocusOn(s.ui().PageControl1->tabBar()));
    QCOMPARE(int(s.form1().Image()[offset]), after);
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
  }

  void CheckBoxesStoreTheirBitOnLeaving() {
    UiSession s;
    ConfigImage image = SampleImage(251);
    image[6] = 0xFF;
    QVERIFY(ReadDemo(s, 251, image));
    s.pui().CheckBoxSir3->setChecked(false);
    QCOMPARE(int(s.form1().Image()[6]), 0xFF);  // not before leaving
    Leave(s.pui().CheckBoxSir3);
    QCOMPARE(int(s.form1().Image()[6]), 0xFB);
  }

  void TextFieldsKeepTheirLimitsAndCodePage() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    Ui::ParametersPage& p = s.pui();
    ConfigImage& img = s.form1().Image();
    p.EditNameShl1->clear();
    Type(p.EditNameShl1, "Подвал123");
    QCOMPARE(p.EditNameShl1->text(), QString("Подвал12"));
    QTest::keyClick(p.EditNameShl1, Qt::Key_Backspace);
    Leave(p.EditNameShl1);
    QCOMPARE(Bytes(img, 512, 8),
             (std::vector<uint8_t>{0xCF, 0xEE, 0xE4, 0xE2, 0xE0, 0xEB, '1', 0}));
    // A four-character password over a five-character one.
    TypeAndLeave(p.EditPasw, "12345");
    TypeAndLeave(p.EditPasw, "9876");
    QCOMPARE(Bytes(img, 16, 5), (std::vector<uint8_t>{'9', '8', '7', '6', 0}));
  }

  void AValueStillInTheFocusedControlIsCommittedBeforeWriteAndSave() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    s.form1().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&s.form1()));
    QLineEdit* edit = s.pui().EditTimeIn1;
    QVERIFY(FocusOn(edit));
    edit->selectAll();
    Type(edit, "77");
    s.form1().ButtonWriteClick();  // from the keyboard: the focus has not moved
    QCOMPARE(int(s.form1().Image()[104]), 77);
    QVERIFY(s.WaitIdle());
    QCOMPARE(int(s.demo(250).device().image()[104]), 77);

    edit->selectAll();
    Type(edit, "78");
    QTemporaryDir dir;
    s.dialogs.save_answer = dir.filePath("a.dat");
    s.form1().N3Click();
    ConfigImage loaded;
    QVERIFY(LoadConfigFile(dir.filePath("a.dat").toStdString(), 250, loaded).ok());
    QCOMPARE(int(loaded[104]), 78);
  }

  void SaveAndLoadRoundTrip() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, SampleImage(251)));
    QTemporaryDir dir;
    s.dialogs.save_answer = dir.filePath("LovarM.dat");
    s.form1().N3Click();
    QCOMPARE(QFileInfo(dir.filePath("LovarM.dat")).size(), qint64(2148));
    const ConfigImage saved = s.form1().Image();
    s.form1().Image()[10] = 99;
    s.form1().Image()[3600] = 0x5A;  // keys are not in a model-251 file
    // Shown in the key grid, as an edit there leaves it (a load commits the grid first).
    s.form1().FindPage("TabSheet2")->Display(s.form1().Image(), 251, s.form1().FirmwareVersion());
    s.dialogs.open_answer = dir.filePath("LovarM.dat");
    s.form1().N2Click();
    QVERIFY(s.dialogs.messages.empty());
    QCOMPARE(int(s.form1().Image()[10]), int(saved[10]));
    QCOMPARE(s.pui().EditTimeIn1->text(), QString::number(saved[10]));
    QCOMPARE(int(s.form1().Image()[3600]), 0x5A);
  }

  void AFileOfAnotherModelIsRefused() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, SampleImage(250)));
    QTemporaryDir dir;
    QVERIFY(SaveConfigFile(dir.filePath("m.dat").toStdString(), 251, SampleImage(251)).ok());
    const ConfigImage before = s.form1().Image();
    s.dialogs.open_answer = dir.filePath("m.dat");
    s.form1().N2Click();
    QCOMPARE(s.dialogs.messages.size(), size_t{1});
    QCOMPARE(s.dialogs.messages[0].caption, QString("Неверный тип УО"));
    QVERIFY(s.form1().Image() == before);
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Файл не принят"));
  }

  void PasswordGateOfModel250() {
    UiSession s;
    ConfigImage image = SampleImage(250);
    image[0] = 0x21;  // first code "1234"
    image[1] = 0x43;
    QVERIFY(ReadDemo(s, 250, image));
    QVERIFY(!s.ui().PageControl1->isHidden());  // empty equals empty
    s.form1().ButtonReadClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().PageControl1->isHidden());
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
    UiSession s;
    QVERIFY(s.Identify(251));
    s.form_key.ListBoxDeviceClick();
    QCOMPARE(s.form1().StoredPassword(), QString("40718"));
    QVERIFY(s.WaitIdle());
    QVERIFY(s.ui().PageControl1->isHidden());
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
    UiSession s;
    QVERIFY(s.Identify(252));
    QVERIFY(s.ui().PanelPassword->isHidden());
    s.form_key.ListBoxDeviceClick();
    QVERIFY(s.WaitIdle());
    QVERIFY(!s.ui().PageControl1->isHidden());
  }
};

LOVAR_UI_TEST(EditorsTest)
#include "editors_test.moc"
