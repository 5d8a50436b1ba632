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

const QString kWholeCheckCaption = QStringLiteral("Полная проверка записи");
const QString kStaleCaption = QStringLiteral("В УО другая конфигурация");

QString StopWholeCheckQuestion() {
  return QStringLiteral(
      "Изменения записаны в УО и проверены. Не закончена только полная проверка остальной "
      "конфигурации.\n\nПрервать проверку и считать конфигурацию из УО?");
}

QString ReadBackArchivedNote(const KeptRecord& record, bool demo) {
  if (record.ok && demo)
    return QStringLiteral(". Считанная конфигурация — во временном архиве демо-приборов");
  if (record.ok) return QStringLiteral(". Считанная конфигурация — в архиве");
  return QStringLiteral(". Считанная конфигурация в архив не сохранена: ") + Q(record.message);
}

QString OverwriteQuestion(const QString& said) {
  return said + QStringLiteral(
                    "\n\nЗаписать в УО конфигурацию из окна поверх неё? «Нет» "
                    "оставляет прибор как есть: окно сохранит свою конфигурацию "
                    "как не записанную.");
}

Said WholeCheckEndSaid(const WriteReport& report, const std::string& text,
                       const QString& archived) {
  const QString said = Q(text);
  using C = WriteReport::Cause;
  if (report.outcome == WriteReport::Outcome::Stale) return {{}, said + archived, {}};
  if (report.ok() || report.cause == C::Interrupted || report.cause == C::PageChanged)
    return {{}, said, {}};
  if (report.cause == C::LineLost || report.cause == C::PortClosed)
    return {kLineLost, Sentence(said) + QLatin1Char(' ') + kFindAgain, said};
  return {QStringLiteral("Полная проверка записи"), said, {}};
}

}  // namespace lovar
