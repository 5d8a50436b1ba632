#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace lovar {

bool LoadQtTranslations(QCoreApplication& app) {
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  QLocale::setDefault(russian);
  const QString program = QCoreApplication::applicationDirPath();
  const QStringList folders = {program, program + QStringLiteral("/translations"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  auto* translator = new QTranslator(&app);
  for (const QString& folder : folders) {
    if (translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), folder))
      return QCoreApplication::installTranslator(translator);
  }
  delete translator;
  return false;
}

}  // namespace lovar
