// Renders the windows in the states an installer meets them, for each model, to PNG files:
// lovar_screenshots OUTPUT_FOLDER [STATE...]. Run through scripts/screenshots.
//
// Each state is one row of kStates: its name, the models it is shown for (none: once, as
// "<name>.png"; else "<model>_<name>.png"), and how a fresh session reaches it and saves its
// pictures. The demo devices serve the steady states; lovar-sim on a pseudo-terminal serves the
// transient ones (a request it drops holds a read in the middle, then brings the no-answer
// question). Each window is drawn under a title bar with its caption, and a message box over the
// middle of its window.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTabBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "archive_dialog.h"
#include "card_dialog.h"
#include "check_panel.h"
#include "compare_dialog.h"
#include "enter_key.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "harness.h"
#include "model/catalog.h"
#include "qt_dialogs.h"
#include "qt_translations.h"
#include "sim/device_sim.h"
#include "site_question_dialog.h"
#include "sites_dialog.h"
#include "sites_menu.h"
#include "support/loopback.h"

using lovar::QtDialogs;
using lovar::testing::UiSession;
using lovar::testing::WaitFor;

namespace {

QString g_out;

// A window's picture with few colours, as most are, kept with a palette of its own: a third of
// the size, not a pixel changed (the pictures live in the repository).
QImage Small(const QImage& picture) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
  QList<QRgb> palette;
  QSet<QRgb> seen;
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) {
      if (seen.contains(line[x])) continue;
      if (seen.size() == 256) return rgb;
      seen.insert(line[x]);
      palette.append(line[x]);
    }
  }
  return rgb.convertToFormat(QImage::Format_Indexed8, palette, Qt::ThresholdDither);
}

// The height of the title bar drawn over a window's or a box's picture.
int TitleBarHeight(const QWidget& widget) {
  return widget.fontMetrics().height() + 8;
}

// A title bar with the caption, as wide as the picture allows, over `picture`.
QPixmap WithTitleBar(const QPixmap& picture, const QWidget& widget) {
  const int bar = TitleBarHeight(widget);
  QPixmap framed(picture.width(), picture.height() + bar);
  QPainter painter(&framed);
  painter.fillRect(QRect(0, 0, framed.width(), bar), QColor(60, 90, 140));
  QFont bold = widget.font();
  bold.setBold(true);
  painter.setFont(bold);
  painter.setPen(Qt::white);
  const QRect caption(8, 0, framed.width() - 16 - 3 * bar, bar);
  painter.drawText(
      caption, Qt::AlignVCenter,
      QFontMetrics(bold).elidedText(widget.windowTitle(), Qt::ElideMiddle, caption.width()));
  painter.drawPixmap(0, bar, picture);
  painter.setPen(Qt::black);
  painter.drawRect(framed.rect().adjusted(0, 0, -1, -1));
  return framed;
}

// A window as the screen shows it: under its title bar, which names what it holds.
QPixmap Picture(QWidget& window) {
  QApplication::processEvents();
  return WithTitleBar(window.grab(), window);
}

// One session on its way to a state.
struct Shot {
  int model = 0;
  UiSession s;
  QProcess sim;

  ~Shot() {
    if (sim.state() != QProcess::NotRunning) {
      sim.terminate();
      sim.waitForFinished(10000);
    }
  }

  QString File(const QString& name) const {
    return model == 0 ? QStringLiteral("%1/%2.png").arg(g_out, name)
                      : QStringLiteral("%1/%2_%3.png").arg(g_out).arg(model).arg(name);
  }
  bool Save(const QPixmap& picture, const QString& name) const {
    const QString path = File(name);
    const bool ok = Small(picture.toImage()).save(path, "PNG", 0);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
    return ok;
  }
  bool Save(QWidget& window, const QString& name) const { return Save(Picture(window), name); }

  lovar::TForm1& form1() { return s.form1(); }

  // Identifies the model's device on lovar-sim, which drops the request `drop` (1 is the
  // identification), and starts the read with "Старт".
  bool StartReadOnSim(int drop) {
    const QString port = lovar::testing::StartLovarSim(
        sim, {"--model", QString::number(model), "--drop", QString::number(drop)});
    if (port.isEmpty() || !s.Search(port)) return false;
    if (!WaitFor([&] { return !s.form_key.ui().ButtonCreate->isHidden(); })) return false;
    s.form_key.ButtonCreateClick();
    return true;
  }
  // The read request a third of the way through the image.
  int DropInRead() const { return 2 + lovar::ImageLength(model) / 8 / 3; }
  // Waits until the read stands at the dropped request, before the question comes (a second).
  bool ReadHeld() {
    int last = -1;
    QElapsedTimer still;
    return WaitFor([&] {
      const int value = s.ui().ProgressBar1->value();
      if (value != last) {
        last = value;
        still.start();
      }
      return value > 0 && still.elapsed() > 300;
    });
  }
};

// The box over the middle of its window, both under their title bars.
QPixmap Over(QWidget& window, QWidget& box) {
  QPixmap picture = Picture(window);
  const QPixmap top = WithTitleBar(box.grab(), box);
  QPainter painter(&picture);
  painter.drawPixmap((picture.width() - top.width()) / 2, (picture.height() - top.height()) / 2,
                     top);
  return picture;
}

// The window with one of its menus open under its title in the menu bar.
QPixmap WithMenu(QMainWindow& window, QMenu& menu) {
  const QPoint at = window.menuBar()->actionGeometry(menu.menuAction()).bottomLeft();
  menu.popup(window.mapToGlobal(at));
  QPixmap picture = Picture(window);
  const QPoint drawn = at + QPoint(0, TitleBarHeight(window));
  QPainter painter(&picture);
  painter.drawPixmap(drawn, menu.grab());
  painter.setPen(Qt::gray);
  painter.drawRect(QRect(drawn, menu.size()).adjusted(0, 0, -1, -1));
  menu.hide();
  return picture;
}

// A read, then EditTimeIn1 typed anew: one edit, kept nowhere.
bool ReadAndEdit(Shot& shot) {
  UiSession& s = shot.s;
  if (!s.Identify(shot.model) || !s.Start()) return false;
  if (s.ui().PageControl1->isHidden()) s.ui().EditPassword->setText(s.form1().StoredPassword());
  lovar::testing::TypeAndLeave(s.pui().EditTimeIn1, QStringLiteral("45"));
  QApplication::processEvents();
  return true;
}

// Every page the model shows, and a page taller than the window once more scrolled to its end.
bool Pages(Shot& shot) {
  UiSession& s = shot.s;
  if (!s.Identify(shot.model) || !s.Start()) return false;
  if (s.ui().PageControl1->isHidden()) s.ui().EditPassword->setText(s.form1().StoredPassword());
  bool ok = true;
  QTabWidget* tabs = s.ui().PageControl1;
  for (int i = 0; i < tabs->count(); ++i) {
    if (!tabs->isTabVisible(i)) continue;
    tabs->setCurrentIndex(i);
    const QString page = tabs->widget(i)->objectName();
    ok &= shot.Save(s.form1(), page);
    auto* area = tabs->widget(i)->findChild<QScrollArea*>(page + QStringLiteral("Scroll"));
    if (area != nullptr && area->verticalScrollBar()->maximum() > 0) {
      area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
      ok &= shot.Save(s.form1(), page + QStringLiteral("_end"));
      area->verticalScrollBar()->setValue(0);
    }
  }
  return ok;
}

struct State {
  const char* name;
  std::vector<int> models;
  std::function<bool(Shot&)> reach;  // reaches the state and saves its pictures
};

const State kStates[] = {
    {"search_start", {}, [](Shot& shot) { return shot.Save(shot.s.form_key, "search_start"); }},
    {"search_port_missing",
     {},
     [](Shot& shot) {
       shot.s.form_key.ui().ComboBoxComs->setEditText(QStringLiteral("/dev/ttyUSB7"));
       shot.s.form_key.ButtonFindClick();
       return shot.Save(shot.s.form_key, "search_port_missing");
     }},
    // A network port typed in: the window says whom it waits for, then why that failed.
    {"search_connecting",
     {},
     [](Shot& shot) {
       lovar::testing::SilentServer server;
       auto& form = shot.s.form_key;
       form.ui().ComboBoxComs->setEditText(
           QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port));
       form.ButtonFindClick();
       if (!shot.Save(form, "search_connecting")) return false;
       return WaitFor([&] { return !shot.form1().Cport1().Opening(); }, 30000) &&
              shot.Save(form, "search_connect_failed");
     }},
    {"search",
     {250, 251, 252},
     [](Shot& shot) {
       return shot.s.Identify(shot.model) && shot.Save(shot.s.form_key, "search");
     }},
    // The read in the middle: pages hidden, the progress bar a third of the way.
    {"reading",
     {250, 251, 252},
     [](Shot& shot) {
       return shot.StartReadOnSim(shot.DropInRead()) && shot.ReadHeld() &&
              shot.Save(shot.form1(), "reading");
     }},
    {"no_answer",
     {251},
     [](Shot& shot) {
       bool saved = false;
       shot.s.dialogs.on_continue = [&] {
         const std::unique_ptr<QMessageBox> box = QtDialogs::ContinueBox();
         box->show();
         saved = shot.Save(Over(shot.form1(), *box), "no_answer");
         return false;
       };
       return shot.StartReadOnSim(shot.DropInRead()) &&
              WaitFor([&] { return shot.s.dialogs.continue_questions > 0; }) && saved;
     }},
    // Cancel at the question: the read abandoned, pages hidden.
    {"read_abandoned",
     {251},
     [](Shot& shot) {
       shot.s.dialogs.continue_answer = false;
       return shot.StartReadOnSim(shot.DropInRead()) &&
              WaitFor([&] { return shot.s.dialogs.continue_questions > 0; }) && shot.s.WaitIdle() &&
              shot.Save(shot.form1(), "read_abandoned");
     }},
    // Cancel at the question after a model 251 read got past the file's 2048 bytes: "Сохранить"
    // would save what was read.
    {"half_read",
     {251},
     [](Shot& shot) {
       shot.s.dialogs.continue_answer = false;
       return shot.StartReadOnSim(300) &&
              WaitFor([&] { return shot.s.dialogs.continue_questions > 0; }) && shot.s.WaitIdle() &&
              shot.Save(shot.form1(), "half_read");
     }},
    // A write in the middle, held by a block the demo device does not acknowledge: "Отмена".
    {"writing",
     {251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!s.Identify(shot.model) || !s.Start()) return false;
       if (s.ui().PageControl1->isHidden())
         s.ui().EditPassword->setText(s.form1().StoredPassword());
       lovar::DeviceSim& device = s.demo(shot.model).device();
       device.AddFault({lovar::FaultKind::Drop, device.requests() + 90, 0});
       s.form1().findChild<QAction*>("NWriteAll")->trigger();  // every block, nothing edited
       return shot.ReadHeld() && shot.Save(shot.form1(), "writing");
     }},
    // One field changed and written: its blocks proven, the whole check running behind.
    {"whole_check",
     {251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!ReadAndEdit(shot)) return false;
       lovar::DeviceSim& device = s.demo(shot.model).device();
       device.AddFault({lovar::FaultKind::Drop, device.requests() + 60, 0});
       s.form1().ButtonWriteClick();
       return shot.ReadHeld() && shot.Save(shot.form1(), "whole_check");
     }},
    // The same write once the whole check behind it has ended.
    {"write_proven",
     {251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!ReadAndEdit(shot)) return false;
       s.form1().ButtonWriteClick();
       return WaitFor([&] { return !s.form1().session().WholeCheckRunning() && s.WaitIdle(); },
                      60000) &&
              shot.Save(shot.form1(), "write_proven");
     }},
    // The line lost in the middle of a write, edits made: the offer to save them.
    {"write_line_lost",
     {250},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!ReadAndEdit(shot)) return false;
       lovar::DeviceSim& device = s.demo(shot.model).device();
       device.AddFault({lovar::FaultKind::HangUp, device.requests() + 5, 0});
       s.dialogs.yes_no_answer = false;
       s.form1().ButtonWriteClick();
       if (!WaitFor([&] { return !s.dialogs.messages.empty(); })) return false;
       const auto& asked = s.dialogs.messages.front();
       const std::unique_ptr<QMessageBox> box = QtDialogs::MakeBox(
           QMessageBox::Question, asked.caption, asked.text, QMessageBox::Yes | QMessageBox::No);
       box->show();
       return shot.Save(Over(shot.form1(), *box), "write_line_lost");
     }},
    // "Считать ключ" while the reader waits for a key: the key panel and its red prompt.
    {"key_polling",
     {250, 251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!s.Identify(shot.model) || !s.Start()) return false;
       if (s.ui().PageControl1->isHidden())
         s.ui().EditPassword->setText(s.form1().StoredPassword());
       QTabWidget* tabs = s.ui().PageControl1;
       tabs->setCurrentWidget(tabs->findChild<QWidget*>(QStringLiteral("TabSheet2")));
       lovar::DeviceSim& device = s.demo(shot.model).device();
       device.AddFault({lovar::FaultKind::Drop, device.requests() + 1, 0});
       auto* key = s.form1().findChild<QPushButton*>(QStringLiteral("ButtonKey"));
       if (key == nullptr) return false;
       key->click();
       auto* prompt = s.form1().findChild<QWidget*>(QStringLiteral("PanelSetKey"));
       return prompt != nullptr && WaitFor([&] { return prompt->isVisible(); }) &&
              shot.Save(shot.form1(), "key_polling");
     }},
    // A click on the device line: the read asks for the password.
    {"password",
     {250, 251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!s.Identify(shot.model)) return false;
       s.form_key.ListBoxDeviceClick();
       return s.WaitIdle() && shot.Save(shot.form1(), "password");
     }},
    {"pages", {250, 251, 252}, Pages},
    {"save_dialog",
     {},
     [](Shot& shot) {
       QTemporaryDir folder;
       const auto dialog = QtDialogs::SaveDialog(
           QStringLiteral("Сохранить конфигурацию в файл"), folder.path(), QStringLiteral("*.dat"),
           QStringLiteral("dat"), QStringLiteral("LovarM.dat"));
       dialog->setOption(QFileDialog::DontUseNativeDialog);
       dialog->resize(700, 400);
       dialog->show();
       return shot.Save(*dialog, "save_dialog");
     }},
    // An edit kept nowhere: "Правка" names it; a new read asks first.
    {"edit_menu",
     {251},
     [](Shot& shot) {
       return ReadAndEdit(shot) &&
              shot.Save(WithMenu(shot.form1(), *shot.s.ui().NEdit), "edit_menu");
     }},
    {"lose_changes",
     {251},
     [](Shot& shot) {
       if (!ReadAndEdit(shot)) return false;
       const std::unique_ptr<QMessageBox> box = QtDialogs::LoseChangesBox();
       box->show();
       return shot.Save(Over(shot.form1(), *box), "lose_changes");
     }},
    // The panel "Проверка" over a configuration with an error and a warning, and the question
    // before writing it.
    {"check",
     {251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!s.Identify(shot.model)) return false;
       lovar::ConfigImage image = lovar::SampleImage(shot.model);
       std::string why;
       for (const char* id : {"direction1.loop2", "direction2.loop2"})
         lovar::StoreFieldText(*lovar::FindFieldById(shot.model, id), image, "не передавать", why);
       lovar::StoreFieldText(*lovar::FindFieldById(shot.model, "object_number"), image, "", why);
       s.demo(shot.model).device().image() = image;
       if (!s.Start()) return false;
       const std::unique_ptr<QMessageBox> box =
           lovar::WriteDespiteErrorsBox(s.form1().check().panel().findings());
       box->show();
       return shot.Save(s.form1(), "check") &&
              shot.Save(Over(shot.form1(), *box), "check_question");
     }},
    // "Файл" → "Архив…" after three reads, and the menu that holds it.
    {"archive",
     {251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       if (!s.Identify(shot.model) || !s.Start()) return false;
       std::string why;
       const lovar::Field* object = lovar::FindFieldById(shot.model, "object_number");
       for (const char* number : {"2207", "Склад-3"}) {
         lovar::StoreFieldText(*object, s.demo(shot.model).device().image(), number, why);
         s.form1().ButtonReadClick();
         if (!s.WaitIdle()) return false;
       }
       std::vector<lovar::ArchivedRow> rows;
       const QString folder = QString::fromStdU16String(s.form1().ArchivePath().u16string());
       for (const lovar::ArchiveEntry& e : lovar::ListArchive(s.form1().ArchivePath()))
         rows.push_back({QString::fromStdString(lovar::ArchiveTimeText(e.time)),
                         QString::fromUtf8(lovar::ModelName(e.model).data()),
                         QString::fromStdString(e.object)});
       lovar::ArchiveDialog dialog(folder, rows, &s.form1());
       dialog.show();
       return shot.Save(dialog, "archive") &&
              shot.Save(WithMenu(s.form1(), *s.ui().N1), "file_menu");
     }},
    // "Сравнить с файлом…": the window with three values changed against the file.
    {"compare",
     {251},
     [](Shot& shot) {
       UiSession& s = shot.s;
       QTemporaryDir folder;
       const QString file = folder.filePath(QStringLiteral("compare_sample.dat"));
       if (!s.Identify(shot.model) || !s.Start() ||
           !lovar::SaveConfigFile(file.toStdString(), shot.model, lovar::SampleImage(shot.model))
                .ok())
         return false;
       std::string why;
       for (const auto& [id, value] : {std::pair{"loop2.type", "Пожарный"},
                                       {"direction3.phone", "+74951112233"},
                                       {"gprs.ip", "10.0.0.1"}})
         lovar::StoreFieldText(*lovar::FindFieldById(shot.model, id), s.form1().Image(), value,
                               why);
       s.dialogs.open_answer = file;
       s.ui().N4->trigger();
       auto* dialog = s.form1().findChild<lovar::CompareDialog*>();
       return dialog != nullptr && shot.Save(*dialog, QStringLiteral("compare"));
     }},
    // "Объекты…": the registry's sites filtered by "10", the history of 1024, and two of its
    // versions compared.
    {"sites",
     {},
     [](Shot& shot) {
       QTemporaryDir folder;
       lovar::RegistryOptions options;
       options.location = {false, folder.filePath(QStringLiteral("registry.sqlite")).toStdString()};
       lovar::StoreResult opened;
       auto registry = lovar::Registry::Open(options, opened);
       if (!registry) return false;
       const lovar::StoreTime day = 86'400'000'000, start = 1'714'550'400'000'000;
       int n = 0;
       for (const char* object : {"1001", "1024", "1057", "2207", "Склад-3", "1024"}) {
         lovar::ConfigImage image = lovar::SampleImage(251);
         image.SetText(21, 8, object);
         image[13] = static_cast<uint8_t>(10 + n);
         lovar::SiteRecord r;
         r.info.time = start + n * day;
         r.info.station = n % 2 ? "ПК-склад" : "ноутбук-2";
         r.info.operator_name = n % 3 ? "ivanov" : "petrova";
         r.info.port = "COM5";
         r.info.model = 251;
         r.info.device_line = "Ловар-М Версия 2.2";
         r.info.object = object;
         if (n == 5) {
           r.info.operation = lovar::RecordOperation::Write;
           r.info.outcome = lovar::RecordOutcome::Stopped;
           r.info.message = "Запись прервана на смещении 2048 из 4096: прибор не отвечает";
         }
         r.image.assign(image.bytes().begin(), image.bytes().end());
         if (!registry->Record(r).ok()) return false;
         ++n;
       }
       lovar::SitesDialog dialog(*registry, shot.s.dialogs, nullptr);
       dialog.show();
       QTest::keyClicks(dialog.filter(), "10");
       dialog.sites()->selectRow(1);
       dialog.history()->selectAll();
       if (!shot.Save(dialog, "sites")) return false;
       lovar::CompareDialog* compare = dialog.CompareSelected();
       return compare != nullptr && shot.Save(*compare, "sites_compare");
     }},
    // After a read of a model 252 device: which site it is, the best matches first; and the
    // technician and the reason asked as one line each.
    {"site_question",
     {},
     [](Shot& shot) {
       lovar::SiteQuestion question;
       question.ask = true;
       question.bounded = true;
       const char* names[] = {"Ленина, 5 — магазин «Продукты»", "Мира, 1, кв. 12",
                              "Садовая, 3 (склад)", "Октябрьская, 44, офис 2",
                              "Школа № 7, пристройка"};
       for (int i = 0; i < 5; ++i) question.sites.push_back({i + 1, names[i], {}, 0});
       question.best = {{1, names[0], {9, 11}, 0}, {3, names[2], {2, 11}, 0}};
       lovar::SiteQuestionDialog dialog(question, 252, shot.s.dialogs, nullptr);
       dialog.show();
       if (!shot.Save(dialog, "site_question")) return false;
       const auto technician = lovar::QtDialogs::LineDialog(
           QStringLiteral("Техник"), lovar::SitesMenu::TechnicianQuestion(), {});
       technician->show();
       const auto reason = lovar::QtDialogs::LineDialog(QStringLiteral("Причина"),
                                                        lovar::SitesMenu::ReasonQuestion(), {});
       reason->show();
       if (!shot.Save(*technician, "technician") || !shot.Save(*reason, "reason")) return false;
       lovar::SiteCard card;
       card.site = 12;
       card.name = "Ленина, 5 — магазин «Продукты»";
       card.customer = "ООО «Ромашка»";
       card.phones = "+7 916 123-45-67, +7 495 765-43-21";
       card.contract = "Д-2024/117";
       card.installed = "01.03.2024";
       card.remark = "Ключи у директора; сирена над входом.";
       lovar::CardDialog edit(card, nullptr);
       edit.show();
       return shot.Save(edit, "site_card");
     }},
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  lovar::LoadQtTranslations(app);
  lovar::InstallEnterPressesButtons(app);
  g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(g_out);
  bool ok = true;
  // Further arguments render those states only.
  const std::vector<std::string> only(argv + std::min(argc, 2), argv + argc);
  for (const State& state : kStates) {
    if (!only.empty() && std::find(only.begin(), only.end(), state.name) == only.end()) continue;
    const std::vector<int> models = state.models.empty() ? std::vector<int>{0} : state.models;
    for (int model : models) {
      Shot shot;
      shot.model = model;
      if (!state.reach(shot)) {
        std::printf("FAILED %s (model %d)\n", state.name, model);
        ok = false;
      }
    }
  }
  return ok ? 0 : 1;
}
