// The keys page: the key grid's commit and cell editing, and key learning against the
// in-process simulator (a key after empty polls, duplicates answered Yes and No, a page change
// stopping it). The key bytes of each model are tested with the core.
#include "binding.h"
#include "model/catalog.h"
#include "pages_helpers.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

constexpr int kBase251 = 3584;  // key entry k of model 251 at 3584 + 16k

// The simulator's default key, as the reader reports it (first byte at reply position 7).
const QString kKey251 = "EFCDAB8967452301";  // last byte first, all eight
const QString kKey250 = "89674523";          // key buffer entries 3 to 6

using Bytes8 = std::vector<uint8_t>;

// Key k's code, as the grid's commit stores it.
void SetKeyCode(ConfigImage& image, int model, int k, const QString& code) {
  std::string why;
  QVERIFY(StoreFieldText(*BoundField(model, "StringGridKey", k + 1, 1), image, code.toStdString(),
                         why));
}

ConfigImage WithoutKeys(int model) {
  ConfigImage image = SampleImage(model);
  for (int k = 0; k < keys::kCount; ++k) {
    SetKeyCode(image, model, k, "");
    StoreRights(*BoundField(model, "StringGridKey", k + 1, KeysPage::kFirstRightsColumn), image, 0,
                0);
  }
  return image;
}

// "Считать ключ" until the reader has reported a key.
bool LearnKey(Ui::KeysPage& u) {
  u.ButtonKey->click();
  return WaitFor([&] { return !u.ButtonWriteKey->isHidden(); });
}

}  // namespace

class KeysPageTest : public QObject {
  Q_OBJECT
 private slots:
  // The nibbles of each model are the core's; the grid stores its marks when it is left.
  void RightsClicksAreStoredWhenTheGridIsLeft() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, WithoutKeys(250), "TabSheet2"));
    QTableWidget* g = Keys(s).ui().StringGridKey;
    QVERIFY(FocusOn(g));
    ClickCell(g, 1, 2);                        // "Взятие ШС" 1
    ClickCell(g, 1, 9);                        // "Снятие  ШС" 4
    QCOMPARE(int(s.form1().Image()[235]), 0);  // not before the grid is left
    QVERIFY(LeaveGrid(s));
    QCOMPARE(int(s.form1().Image()[235]), 0x81);
    // A second press on a marked cell clears it.
    QVERIFY(FocusOn(g));
    ClickCell(g, 1, 9);
    QVERIFY(LeaveGrid(s));
    QCOMPARE(int(s.form1().Image()[235]), 0x01);
  }

  void SpaceTogglesRightsAndOnlyTheNameColumnTakesCharacters() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, WithoutKeys(251), "TabSheet2"));
    QTableWidget* g = Keys(s).ui().StringGridKey;
    QVERIFY(FocusOn(g));
    g->setCurrentCell(2, 4);
    QTest::keyClick(g, Qt::Key_Space);
    QCOMPARE(CellText(g, 2, 4), QString("  +"));
    QTest::keyClick(g, Qt::Key_A);  // swallowed in a rights cell
    QCOMPARE(CellText(g, 2, 4), QString("  +"));
    QTest::keyClick(g, Qt::Key_Space);
    QCOMPARE(CellText(g, 2, 4), QString());
    g->setCurrentCell(2, 1);
    Type(g, "12");  // the key code is never typed
    QVERIFY(OpenEditor(g) == nullptr);
    QCOMPARE(CellText(g, 2, 1), QString("0000000000000000"));
  }

  // The first typed character replaces a name; Cyrillic and "@" are refused by the key filter;
  // a shorter name ends with a zero byte; a pasted one is cut to eight characters.
  void Model251Names() {
    UiSession s;
    ConfigImage image = WithoutKeys(251);
    image.SetText(keys::NameOffset(0), 8, "ABCDEFGH");
    image.SetText(keys::NameOffset(1), 8, "NEXTNAME");
    QVERIFY(ReadDemo(s, 251, image, "TabSheet2"));
    QTableWidget* g = Keys(s).ui().StringGridKey;
    TypeIntoCell(g, 1, 10, "Xжy@");
    QVERIFY(LeaveGrid(s));
    QCOMPARE(Bytes(s.form1().Image(), keys::NameOffset(0), 4), (Bytes8{'X', 'y', 0, 'D'}));
    s.form1().UpDate();
    QCOMPARE(CellText(g, 1, 10), QString("Xy"));
    QVERIFY(PasteIntoCell(g, 1, 10, "QRSTUVWXYZ") != nullptr);
    QVERIFY(LeaveGrid(s));
    QCOMPARE(CellText(g, 1, 10), QString("QRSTUVWX"));
    QCOMPARE(s.form1().Image().Text(keys::NameOffset(0), 8), std::string("QRSTUVWX"));
    QCOMPARE(s.form1().Image().Text(keys::NameOffset(1), 8), std::string("NEXTNAME"));
  }

  void Model252GridHasTwoColumnsAndItsCommitWritesZeroRights() {
    UiSession s;
    ConfigImage image = SampleImage(252);
    for (int offset = 235; offset <= 250; ++offset) image[offset] = 0xFF;
    QVERIFY(ReadDemo(s, 252, image));
    KeysPage& page = Keys(s);
    QTableWidget* g = page.ui().StringGridKey;
    QCOMPARE(g->columnCount(), 2);
    QVERIFY(g->width() >= 144 && g->width() < 200);
    const std::vector<uint8_t> codes = Bytes(image, 156, 64);
    page.Commit();
    QCOMPARE(Bytes(s.form1().Image(), 235, 16), std::vector<uint8_t>(16, 0));
    QCOMPARE(Bytes(s.form1().Image(), 156, 64), codes);
    QCOMPARE(int(s.form1().Image()[251]), int(image[251]));
  }

  void LeavingThePageCommitsTheGrid() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, WithoutKeys(250), "TabSheet2"));
    QTableWidget* g = Keys(s).ui().StringGridKey;
    QVERIFY(FocusOn(g));
    ClickCell(g, 4, 5);  // "Взятие ШС" 4 of key 3
    s.ui().PageControl1->setCurrentIndex(0);
    QVERIFY(WaitFor([&] { return s.form1().Image()[238] == 0x08; }, 5000));
  }

  void Model251KeyAfterEmptyPollsIsStoredInTheCurrentRow() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, WithoutKeys(251), "TabSheet2"));
    Ui::KeysPage& u = Keys(s).ui();
    u.ButtonKey->click();
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith("Считывание ключа: поднесите ключ"));
    QVERIFY(!u.PanelSetKey->isHidden() && !u.ButtonStopKey->isHidden());
    QVERIFY(u.ButtonWriteKey->isHidden());
    QVERIFY(!u.ButtonKey->isEnabled());
    QVERIFY(WaitFor([&] { return !u.ButtonWriteKey->isHidden(); }));
    // The simulator answers three polls without a key; the first reply is always polled again.
    QVERIFY(s.demo(251).device().key_polls() >= 4);
    QCOMPARE(u.EditKey->text(), kKey251);
    QVERIFY(s.ui().StatusBar1->currentMessage().startsWith(QString("Ключ считан: ") + kKey251));
    QVERIFY(u.PanelSetKey->isHidden() && u.ButtonStopKey->isHidden());
    QVERIFY(u.ButtonKey->isEnabled());

    u.StringGridKey->setCurrentCell(5, 1);
    u.ButtonWriteKey->click();
    QCOMPARE(CellText(u.StringGridKey, 5, 1), kKey251);
    QCOMPARE(Bytes(s.form1().Image(), kBase251 + 16 * 4, 8),
             (Bytes8{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    QVERIFY(s.dialogs.messages.empty());  // no duplicate, no question
  }

  void DuplicateAnsweredNoKeepsTheKeyOut() {
    UiSession s;
    ConfigImage image = WithoutKeys(250);
    SetKeyCode(image, 250, 1, kKey250);
    QVERIFY(ReadDemo(s, 250, image, "TabSheet2"));
    Ui::KeysPage& u = Keys(s).ui();
    QVERIFY(LearnKey(u));
    QCOMPARE(u.EditKey->text(), kKey251);  // every key byte, last first
    s.dialogs.yes_no_answer = false;
    u.StringGridKey->setCurrentCell(7, 1);
    u.ButtonWriteKey->click();
    QCOMPARE(int(s.dialogs.messages.size()), 1);
    QCOMPARE(s.dialogs.messages[0].caption, QString("Такой ключ уже есть"));
    QCOMPARE(CellText(u.StringGridKey, 2, 1), kKey250);
    QCOMPARE(CellText(u.StringGridKey, 7, 1), QString());
    QCOMPARE(Bytes(s.form1().Image(), 156, 64), Bytes(image, 156, 64));
  }

  void DuplicateAnsweredYesIsAskedForEveryRowAndMovesTheKey() {
    UiSession s;
    ConfigImage image = WithoutKeys(250);
    SetKeyCode(image, 250, 4, kKey250);   // row 5
    SetKeyCode(image, 250, 15, kKey250);  // row 16
    QVERIFY(ReadDemo(s, 250, image, "TabSheet2"));
    Ui::KeysPage& u = Keys(s).ui();
    QVERIFY(LearnKey(u));
    s.dialogs.yes_no_answer = true;
    u.StringGridKey->setCurrentCell(5, 1);  // the row that already holds the key
    u.ButtonWriteKey->click();
    QCOMPARE(int(s.dialogs.messages.size()), 2);
    QCOMPARE(CellText(u.StringGridKey, 5, 1), kKey250);
    QCOMPARE(CellText(u.StringGridKey, 16, 1), QString());
    const ConfigImage& tool = s.form1().Image();
    QCOMPARE(Bytes(tool, 156 + 16, 4), (Bytes8{0x23, 0x45, 0x67, 0x89}));
    QCOMPARE(Bytes(tool, 156 + 60, 4), Bytes8(4, 0));
    // "Удалить" empties the current row and stores it.
    u.Button2->click();
    QCOMPARE(Bytes(tool, 156 + 16, 4), Bytes8(4, 0));
  }

  void APageChangeStopsKeyLearning() {
    UiSession s;
    QVERIFY(ReadDemo(s, 251, WithoutKeys(251), "TabSheet2"));
    Ui::KeysPage& u = Keys(s).ui();
    u.ButtonKey->click();
    QVERIFY(!u.PanelKey->isHidden());
    s.ui().PageControl1->setCurrentIndex(0);  // before the first reply is handled
    QVERIFY(u.PanelKey->isHidden() && u.PanelSetKey->isHidden());
    QVERIFY(u.ButtonKey->isEnabled());
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    QCOMPARE(s.demo(251).device().key_polls(), 1);  // the late reply sent nothing more
    QCOMPARE(u.EditKey->text(), QString());
  }

  void ClickOnAKeyCodeCellStartsAKeyRead() {
    UiSession s;
    QVERIFY(ReadDemo(s, 250, WithoutKeys(250), "TabSheet2"));
    Ui::KeysPage& u = Keys(s).ui();
    ClickCell(u.StringGridKey, 3, 1);
    QVERIFY(WaitFor([&] { return !u.ButtonWriteKey->isHidden(); }));
    u.ButtonWriteKey->click();
    QCOMPARE(CellText(u.StringGridKey, 3, 1), kKey250);
  }
};

LOVAR_UI_TEST(KeysPageTest)
#include "pages_keys_test.moc"
