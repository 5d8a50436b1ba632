// The named fields against the pages: every control and grid cell a model's window shows is
// the control of a catalog field (or a declared view of a byte), and a change of any field's
// value, made through the catalog, shows in that field's control and nowhere else.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTableWidget>
#include <map>
#include <random>
#include <set>

#include "../support/random_image.h"
#include "binding.h"
#include "harness.h"
#include "model/catalog.h"
#include "pages_helpers.h"
#include "utf8.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// What each visible control shows, by name; a grid's cells as "Grid[row,column]".
using Shown = std::map<QString, QString>;

QString CellName(const QTableWidget* grid, int row, int column) {
  return QStringLiteral("%1[%2,%3]").arg(grid->objectName()).arg(row).arg(column);
}

Shown Snapshot(UiSession& s) {
  Shown shown;
  QTabWidget* tabs = s.ui().PageControl1;
  for (int i = 0; i < tabs->count(); ++i) {
    if (!tabs->isTabVisible(i)) continue;
    QWidget* sheet = tabs->widget(i);
    for (QWidget* w : sheet->findChildren<QWidget*>()) {
      if (w->objectName().isEmpty() || !w->isVisibleTo(sheet)) continue;
      if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (!edit->isReadOnly() && !qobject_cast<QComboBox*>(edit->parentWidget()))
          shown[w->objectName()] = edit->text();
      } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        shown[w->objectName()] = combo->currentText();
      } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        shown[w->objectName()] = box->isChecked() ? "1" : "0";
      } else if (auto* grid = qobject_cast<QTableWidget*>(w)) {
        for (int r = 1; r < grid->rowCount(); ++r)
          for (int c = 1; c < grid->columnCount(); ++c)
            if (!grid->isColumnHidden(c))
              shown[CellName(grid, r, c)] = grid->item(r, c) ? grid->item(r, c)->text() : QString();
      }
    }
  }
  return shown;
}

// The names of the controls (or cells) that show the field, its views included.
std::set<QString> NamesOf(int model, const Field& f) {
  std::set<QString> names;
  const ControlPlace place = PlaceOf(f);
  const QString control = Q(place.control);
  if (place.row < 0) {
    names.insert(control);
  } else {
    const int columns = f.kind == FieldKind::Rights ? 8 : 1;
    for (int c = place.column; c < place.column + columns; ++c)
      names.insert(QStringLiteral("%1[%2,%3]").arg(control).arg(place.row).arg(c));
  }
  for (const ControlView& v : ControlViews(model))
    if (v.offset >= f.offset && v.offset <= f.last()) names.insert(Q(v.control));
  return names;
}

void Show(UiSession& s, const ConfigImage& image) {
  s.form1().Image() = image;
  s.form1().UpDate();
}

}  // namespace

class CatalogPagesTest : public QObject {
  Q_OBJECT
 private slots:
  void EveryFieldShowsInItsControlAndNowhereElse_data() { Models(); }
  void EveryFieldShowsInItsControlAndNowhereElse() {
    QFETCH(int, model);
    UiSession s;
    QVERIFY(s.Identify(model));
    QVERIFY(s.Start());
    ConfigImage base = PlausibleImage(model, 11);
    // Every value control shown: types and modes that hide none of the delay and time edits.
    std::string why;
    for (const auto& [id, value] : {std::pair{"loop1.type", "Охранный"}, {"loop2.type", "Охранный"},
                                    {"loop3.type", "Охранный"}, {"loop4.type", "Охранный"},
                                    {"output1.mode", "Сирена"}, {"output2.mode", "Сирена"}})
      if (const Field* f = FindFieldById(model, id); f != nullptr && model != 251)
        QVERIFY(StoreFieldText(*f, base, value, why));
    Show(s, base);
    const Shown before = Snapshot(s);
    std::mt19937 random(5);
    for (const Field& f : Fields(model)) {
      ConfigImage changed = base;
      std::string value, why;
      do {
        value = PlainValue(f, random);
      } while (value == FieldText(f, base));
      QVERIFY(StoreFieldText(f, changed, value, why));
      Show(s, changed);
      const Shown after = Snapshot(s);
      // Controls a value shows or hides (the time edit of a lamp output) are no values moved.
      std::set<QString> moved;
      for (const auto& [name, text] : after)
        if (before.count(name) != 0 && before.at(name) != text) moved.insert(name);
      const std::set<QString> allowed = NamesOf(model, f);
      QVERIFY2(!moved.empty(), qPrintable(Q(f.id) + " shows nowhere"));
      for (const QString& name : moved)
        QVERIFY2(allowed.count(name), qPrintable(Q(f.id) + " also moves " + name));
    }
  }

  // Every control of the parameters page, used as an installer would (typed into and left,
  // ticked and left, chosen from its list), stores the value the catalog then reads from the
  // image, and changes no bit of any other field; the next display shows it again.
  void EveryParametersControlStoresWhatTheCatalogReads_data() { Models(); }
  void EveryParametersControlStoresWhatTheCatalogReads() {
    QFETCH(int, model);
    UiSession s;
    ConfigImage base = PlausibleImage(model, 7);
    std::string why;
    for (const auto& [id, value] : {std::pair{"loop1.type", "Охранный"},
                                    {"loop2.type", "Охранный"},
                                    {"loop3.type", "Охранный"},
                                    {"loop4.type", "Охранный"},
                                    {"output1.mode", "Сирена"},
                                    {"output2.mode", "Сирена"}})
      if (const Field* f = FindFieldById(model, id); f != nullptr && model != 251)
        QVERIFY(StoreFieldText(*f, base, value, why));
    if (model != 251) base[140] &= 0xC0;  // bits 0 to 5, which the address editor writes as 0
    QVERIFY(ReadDemo(s, model, base, "TabSheet1"));
    QWidget* sheet = s.ui().PageControl1->findChild<QWidget*>("TabSheet1");
    std::mt19937 random(static_cast<unsigned>(model));
    for (const Field& f : Fields(model)) {
      if (f.page != FieldPage::Parameters) continue;
      Show(s, base);
      auto* control = sheet->findChild<QWidget*>(Q(PlaceOf(f).control));
      QVERIFY2(control != nullptr && control->isVisibleTo(sheet), qPrintable(Q(f.id)));
      const ConfigImage before = s.form1().Image();
      QString shown;
      if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        std::string value;
        do {
          value = PlainValue(f, random);
        } while (value == FieldText(f, before));
        TypeAndLeave(edit, Q(value));
        QCOMPARE(FieldText(f, s.form1().Image()), value);
        shown = Q(value);
        QCOMPARE(edit->text(), shown);
      } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
        box->click();
        Leave(box);
        QCOMPARE(FieldBits(f, s.form1().Image()), box->isChecked() ? 1u : 0u);
        shown = box->isChecked() ? "1" : "0";
      } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        int index = 0;
        do {
          index = static_cast<int>(random() % static_cast<unsigned>(combo->count()));
        } while (static_cast<unsigned>(index) == FieldBits(f, before));
        combo->setCurrentIndex(index);
        // The editor looks its text up in the list: a caption listed twice (the second
        // "Резерв" of model 251) stores its first entry.
        const int entry = combo->findText(combo->currentText());
        QCOMPARE(FieldBits(f, s.form1().Image()), static_cast<unsigned>(entry));
        shown = QString::number(entry);
      } else {
        QFAIL(qPrintable(Q(f.id) + ": no control to edit"));
      }
      const ConfigImage& after = s.form1().Image();
      for (int i = 0; i < ImageLength(model); ++i) {
        const uint8_t moved = static_cast<uint8_t>(before[i] ^ after[i]);
        QVERIFY2((moved & ~f.BitsAt(i)) == 0,
                 qPrintable(Q(f.id) + " also changes byte " + QString::number(i)));
      }
      // The next display shows the value: the text, the tick, the list entry (the protocol
      // shows its own spelling, so its bits are checked).
      s.form1().UpDate();
      if (auto* edit = qobject_cast<QLineEdit*>(control)) QCOMPARE(edit->text(), shown);
      if (auto* box = qobject_cast<QCheckBox*>(control))
        QCOMPARE(box->isChecked() ? "1" : "0", shown);
      if (auto* combo = qobject_cast<QComboBox*>(control); combo != nullptr && f.aliases.empty())
        QCOMPARE(QString::number(combo->currentIndex()), shown);
    }
    // The byte a view shows whole (the model 251 output byte in Edit6) is stored whole.
    for (const ControlView& v : ControlViews(model)) {
      auto* edit = sheet->findChild<QLineEdit*>(Q(v.control));
      if (edit == nullptr || edit->isReadOnly()) continue;
      Show(s, base);
      const ConfigImage before = s.form1().Image();
      const uint8_t value = static_cast<uint8_t>(before[v.offset] ^ 0xA5);
      TypeAndLeave(edit, QString::number(value));
      ConfigImage expected = before;
      expected[v.offset] = value;
      QVERIFY(s.form1().Image() == expected);
    }
  }

  void EveryShownControlIsAField_data() { Models(); }
  void EveryShownControlIsAField() {
    QFETCH(int, model);
    UiSession s;
    QVERIFY(s.Identify(model));
    QVERIFY(s.Start());
    // Shown but not part of the image: the device's own address and name servers; the key
    // grid's name column on models 250 and 252, whose names only model 251 stores.
    const std::set<QString> outside = {"Edit14", "Edit15", "Edit16"};
    for (const auto& [name, text] : Snapshot(s)) {
      if (outside.count(name)) continue;
      const int open = static_cast<int>(name.indexOf('['));
      const Field* f = nullptr;
      if (open < 0) {
        f = FieldOfControl(model, name.toStdString());
      } else {
        const QStringList cell = name.mid(open + 1).chopped(1).split(',');
        const int row = cell[0].toInt(), column = cell[1].toInt();
        const std::string grid = name.left(open).toStdString();
        if (grid == "StringGridKey" && column == 10 && model != 251) continue;
        if (grid == "StringGridCode" && row == 1 && column == 2) continue;  // "Код Уст"
        f = FieldOfControl(model, grid, row, column);
      }
      bool view = false;
      for (const ControlView& v : ControlViews(model)) view = view || Q(v.control) == name;
      QVERIFY2(f != nullptr || view, qPrintable(name + " is no field's"));
      if (f != nullptr) {
        const QString tab = Q(TabSheetOf(f->page));
        QWidget* sheet = s.ui().PageControl1->findChild<QWidget*>(tab);
        QVERIFY2(sheet != nullptr && sheet->findChild<QWidget*>(name.left(open < 0 ? name.size() : open)),
                 qPrintable(name + " is not on the page of " + Q(f->id)));
      }
    }
  }

 private:
  static void Models() {
    QTest::addColumn<int>("model");
    for (int model : {250, 251, 252}) QTest::newRow(qPrintable(QString::number(model))) << model;
  }
};

LOVAR_UI_TEST(CatalogPagesTest)
#include "catalog_pages_test.moc"
