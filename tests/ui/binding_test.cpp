// The window's binding table: every field of every model has one place, a place finds its
// field again, and a control is bound by the device's model.
#include <QTest>
#include <algorithm>
#include <set>
#include <string>

#include "binding.h"
#include "harness.h"
#include "window_setup.h"

using namespace lovar;

class BindingTest : public QObject {
  Q_OBJECT

 private slots:
  void EveryFieldHasAPlaceThatFindsIt() {
    for (const ModelSetup& setup : KnownModelSetups()) {
      const int model = setup.model;
      std::set<std::string> places;
      for (const Field& f : Fields(model)) {
        const ControlPlace place = PlaceOf(f);
        const std::string name = std::to_string(model) + " " + f.id;
        QVERIFY2(!place.control.empty(), name.c_str());
        QVERIFY2(places
                     .insert(place.control + "/" + std::to_string(place.row) + "/" +
                             std::to_string(place.column))
                     .second,
                 (name + ": a place of two fields").c_str());
        QVERIFY2(FieldOfControl(model, place.control, place.row, place.column) == &f, name.c_str());
      }
    }
  }

  // A model of the table without its window form, or whose display leaves one of its pages
  // unfilled, would show another model's values.
  void EveryModelHasItsFormAndFillsItsPages() {
    for (const ModelSetup& setup : KnownModelSetups()) {
      const std::string name = std::to_string(setup.model);
      const WindowSetup* window = FindWindowSetup(setup.model);
      QVERIFY2(window != nullptr, name.c_str());
      QCOMPARE(window->model, setup.model);
      for (FieldPage page : setup.pages) {
        const std::string_view tab = TabSheetOf(page);
        QVERIFY2(std::find(window->display_order.begin(), window->display_order.end(), tab) !=
                     window->display_order.end(),
                 (name + " " + std::string(tab)).c_str());
      }
    }
  }

  void ControlsAndCellsFindTheirFields() {
    QCOMPARE(FieldOfControl(251, "EditPhone3")->id, std::string("direction3.phone"));
    QCOMPARE(FieldOfControl(251, "StringGridFiltr", 11, 2)->id, std::string("direction2.event11"));
    QCOMPARE(FieldOfControl(250, "StringGridKey", 3, 9)->id, std::string("key3.rights"));
    QCOMPARE(FieldOfControl(250, "StringGridKey", 3, 10), nullptr);
    QCOMPARE(FieldOfControl(250, "StringGridCode", 1, 2), nullptr);  // "Код Уст"
    QCOMPARE(FieldOfControl(251, "Edit6"), nullptr);                 // a view of byte 7
  }

  // What the window binds each control to: the controls both layouts share follow the model;
  // model 252's hidden controls and cells keep model 250's bytes; a view is its byte whole.
  void ControlsAreBoundByModel() {
    struct Row {
      int model;
      const char* control;
      int row, column;
      int offset;  // -1: bound to nothing
      uint16_t mask;
    };
    const Row rows[] = {
        {250, "ComboBoxTypeShl1", -1, -1, 100, 0xFF},
        {252, "ComboBoxTypeShl1", -1, -1, 100, 0xFF},
        {251, "ComboBoxTypeShl1", -1, -1, 2, 0x0F},
        {251, "ComboBoxTypeShl4", -1, -1, 5, 0x0F},
        {250, "EditTimeIn4", -1, -1, 107, 0xFF},
        {251, "EditTimeIn1", -1, -1, 10, 0xFF},
        {250, "EditTimeOut2", -1, -1, 109, 0xFF},
        {251, "EditTimeOut1", -1, -1, 11, 0xFF},
        {250, "ComboBoxTypeRele1", -1, -1, 118, 0xFF},
        {251, "ComboBoxTypeRele1", -1, -1, 0, 0xFF},
        {250, "ComboBoxTypeRele2", -1, -1, 119, 0xFF},
        {251, "ComboBoxTypeRele2", -1, -1, 1, 0xFF},
        {250, "EditTimeSound", -1, -1, 117, 0xFF},
        {251, "EditTimeSound", -1, -1, 13, 0xFF},
        {250, "CheckRele21", -1, -1, 113, 0x01},
        {251, "CheckRele21", -1, -1, 7, 0x10},
        {251, "CheckSound3", -1, -1, 6, 0x40},
        {251, "CheckBoxAuto2", -1, -1, 3, 0x80},
        {250, "EditNumPlata", -1, -1, 140, 0x03C0},
        {250, "EditNumNapr", -1, -1, 140, 0xFC00},
        // Hidden on model 252, on model 250's bytes.
        {252, "ComboBoxTypeShl3", -1, -1, 102, 0xFF},
        {252, "ComboBoxTypeRele2", -1, -1, 119, 0xFF},
        {252, "CheckRele24", -1, -1, 113, 0x08},
        {252, "StringGridKey", 3, 2, 237, 0xFF},
        {252, "StringGridCode", 2, 2, 7, 0xFF},
        // Views.
        {251, "Edit6", -1, -1, 7, 0xFF},
        {250, "EditLevel", -1, -1, 122, 0xFF},
        {252, "EditLevel", -1, -1, 122, 0xFF},
        // Controls the model's layout has not.
        {251, "EditTimeIn2", -1, -1, -1, 0},
        {251, "EditNumPlata", -1, -1, -1, 0},
        {250, "CheckBoxSir1", -1, -1, -1, 0},
        {252, "EditPasw", -1, -1, -1, 0},
        {250, "EditPhone1", -1, -1, -1, 0},
        {251, "StringGridCode", 2, 1, -1, 0},
        {250, "StringGridCode", 1, 2, -1, 0},
        {0, "ComboBoxTypeShl1", -1, -1, -1, 0},
    };
    for (const Row& row : rows) {
      const std::string name = std::to_string(row.model) + " " + row.control;
      const Field* f = BoundField(row.model, row.control, row.row, row.column);
      if (row.offset < 0) {
        QVERIFY2(f == nullptr, name.c_str());
        continue;
      }
      QVERIFY2(f != nullptr, name.c_str());
      QVERIFY2(f->offset == row.offset && f->mask == row.mask, name.c_str());
    }
    QVERIFY(BoundField(251, "Edit6")->id.empty());  // no value of its own
    QCOMPARE(BoundField(250, "ComboBoxTypeShl1"), FieldOfControl(250, "ComboBoxTypeShl1"));
  }
};

LOVAR_UI_TEST(BindingTest)
#include "binding_test.moc"
