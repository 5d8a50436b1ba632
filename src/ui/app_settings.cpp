#include "app_settings.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "file_paths.h"
#include "files/file_access.h"
#include "store/registry.h"
#include "store/store_os.h"

namespace lovar {
namespace {

const QString kRegistryKey = QStringLiteral("registry/location");
const QString kRulesKey = QStringLiteral("check/company_rules");
const QString kTechnicianKey = QStringLiteral("station/technician");
const QString kTechnicianAskedKey = QStringLiteral("station/technician_asked");

QString Value(const QString& key) {
  const QString file = AppSettingsFile();
  if (file.isEmpty()) return {};
  return QSettings(file, QSettings::IniFormat).value(key).toString();
}

void SetValue(const QString& key, const QString& value) {
  const QString file = AppSettingsFile();
  if (file.isEmpty()) return;
  // The folder is the user's alone (the registry's file lives there too); the file may hold a
  // server's password.
  const std::filesystem::path folder = ToPath(file).parent_path();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    std::filesystem::create_directories(folder.parent_path(), ec);
    CreateOwnerOnlyFolder(folder);
  }
  {
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
  }
  QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

}  // namespace

QString AppSettingsFile() {
  const std::filesystem::path folder = DefaultDataFolder();
  return folder.empty() ? QString() : ToQString(folder / "settings.ini");
}

QString RegistryLocationSetting() {
  return Value(kRegistryKey);
}
void SetRegistryLocationSetting(const QString& location) {
  SetValue(kRegistryKey, location.trimmed());
}
QString CompanyRulesFile() {
  return Value(kRulesKey);
}
void SetCompanyRulesFile(const QString& file) {
  SetValue(kRulesKey, file.trimmed());
}

QString TechnicianSetting() {
  return Value(kTechnicianKey);
}
void SetTechnicianSetting(const QString& name) {
  SetValue(kTechnicianKey, name.trimmed());
  SetValue(kTechnicianAskedKey, QStringLiteral("1"));
}
bool TechnicianAsked() {
  return Value(kTechnicianAskedKey) == QLatin1String("1");
}

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Настройки"));
  registry_ = new QLineEdit(RegistryLocationSetting());
  registry_->setObjectName(QStringLiteral("EditRegistry"));
  registry_->setPlaceholderText(ToQString(DefaultRegistryFile()));
  registry_->setToolTip(
      QStringLiteral("Файл реестра или сервер postgresql://пользователь@сервер/база; пусто — "
                     "файл пользователя"));
  rules_ = new QLineEdit(CompanyRulesFile());
  rules_->setObjectName(QStringLiteral("EditCompanyRules"));
  auto* browse = new QPushButton(QStringLiteral("Обзор…"));
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Правила компании"),
                                                      rules_->text(), QStringLiteral("*.json"));
    if (!file.isEmpty()) rules_->setText(file);
  });
  technician_ = new QLineEdit(TechnicianSetting());
  technician_->setObjectName(QStringLiteral("EditTechnician"));
  technician_->setPlaceholderText(QStringLiteral("фамилия и имя"));
  technician_->setToolTip(
      QStringLiteral("Кто работает с приборами на этой станции: он указан в "
                     "каждой записи реестра"));
  auto* rules_row = new QHBoxLayout;
  rules_row->addWidget(rules_);
  rules_row->addWidget(browse);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Реестр объектов:"), registry_);
  form->addRow(QStringLiteral("Правила компании:"), rules_row);
  form->addRow(QStringLiteral("Техник:"), technician_);
  auto* note =
      new QLabel(QStringLiteral("Пустое поле реестра — файл пользователя (или LOVAR_DB)."));
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Keep();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addWidget(buttons);
  resize(520, sizeHint().height());
}

void SettingsDialog::Keep() {
  SetRegistryLocationSetting(registry_->text());
  SetCompanyRulesFile(rules_->text());
  if (technician_->text().trimmed() != TechnicianSetting() || !TechnicianAsked())
    SetTechnicianSetting(technician_->text());
}

}  // namespace lovar
