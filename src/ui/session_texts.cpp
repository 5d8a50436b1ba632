#include "session_texts.h"

#include "session/end_texts.h"
#include "utf8.h"

namespace lovar {

const QString kFindAgain =
    QStringLiteral("Подключите прибор и найдите его снова: «Файл» → «Поиск прибора…».");
const QString kPortClosed = QStringLiteral("Порт закрыт. ") + kFindAgain;
const QString kLineLost = QStringLiteral("Связь с портом потеряна");

namespace {

const QString kUntilWhole =
    QStringLiteral("Запись в УО и сохранение недоступны до полного чтения или загрузки файла.");
// Past a model 251 file's 2048 bytes: the file is whole, the device's image is not.
const QString kSaveOnly = QStringLiteral(
    "Запись в УО недоступна до полного чтения или загрузки файла; сохранить "
    "считанное в файл можно («Файл» → «Сохранить», Ctrl+S).");
const QString kAnswersOthers = QStringLiteral("Прибор отвечает не на запросы");

}  // namespace

QString StageText(SessionStage stage) {
  switch (stage) {
    case SessionStage::Reading:
      return {};
    case SessionStage::ReadingPrior:
      return QStringLiteral("Чтение из УО перед записью: прежняя конфигурация — в архив…");
    case SessionStage::Writing:
      return QStringLiteral("Запись в УО…");
    case SessionStage::Checking:
      return QStringLiteral("Проверка записи…");
    case SessionStage::Repairing:
      return QStringLiteral("Исправление записи…");
    case SessionStage::WholeCheck:
      return {};  // the write's end already says that the whole check follows
  }
  return {};
}

QString DeviceListLine(const DeviceIdentity& device, bool demo) {
  // The Windows spooler's names end in a colon of their own.
  QString port = demo ? QStringLiteral("Демо") : Q(device.port);
  if (port.endsWith(QLatin1Char(':'))) port.chop(1);
  return port + QStringLiteral(": ") + Q(device.line);
}

QString StartedText(Operation operation) {
  switch (operation) {
    case Operation::Read:
      return QStringLiteral("Чтение из УО…");
    case Operation::LearnKey:
      return QStringLiteral("Считывание ключа: поднесите ключ к считывателю (Esc — остановить)…");
    default:
      return {};
  }
}

QString Sentence(const QString& text) {
  if (text.isEmpty() || text.endsWith(QLatin1Char('.')) || text.endsWith(QChar(u'…')) ||
      text.endsWith(QLatin1Char('?')))
    return text;
  return text + QLatin1Char('.');
}

QString PartialReadText(const SessionEnd& end) {
  return Q(end_texts::PartialRead(end.reached, end.length));
}

QString ArchivedNote(const KeptRecord& record, bool demo) {
  if (record.ok && demo) return QStringLiteral(", копия — во временном архиве демо-приборов");
  if (record.ok) return QStringLiteral(", копия — в архиве");
  return QStringLiteral(". Копия в архив не сохранена: ") + Q(record.message);
}

Said ReadEndSaid(const SessionEnd& end, const QString& archived, bool saveable) {
  const QString& until_whole = saveable ? kSaveOnly : kUntilWhole;
  // The core's line, as lovar-cli says it: the window adds only what to do next.
  const QString said = Q(end.outcome.message);
  switch (end.cause) {
    case EndCause::None:
      return {{},
              QStringLiteral("Конфигурация считана из УО (%1 байт)").arg(end.length) + archived,
              {}};
    case EndCause::NotOpen:
      return {{}, kPortClosed, {}};
    case EndCause::Declined:
    case EndCause::CheckGoesOn:
      return {{}, Sentence(said), {}};
    case EndCause::GaveUp:
    case EndCause::Stalled:
      return {kAnswersOthers, Sentence(said) + QLatin1Char(' ') + until_whole, {}};
    case EndCause::LineLost: {
      const QString read = PartialReadText(end);
      return {kLineLost,
              kLineLost + QStringLiteral(". ") + read + QStringLiteral(". ") + until_whole +
                  QLatin1Char(' ') + kFindAgain,
              said};
    }
    default:
      return {{}, said, {}};
  }
}

Said IdentifyEndSaid(const SessionEnd& end) {
  // The core's line, as lovar-cli says it: the window adds only what to do next.
  const QString said = Q(end.outcome.message);
  switch (end.cause) {
    case EndCause::NoAnswer:
      return {{}, Sentence(said), {}};
    case EndCause::GaveUp:
    case EndCause::Stalled:
      return {kAnswersOthers, Sentence(said), {}};
    case EndCause::LineLost:
      return {kLineLost, Sentence(said) + QLatin1Char(' ') + kFindAgain, said};
    default:
      return {};
  }
}

Said KeyEndSaid(const SessionEnd& end, const QString& key) {
  switch (end.cause) {
    case EndCause::None:
      return {{},
              QStringLiteral("Ключ считан: %1. Выберите строку и нажмите «Записать».").arg(key),
              {}};
    case EndCause::Cancelled:
      return {{}, QStringLiteral("Считывание ключа остановлено."), {}};
    case EndCause::TimeUp:
    case EndCause::NoAnswer:
      return {{}, Sentence(Q(end.outcome.message)), {}};
    case EndCause::GaveUp:
      return {kAnswersOthers, Sentence(Q(end.outcome.message)), {}};
    case EndCause::LineLost:
      return {kLineLost, kLineLost + QStringLiteral(". Считывание ключа прервано. ") + kFindAgain,
              kLineLost};
    default:
      return {};
  }
}

Said IncompleteSaid(int known, int length, const QString& caption, const QString& what) {
  return {caption,
          Sentence(Q(end_texts::NotWhole(known, length))) + QLatin1Char(' ') + what +
              QStringLiteral(" Считайте её из УО полностью или загрузите файл."),
          {}};
}

Said WriteEndSaid(const SessionEnd& end) {
  switch (end.cause) {
    case EndCause::NotOpen:
      return {{}, kPortClosed, {}};
    case EndCause::NotWritable:
      return {
          QStringLiteral("Запись в УО невозможна"),
          Sentence(Q(end.outcome.message)) +
              QStringLiteral(" Записать такую конфигурацию — значит стереть в приборе всё, что не "
                             "считано. "
                             "Считайте её из УО полностью или загрузите файл."),
          {}};
    case EndCause::WrongModel:
      return {QStringLiteral("Запись в УО невозможна"), Sentence(Q(end.outcome.message)), {}};
    case EndCause::CheckErrors:
      // The installer chose to go back: the status line says it, the panel lists the errors.
      return {{},
              Sentence(Q(end.outcome.message)) + QStringLiteral(" Ошибки — на панели «Проверка»."),
              {}};
    case EndCause::Refused:
      return {QStringLiteral("Запись в УО не начата"), Sentence(Q(end.outcome.message)), {}};
    default:
      break;
  }
  if (!end.report) return {};
  const WriteReport& report = *end.report;
  const QString text = Q(WriteReportText(report));
  // Done, or stopped by the installer's own page change: the status line says it.
  if (report.ok() || report.cause == WriteReport::Cause::PageChanged) return {{}, text, {}};
  if (report.cause == WriteReport::Cause::LineLost)
    return {kLineLost, Sentence(text) + QLatin1Char(' ') + kFindAgain, text};
  using O = WriteReport::Outcome;
  return {report.outcome == O::WriteStopped ? QStringLiteral("Запись в УО прервана")
          : report.outcome == O::NotStarted ? QStringLiteral("Запись в УО не начата")
                                            : QStringLiteral("Запись в УО не подтверждена"),
          text,
          {}};
}

}  // namespace lovar
