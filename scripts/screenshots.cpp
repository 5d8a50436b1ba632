// Renders the search window and every page each model shows, from the demo devices' sample
// images, to PNG files: lovar_screenshots OUTPUT_FOLDER. Run through scripts/screenshots.
#include <QApplication>
#include <QDir>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <cstdio>

#include "compare_dialog.h"
#include "files/config_file.h"
#include "harness.h"
#include "model/catalog.h"
#include "sim/device_sim.h"

using lovar::testing::Session;

namespace {

bool Save(QWidget& window, const QString& path) {
  QApplication::processEvents();
  const bool ok = window.grab().save(path);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toUtf8().constData());
  return ok;
}

// "Сравнить с файлом…" on model 251: a window with three values changed against the sample.
bool SaveComparison(const QString& out) {
  Session s;
  const QString file = QStringLiteral("%1/compare_sample.dat").arg(out);
  if (!s.Identify(251) || !s.Start() ||
      !lovar::SaveConfigFile(file.toStdString(), 251, lovar::SampleImage(251)).ok())
    return false;
  std::string why;
  for (const auto& [id, value] : {std::pair{"loop2.type", "Пожарный"},
                                  {"direction3.phone", "+74951112233"}, {"gprs.ip", "10.0.0.1"}})
    lovar::StoreFieldText(*lovar::FindFieldById(251, id), s.form1().Image(), value, why);
  s.dialogs.open_answer = file;
  s.ui().N4->trigger();
  auto* dialog = s.form1().findChild<lovar::CompareDialog*>();
  const bool ok = dialog != nullptr && Save(*dialog, QStringLiteral("%1/251_compare.png").arg(out));
  QFile::remove(file);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
  QDir().mkpath(out);
  bool ok = true;
  for (int model : {250, 251, 252}) {
    Session s;
    Save(s.form_key, QStringLiteral("%1/search_start.png").arg(out));
    if (!s.Identify(model)) {
      std::printf("model %d: no identification\n", model);
      return 1;
    }
    ok &= Save(s.form_key, QStringLiteral("%1/%2_search.png").arg(out).arg(model));
    if (!s.Start()) {
      std::printf("model %d: the read did not finish\n", model);
      return 1;
    }
    if (s.ui().PageControl1->isHidden()) s.ui().EditPassword->setText(s.form1().StoredPassword());
    QTabWidget* tabs = s.ui().PageControl1;
    for (int i = 0; i < tabs->count(); ++i) {
      if (!tabs->isTabVisible(i)) continue;
      tabs->setCurrentIndex(i);
      const QString page = tabs->widget(i)->objectName();
      ok &= Save(s.form1(), QStringLiteral("%1/%2_%3.png").arg(out).arg(model).arg(page));
      // A page taller than the window once more, scrolled to its end.
      auto* area = tabs->widget(i)->findChild<QScrollArea*>(page + QStringLiteral("Scroll"));
      if (area != nullptr && area->verticalScrollBar()->maximum() > 0) {
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        ok &= Save(s.form1(), QStringLiteral("%1/%2_%3_end.png").arg(out).arg(model).arg(page));
        area->verticalScrollBar()->setValue(0);
      }
    }
    s.form1().hide();
  }
  ok &= SaveComparison(out);
  return ok ? 0 : 1;
}
