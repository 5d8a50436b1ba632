// One store per field: a value typed into the window's control, the same value in an imported
// JSON document and the same value in a batch plan's row give the same image, for every kind
// of field. The window is driven through its real controls; import and batch start from the
// image the window showed.
#include <QCheckBox>
#include <QComboBox>
#include <functional>
#include <nlohmann/json.hpp>

#include "files/batch_plan.h"
#include "files/config_file.h"
#include "files/config_json.h"
#include "model/catalog.h"
#include "model/regions.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

using Json = nlohmann::ordered_json;

struct Case {
  const char* name;
  int model;
  const char* id;
  Json value;                                 // as a document gives it
  std::function<void(ConfigImage&)> prepare;  // bytes the editor must keep or clear
  std::function<void(UiSession&)> type;       // what the installer does in the window
};

template <typename T>
T* Control(UiSession& s, const char* name) {
  return s.form1().findChild<T*>(name);
}

std::function<void(UiSession&)> TypeInto(const char* edit, const char* text) {
  return [=](UiSession& s) {
    auto* e = Control<QLineEdit>(s, edit);
    QVERIFY(e != nullptr && ShowTabOf(s, e));
    TypeAndLeave(e, QString::fromUtf8(text));
  };
}

std::function<void(UiSession&)> PasteInto(const char* edit, const char* text) {
  return [=](UiSession& s) {
    auto* e = Control<QLineEdit>(s, edit);
    QVERIFY(e != nullptr && ShowTabOf(s, e));
    Paste(e, QString::fromUtf8(text));
    Leave(e);
  };
}

std::function<void(UiSession&)> Tick(const char* box) {
  return [=](UiSession& s) {
    auto* b = Control<QCheckBox>(s, box);
    QVERIFY(b != nullptr && ShowTabOf(s, b));
    b->setChecked(true);
    Leave(b);
  };
}

std::function<void(UiSession&)> Choose(const char* combo, const char* text) {
  return [=](UiSession& s) {
    auto* c = Control<QComboBox>(s, combo);
    QVERIFY(c != nullptr && ShowTabOf(s, c));
    c->setCurrentText(QString::fromUtf8(text));
  };
}

// Clicks (rights, filter marks) and typing in a grid's cells, then the grid is left.
std::function<void(UiSession&)> InGrid(const char* grid, std::vector<std::pair<int, int>> clicks,
                                       int row = 0, int column = 0, const char* typed = "") {
  return [=](UiSession& s) {
    auto* g = Control<QTableWidget>(s, grid);
    QVERIFY(g != nullptr && ShowTabOf(s, g));
    for (const auto& [r, c] : clicks) ClickCell(g, r, c);
    if (row > 0) TypeIntoCell(g, row, column, QString::fromUtf8(typed));
    QVERIFY(LeaveGrid(s));
  };
}

ConfigImage Start(int model, const std::function<void(ConfigImage&)>& prepare) {
  ConfigImage image = SampleImage(model);
  // No installer's code, so no password is asked; its duress bytes as the grid writes them.
  if (model == 250) std::fill_n(image.bytes().begin(), 4, uint8_t{0});
  if (prepare) prepare(image);
  return image;
}

}  // namespace

class OneStoreTest : public QObject {
  Q_OBJECT
 private slots:
  void EveryFieldKindIsStoredAlikeByTheWindowImportAndBatch() {
    const std::string init50(50, 'I');
    const std::vector<Case> cases = {
        {"number", 250, "loop2.exit_time", 77, nullptr, TypeInto("EditTimeIn2", "77")},
        {"board address over stale bits", 250, "board_address", 5,
         [](ConfigImage& i) {
           i[140] = 0x45;
           i[141] = 0x09;
         },
         TypeInto("EditNumPlata", "5")},
        {"word", 251, "gprs.port", 8080, nullptr, TypeInto("EditPortPCO", "8080")},
        {"test period", 251, "direction1.period", 12, nullptr, TypeInto("EditTimeTest1", "12")},
        {"list over a flag", 251, "loop1.type", "Тревожный", nullptr,
         Choose("ComboBoxTypeShl1", "Тревожный")},
        {"level", 250, "level", "360", nullptr, Choose("ComboBoxLevel", "360")},
        {"routing nibble", 251, "direction3.loop2", "все", nullptr,
         Choose("ComboBoxShl2T3", "все")},
        {"protocol typed in Cyrillic", 251, "direction2.protocol", "ОФМ", nullptr,
         Choose("ComboBoxTR2", "ОФМ")},
        {"flag", 251, "loop2.siren", true, nullptr, Tick("CheckBoxSir2")},
        {"listen-in bit", 251, "direction3.listen", true, nullptr, Tick("CheckBoxUP3")},
        {"shortened text over a tail", 251, "password", "1",
         [](ConfigImage& i) {
           const uint8_t bytes[] = {'1', '2', 0, 'a', 'b'};
           std::copy(std::begin(bytes), std::end(bytes), i.bytes().begin() + 16);
         },
         TypeInto("EditPasw", "1")},
        {"Cyrillic text", 251, "loop1.name", "Ворота", nullptr, TypeInto("EditNameShl1", "Ворота")},
        {"initialisation string of 50", 251, "gprs.init", init50, nullptr,
         PasteInto("EditInit", init50.c_str())},
        {"phone cleared", 251, "direction3.phone", "", nullptr, TypeInto("EditPhone3", "")},
        {"phone", 251, "direction4.phone", "+79161234567", nullptr,
         TypeInto("EditPhone4", "+79161234567")},
        {"address", 251, "gprs.ip", "10.0.0.1", nullptr, PasteInto("EditIPPCO", "10.0.0.1")},
        {"code digits", 250, "code2.code", "1234",
         [](ConfigImage& i) { i[5] = i[6] = 0; },  // the key filter types into a cell held empty
         InGrid("StringGridCode", {}, 2, 1, "1234")},
        {"code rights", 250, "code3.rights", "взятие 1; снятие 4",
         [](ConfigImage& i) { i[codes::RightsOffset(2)] = 0; },
         InGrid("StringGridCode", {{3, 3}, {3, 10}})},
        {"key rights", 251, "key4.rights", "взятие 1; снятие 4",
         [](ConfigImage& i) { i[keys::RightsOffset(251, 3)] = 0; },
         InGrid("StringGridKey", {{4, 2}, {4, 9}})},
        {"key name", 251, "key5.name", "Sklad", nullptr,
         InGrid("StringGridKey", {}, 5, 10, "Sklad")},
        {"event filter mark", 251, "direction4.event5", true, nullptr,
         InGrid("StringGridFiltr", {{5, 4}})},
    };
    UiSession s;
    for (const Case& c : cases) {
      const ConfigImage start = Start(c.model, c.prepare);
      QVERIFY2(ReadDemo(s, c.model, start), c.name);
      c.type(s);
      if (QTest::currentTestFailed()) QFAIL(c.name);
      const ConfigImage window = s.form1().Image();
      const Field* f = FindFieldById(c.model, c.id);
      QVERIFY2(f != nullptr, c.id);
      QVERIFY2(window != start, c.name);  // the window stored something

      // Batch: the row's value over the template, on a device that holds the same image.
      const std::vector<PlanValue> values = {{f, c.value.is_string() ? c.value.get<std::string>()
                                                 : c.value.is_boolean()
                                                     ? (c.value.get<bool>() ? "да" : "нет")
                                                     : c.value.dump()}};
      ConfigImage batch = start;
      std::string why;
      QVERIFY2(ApplyPlanValues(c.model, start, values, batch, why), why.c_str());
      const int length = ImageLength(c.model);
      QVERIFY2(Bytes(batch, 0, length) == Bytes(window, 0, length), c.name);

      // Import: the image's document with the value edited.
      if (!InExtent(*f, FileImageLength(c.model))) continue;  // a key of a model 251 file
      Json document = Json::parse(ExportJson(c.model, start));
      document["fields"][c.id] = c.value;
      const JsonImport imported = ImportJson(document.dump(), c.model);
      QVERIFY2(imported.ok(), imported.error.c_str());
      const int file_length = FileImageLength(c.model);
      QVERIFY2(Bytes(imported.image, 0, file_length) == Bytes(window, 0, file_length), c.name);
    }
  }
};

LOVAR_UI_TEST(OneStoreTest)
#include "one_store_test.moc"
