#include "about.h"

#include <QDate>

#include "version/build_date.h"
#include "version/version.h"

namespace lovar {

QString AboutText() {
  const QDate built = QDate::fromString(QString::fromLatin1(kBuildDate), Qt::ISODate);
  return QStringLiteral("Ловар — программирование УО\nВерсия %1\nСборка от %2\nQt %3")
      .arg(QString::fromLatin1(kVersion), built.toString(QStringLiteral("dd.MM.yyyy")),
           QString::fromLatin1(qVersion()));
}

}  // namespace lovar
