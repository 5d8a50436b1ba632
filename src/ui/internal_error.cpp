#include "internal_error.h"

#include <QMetaObject>
#include <cstdio>

#include "session/outcome.h"

namespace lovar {

QString InternalErrorGuard::What(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
  }
  return QStringLiteral("неизвестное исключение");
}

QString InternalErrorGuard::Text(std::exception_ptr error, bool window_kept) {
  const QString kept = window_kept
                           ? QStringLiteral(
                                 "Действие, во время которого она случилась, не завершено; окно "
                                 "осталось открытым с тем, что в нём было. Сохраните конфигурацию "
                                 "в файл, если она нужна, и перезапустите программу.")
                           : QStringLiteral("Программа завершена.");
  return QStringLiteral(
             "Внутренняя ошибка программы: %1.\n\n%2 Если шла запись в УО, прибор "
             "может хранить её часть: считайте его заново.")
      .arg(What(error), kept);
}

void InternalErrorGuard::Caught(std::exception_ptr error) {
  const QString text = Text(error, /*window_kept=*/true);
  std::fprintf(stderr, "lovar: внутренняя ошибка программы: %s\n",
               What(error).toUtf8().constData());
  count_.fetch_add(1);
  // Never inside the delivery that failed, and never on a worker: the window thread shows it
  // once that delivery is over.
  QMetaObject::invokeMethod(
      this, [this, text] { Show(text); }, Qt::QueuedConnection);
}

void InternalErrorGuard::Show(const QString& text) {
  // Errors during the box (its own nested loop) are on stderr; the box says the first.
  if (showing_ || ending_) return;
  showing_ = true;
  dialogs_.Message(QStringLiteral("Внутренняя ошибка"), text, /*warning=*/true);
  showing_ = false;
  if (count_.load() >= kMaxErrors) {
    ending_ = true;
    std::fprintf(stderr, "lovar: внутренние ошибки повторяются, программа завершена\n");
    end_(static_cast<int>(Status::InternalError));
  }
}

}  // namespace lovar
