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
  // ":/translations" is the copy built into the program (the Windows build, one .exe).
  const QStringList folders = {QStringLiteral(":/translations"), program,
                               program + QStringLiteral("/translations"),
                               QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
  auto* translator = new QTranslator(&app);
  // qtbase_ru.qm as Qt ships it, or qt_ru.qm as windeployqt combines the catalogues.
  for (const QString& folder : folders) {
    for (const QString& name : {QStringLiteral("qtbase"), QStringLiteral("qt")})
      if (translator->load(russian, name, QStringLiteral("_"), folder))
        return QCoreApplication::installTranslator(translator);
  }
  delete translator;
  return false;
}

}  // namespace lovar
