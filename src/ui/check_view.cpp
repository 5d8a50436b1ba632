#include "check_view.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QTableWidget>
#include <algorithm>

#include "binding.h"
#include "file_paths.h"
#include "utf8.h"

namespace lovar {

CheckView::CheckView(QMainWindow& window, QTabWidget& pages, Session& session,
                     std::function<void(const Field&)> turn_to)
    : window_(window),
      pages_(pages),
      session_(session),
      turn_to_(std::move(turn_to)),
      panel_(new CheckPanel) {
  // Beside the pages, not below them: a model 251 window already takes a laptop's height.
  QWidget* central = window.takeCentralWidget();
  auto* row = new QWidget;
  row->setObjectName(QStringLiteral("PanelMainRow"));
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(central, 1);
  panel_->setFixedWidth(kWidth);
  panel_->setContentsMargins(4, 4, 6, 4);
  layout->addWidget(panel_);
  window.setCentralWidget(row);
  connect(panel_, &CheckPanel::FieldChosen, this, &CheckView::Choose);
  pages_.installEventFilter(this);
  Refresh();
}

CheckView::~CheckView() {
  session_.SetCompanyRules(nullptr);
}

void CheckView::Refresh() {
  // The findings name loops, numbers and codes: not shown while the password keeps the pages.
  if (pages_.isHidden() || !session_.Saveable()) {
    QString why = QStringLiteral("конфигурация не показана");
    if (company_ && !company_->refused.empty())
      why += QStringLiteral("\nПравила компании не действуют: ") + Q(company_->refused);
    panel_->SetNothing(why);
    return;
  }
  panel_->SetFindings(session_.CheckImage());
}

bool CheckView::AskWriteDespiteErrors(Dialogs& dialogs, Recorder& recorder,
                                      const std::vector<Finding>& findings) {
  if (!dialogs.AskWriteDespiteErrors(findings)) return false;
  std::vector<Finding> errors;
  for (const Finding& f : findings)
    if (f.severity == Severity::Error) errors.push_back(f);
  recorder.NoteOverride(session_.device().port, OverrideText(errors, "«Записать всё равно»"));
  return true;
}

void CheckView::ReadEnded(const SessionEnd& end) {
  if (end.cause != EndCause::None) return;  // a read cut short says nothing of the device
  panel_->SetNote(end.record ? Q(end.record->note) : QString());
  panel_->SetDrift({});
}

void CheckView::ShowDrift(const DriftFound& found) {
  if (found.port != session_.device().port) return;  // another device's, read before
  std::vector<Finding> drift;
  for (const DriftedField& d : found.fields) {
    Finding f;
    f.rule = "drift";
    f.text = DriftText({d});
    f.hint =
        "Изменено в приборе клавиатурой или другой программой; запись, которая изменит это "
        "поле, спросит подтверждения";
    f.fields = {d.field->id};
    drift.push_back(std::move(f));
  }
  panel_->SetDrift(std::move(drift));
}

void CheckView::SetCompanyRules(std::optional<CompanyRules> rules) {
  company_ = std::move(rules);
  session_.SetCompanyRules(company_ ? &*company_ : nullptr);
  Refresh();
}

QString CheckView::LoadCompanyRules(const QString& path) {
  CompanyRulesLoad load = ReadCompanyRules(ToPath(path));
  if (!load.ok()) {
    CompanyRules refused;
    refused.source = path.toStdString();
    refused.refused = load.error;
    SetCompanyRules(std::move(refused));
    return Q(load.error);
  }
  SetCompanyRules(std::move(load.rules));
  return {};
}

bool CheckView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &pages_ &&
      (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
    Refresh();
  return QObject::eventFilter(watched, event);
}

void CheckView::Choose(const QString& field_id) {
  const Field* field = FindFieldById(session_.DeviceModel(), field_id.toStdString());
  if (field == nullptr) return;
  turn_to_(*field);
  FocusFieldControl(window_, *field);
}

bool FocusFieldControl(QWidget& window, const Field& field) {
  const ControlPlace place = PlaceOf(field);
  if (place.control.empty()) return false;
  auto* control = window.findChild<QWidget*>(Q(place.control));
  if (control == nullptr || !control->isVisible() || !control->isEnabled()) return false;
  if (auto* grid = qobject_cast<QTableWidget*>(control); grid != nullptr && place.row >= 0)
    grid->setCurrentCell(place.row, std::max(place.column, 0));
  control->setFocus(Qt::OtherFocusReason);
  return true;
}

}  // namespace lovar
