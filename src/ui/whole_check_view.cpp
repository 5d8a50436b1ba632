#include "whole_check_view.h"

#include "utf8.h"

namespace lovar {

QAction* AddWriteAllAction(QMenu& file_menu, QAction* before, std::function<void()> write_all) {
  auto* action = new QAction(QStringLiteral("&Записать всё"), &file_menu);
  action->setObjectName(QStringLiteral("NWriteAll"));
  action->setToolTip(
      QStringLiteral("Записать в УО всю конфигурацию, а не только изменённые блоки"));
  QObject::connect(action, &QAction::triggered, &file_menu, std::move(write_all));
  file_menu.insertAction(before, action);
  return action;
}

void ShowWholeCheck(QProgressBar& bar, bool running) {
  bar.setFormat(running ? QStringLiteral("Полная проверка… %p%") : QStringLiteral("%p%"));
  if (running) bar.setTextVisible(true);
}

Said WholeCheckEndSaid(const WriteReport& report, const std::string& text) {
  const QString said = Q(text);
  using C = WriteReport::Cause;
  if (report.ok() || report.cause == C::Interrupted || report.cause == C::PageChanged)
    return {{}, said, {}};
  if (report.cause == C::LineLost || report.cause == C::PortClosed)
    return {kLineLost, Sentence(said) + QLatin1Char(' ') + kFindAgain, said};
  return {QStringLiteral("Полная проверка записи"), said, {}};
}

}  // namespace lovar
