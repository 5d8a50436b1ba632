// The program's own settings, per user: an INI file in the user's data folder (beside the
// registry's file: $XDG_DATA_HOME/lovar, %LOCALAPPDATA%\Ловар), never the Windows registry.
// "Настройки…" edits them (SettingsDialog).
//
// Threads: window thread only.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

namespace lovar {

// The settings file; empty when the system names no data folder (nothing is then kept).
QString AppSettingsFile();

// The registry of sites: a file's path or a postgresql:// string; empty: $LOVAR_DB, else the
// user's own file.
QString RegistryLocationSetting();
void SetRegistryLocationSetting(const QString& location);
// The company's rules for the check of a configuration (a file's path); empty: none.
QString CompanyRulesFile();
void SetCompanyRulesFile(const QString& file);

// The technician working at this station ("Техник"): every record the window makes names them.
// Asked once per station (TechnicianAsked), changed in "Настройки…"; empty: none given.
QString TechnicianSetting();
// Also marks the technician as asked.
void SetTechnicianSetting(const QString& name);
bool TechnicianAsked();

// "Настройки…": the registry's location, the company rules file and the technician. Accepted:
// kept.
class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsDialog(QWidget* parent);

  QLineEdit* registry() const { return registry_; }
  QLineEdit* rules() const { return rules_; }
  QLineEdit* technician() const { return technician_; }
  // Keeps what the fields hold; also the dialog's OK.
  void Keep();

 private:
  QLineEdit* registry_;
  QLineEdit* rules_;
  QLineEdit* technician_;
};

}  // namespace lovar
