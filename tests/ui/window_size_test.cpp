// The main window's size per model: 862 wide (the pages' 562 and the "Проверка" panel's 300)
// and as high as the model's set-up says, whatever the pages hold. A tab widget is as large as its
// largest page, the pages of hidden tabs included, so a single wide page once made every model's
// window 685 pixels wide.
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>

#include "compare_dialog.h"
#include "file_paths.h"
#include "files/config_file.h"
#include "fit_content.h"
#include "harness.h"
#include "sim/device_sim.h"

using namespace lovar;
using namespace lovar::testing;

namespace {

// As high as the model's set-up says, or, on a lower screen, as high as its available height
// allows with a title bar; wholly on the screen either way.
bool HasModelHeight(const QWidget& window, int height) {
  const QRect area = window.screen()->availableGeometry();
  const bool on_screen = window.frameGeometry().top() >= area.top() &&
                         window.geometry().bottom() + 40 <= area.bottom() + 1;
  const bool fits = height + 40 <= area.height();
  const int width = fits ? 862 : 862 + window.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  return window.width() == width && on_screen &&
         (fits ? window.height() == height : window.height() >= area.height() - 60);
}

}  // namespace

class WindowSizeTest : public QObject {
  Q_OBJECT
 private slots:
  void AsCreatedTheWindowIs862By634WithEveryPageShown() {
    UiSession s;
    TForm1 window(s.form_key, s.dialogs);
    window.ui().PageControl1->show();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTabWidget* tabs = window.ui().PageControl1;
    for (int i = 0; i < tabs->count(); ++i) {
      tabs->setCurrentIndex(i);
      QApplication::processEvents();
      QCOMPARE(window.size(), QSize(862, 634));
    }
  }

  void EachModelsWindowKeepsItsSizeOnEveryPage_data() {
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("height");
    QTest::newRow("250") << 250 << 600;
    QTest::newRow("251") << 251 << 795;
    QTest::newRow("252") << 252 << 600;
  }
  void EachModelsWindowKeepsItsSizeOnEveryPage() {
    QFETCH(int, model);
    QFETCH(int, height);
    UiSession s;
    QVERIFY(s.Identify(model));
    QVERIFY(HasModelHeight(s.form1(), height));
    const QSize size = s.form1().size();
    QVERIFY(s.Start());
    if (s.ui().PageControl1->isHidden()) s.ui().EditPassword->setText(s.form1().StoredPassword());
    QVERIFY(!s.ui().PageControl1->isHidden());
    QTabWidget* tabs = s.ui().PageControl1;
    for (int i = 0; i < tabs->count(); ++i) {
      if (!tabs->isTabVisible(i)) continue;
      tabs->setCurrentIndex(i);
      QApplication::processEvents();
      const QString name = tabs->widget(i)->objectName();
      QVERIFY2(s.form1().size() == size, qPrintable(name));
      // At the default font every page fits the window's width, in the scroll area of its sheet.
      auto* area = tabs->widget(i)->findChild<QScrollArea*>(name + "Scroll");
      QVERIFY2(area != nullptr, qPrintable(name));
      QVERIFY2(!area->horizontalScrollBar()->isVisible(), qPrintable(name));
    }
  }

  // Buttons and password row at the top, the progress bar under them, the pages' area below: in
  // place whether the pages are shown, hidden for a read, or hidden while the password is asked.
  void TheRowsKeepTheirPlaceWhenThePagesAreHidden() {
    UiSession s;
    QVERIFY(s.Identify(250));
    QVERIFY(s.Start());
    TForm1& window = s.form1();
    Ui::TForm1& u = s.ui();
    const auto places = [&] {
      QApplication::processEvents();
      std::vector<QRect> rects;
      for (QWidget* w :
           {static_cast<QWidget*>(u.ButtonRead), static_cast<QWidget*>(u.ButtonWrite),
            static_cast<QWidget*>(u.ProgressBar1), static_cast<QWidget*>(u.PanelPages)})
        rects.emplace_back(w->mapTo(&window, QPoint(0, 0)), w->size());
      return rects;
    };
    QVERIFY(!u.PageControl1->isHidden());
    const std::vector<QRect> shown = places();
    QVERIFY(shown[0].bottom() < shown[2].top() && shown[2].bottom() < shown[3].top());
    QVERIFY(shown[3].height() > window.height() / 2);

    u.EditPassword->hide();  // as a read starts
    u.PageControl1->hide();
    QCOMPARE(places(), shown);
    QVERIFY(u.Label106->isHidden());  // no "Пароль" without its edit

    s.form_key.ListBoxDeviceClick();  // a read that asks for the password afterwards
    QVERIFY(s.WaitIdle());
    QVERIFY(u.PageControl1->isHidden());
    QVERIFY(!u.EditPassword->isHidden() && !u.Label106->isHidden());
    QCOMPARE(places(), shown);

    QTest::keyClicks(u.EditPassword, s.form1().StoredPassword());  // the panel goes
    QVERIFY(u.PanelPassword->isHidden());
    QCOMPARE(places(), shown);
  }

  void AnotherModelGetsItsOwnHeightBack() {
    UiSession s;
    QVERIFY(s.Identify(251));
    QVERIFY(HasModelHeight(s.form1(), 795));
    QVERIFY(s.Identify(250));
    QVERIFY(HasModelHeight(s.form1(), 600));
  }

  // A screen lower than model 251's window (a 1366×768 laptop): the window keeps to the screen
  // and the parameters page scrolls to its last control.
  void OnALowScreenTheWindowFitsAndThePagesScroll() {
    UiSession s;
    QVERIFY(s.Identify(251));
    s.form1().FitHeight(2000);  // taller than any screen the tests run on
    QVERIFY(HasModelHeight(s.form1(), 2000));
    QVERIFY(s.Start());
    s.ui().EditPassword->setText(s.form1().StoredPassword());
    s.form1().resize(s.form1().width(), 500);  // as low as the screen of a small netbook
    QApplication::processEvents();
    auto* area = s.ui().PageControl1->findChild<QScrollArea*>("TabSheet1Scroll");
    QScrollBar* bar = area->verticalScrollBar();
    QVERIFY(bar->isVisible() && bar->maximum() > 0);
    QVERIFY(!area->horizontalScrollBar()->isVisible());  // the window gave the bar its width
    QWidget* last = s.pui().EditTimeAnswer;              // in the group at the bottom
    area->ensureWidgetVisible(last);
    QApplication::processEvents();
    QVERIFY(area->viewport()->rect().contains(
        QRect(last->mapTo(area->viewport(), QPoint(0, 0)), last->size())));
  }

  // The search window (258 pixels) and the comparison (720) grow to show their texts whole: a
  // network port's device line, a file name in the title, the comparison's columns; within the
  // screen.
  void TheSearchWindowAndTheComparisonFitTheirTexts() {
    QTemporaryDir dir;
    const QString file = dir.filePath("Объект 1024 — склад на Садовой, после ремонта.dat");
    QVERIFY(SaveConfigFile(ToPath(file), 251, SampleImage(251)).ok());
    UiSession s;
    TFormKey& search = s.form_key;
    search.OfferFileAfterRead(file);
    const int room = RoomFor(search).width();
    QVERIFY(search.width() >= std::min(room, TitleWidth(search, search.windowTitle())));
    QListWidget* list = search.ui().ListBoxDevice;
    list->addItem("socket://192.168.100.200:4001: Ловар-М Версия 2.2");
    QVERIFY(WaitFor(
        [&] {
          return search.width() == room || list->fontMetrics().horizontalAdvance(
                                               list->item(0)->text()) < list->viewport()->width();
        },
        5000));

    QVERIFY(s.Identify(251));
    s.demo(251).device().image() = SampleImage(251);
    QVERIFY(s.Start());
    auto* init = s.form1().findChild<QLineEdit*>("EditInit");
    QVERIFY(init != nullptr);
    TypeAndLeave(init, "AT+CGDCONT=1,\"IP\",\"internet.operator.example.ru\"");
    s.dialogs.open_answer = file;
    s.ui().N4->trigger();
    auto* dialog = s.form1().findChild<CompareDialog*>();
    QVERIFY(dialog != nullptr && QTest::qWaitForWindowExposed(dialog));
    QTableWidget* table = dialog->table();
    QVERIFY(table->horizontalScrollBar()->maximum() == 0 ||
            dialog->width() == RoomFor(*dialog).width());
    dialog->close();
  }
};

LOVAR_UI_TEST(WindowSizeTest)
#include "window_size_test.moc"
