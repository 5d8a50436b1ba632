// A file loaded, every editor of every page entered and left without an edit, and the file saved
// again gives the same bytes, for each model: texts holding every byte 0x01 to 0xFF (0x98, the
// one byte the code page leaves unassigned, included), numbers, flags and lists. The bytes the
// display corrects (models 250 and 252) and those the commits write as 0 (the installer row's
// duress code, the rights of model 252's keys) hold those values already.
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <set>

#include "files/config_file.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

struct TextField {
  int offset, width;
};
// Model 251's texts: password, object, GPRS password, user name and initialisation string, loop
// names, direction names (the edits), key names (the grid).
constexpr TextField kTexts251[] = {{16, 5},   {21, 8},   {142, 20}, {162, 20},
                                   {182, 60}, {512, 32}, {712, 40}, {544, 128}};

ConfigImage FileImage(int model) {
  ConfigImage image;
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 37 + 11);
  if (model == 251) {
    // Every byte from 0x01 to 0xFF in turn (0x98 in a direction name), then again from 0x01;
    // the key names' last byte, one of the repeats, is 0x98 too.
    int next = 0;
    for (const TextField& field : kTexts251)
      for (int i = 0; i < field.width; ++i)
        image[field.offset + i] = static_cast<uint8_t>(next++ % 255 + 1);
    image[544 + 127] = 0x98;
    return image;
  }
  for (int n = 0; n < 4; ++n) image[100 + n] = static_cast<uint8_t>(n);  // loop types 0 to 3
  image[118] = 2;                                                        // output modes 0 to 4
  image[119] = 4;
  image[2] = image[3] = 0;  // the installer's row has no duress code
  if (model == 252)
    for (int k = 0; k < 16; ++k) image[235 + k] = 0;  // model 252 keys have no rights
  return image;
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Moves the focus through every control of the page that takes it, opening and closing the
// in-place editor of every editable grid cell on the way; then out of the page.
bool EnterAndLeaveEverything(UiSession& s, QWidget* sheet) {
  for (QWidget* w : sheet->findChildren<QWidget*>()) {
    if (!w->isVisible() || !w->isEnabled() || !(w->focusPolicy() & Qt::TabFocus)) continue;
    if (qobject_cast<QLineEdit*>(w) != nullptr && qobject_cast<QComboBox*>(w->parentWidget()))
      continue;  // a combo box's own edit: the combo box takes the focus
    if (!FocusOn(w)) return false;
    auto* grid = qobject_cast<QTableWidget*>(w);
    if (grid == nullptr) continue;
    for (int r = 0; r < grid->rowCount(); ++r) {
      for (int c = 0; c < grid->columnCount(); ++c) {
        QTableWidgetItem* item = grid->item(r, c);
        if (item == nullptr || !(item->flags() & Qt::ItemIsEditable)) continue;
        grid->setCurrentCell(r, c);
        grid->editItem(item);
        if (!WaitFor([&] { return OpenEditor(grid) != nullptr; }, 5000)) return false;
        if (!FocusOn(grid)) return false;  // closes the editor
      }
    }
  }
  return LeaveGrid(s);
}

}  // namespace

class FileRoundTripTest : public QObject {
  Q_OBJECT
 private slots:
  void LoadThenSaveWithoutEditsGivesTheSameBytes_data() {
    QTest::addColumn<int>("model");
    QTest::newRow("250") << 250;
    QTest::newRow("251") << 251;
    QTest::newRow("252") << 252;
  }
  void LoadThenSaveWithoutEditsGivesTheSameBytes() {
    QFETCH(int, model);
    const ConfigImage image = FileImage(model);
    if (model == 251) {
      std::set<uint8_t> text_bytes;
      for (const TextField& field : kTexts251)
        for (int i = 0; i < field.width; ++i) text_bytes.insert(image[field.offset + i]);
      QCOMPARE(text_bytes.size(), size_t{255});
      QVERIFY(!text_bytes.contains(0));
    }
    QTemporaryDir dir;
    const QString loaded = dir.filePath("loaded.dat"), saved = dir.filePath("saved.dat");
    QVERIFY(SaveConfigFile(loaded.toStdString(), model, image).ok());

    UiSession s;
    QVERIFY(ReadDemo(s, model, SampleImage(model)));
    s.dialogs.open_answer = loaded;
    s.form1().N2Click();
    QVERIFY(s.dialogs.messages.empty());
    if (s.ui().PageControl1->isHidden()) s.ui().EditPassword->setText(s.form1().StoredPassword());
    QTabWidget* tabs = s.ui().PageControl1;
    for (int i = 0; i < tabs->count(); ++i) {
      if (!tabs->isTabVisible(i)) continue;
      const QByteArray name = tabs->widget(i)->objectName().toUtf8();
      QVERIFY(ShowTab(s, name.constData()));
      QVERIFY2(EnterAndLeaveEverything(s, tabs->widget(i)), name.constData());
    }
    s.dialogs.save_answer = saved;
    s.form1().N3Click();
    QVERIFY(s.dialogs.messages.empty());

    const QByteArray before = Read(loaded), after = Read(saved);
    QCOMPARE(after.size(), before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
      QVERIFY2(after[i] == before[i], qPrintable(QString("file byte %1: %2, was %3")
                                                     .arg(i)
                                                     .arg(uint8_t(after[i]))
                                                     .arg(uint8_t(before[i]))));
  }
};

LOVAR_UI_TEST(FileRoundTripTest)
#include "file_roundtrip_test.moc"
