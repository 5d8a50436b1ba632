#include "app.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "enter_key.h"
#include "form_key.h"
#include "internal_error.h"
#include "qt_dialogs.h"
#include "qt_translations.h"
#include "serial/port_list.h"
#include "session/outcome.h"
#include "version/version.h"

namespace lovar {
namespace {

// Set by CMake where the windowing system is found through the environment (X11, Wayland).
#ifndef LOVAR_DISPLAY_FROM_ENV
#define LOVAR_DISPLAY_FROM_ENV 0
#endif
constexpr bool kDisplayFromEnvironment = LOVAR_DISPLAY_FROM_ENV != 0;

constexpr char kUsage[] =
    "Использование: lovar [--demo 250|251|252] [ФАЙЛ]\n"
    "  ФАЙЛ       файл конфигурации (*.dat): когда конфигурация прибора будет считана,\n"
    "             программа предложит загрузить этот файл в окно\n"
    "  --demo M   выбрать в списке портов встроенный демо-прибор модели M\n"
    "             (250 — Ловар-Т, 251 — Ловар-М, 252 — Ловар-Т2)\n"
    "  --version  показать версию\n";

constexpr char kNoDisplay[] =
    "lovar: нет графического дисплея (не заданы DISPLAY, WAYLAND_DISPLAY и QT_QPA_PLATFORM).\n"
    "Без окон работайте с прибором через lovar-cli (lovar-cli --help); окна можно открыть\n"
    "и без экрана: QT_QPA_PLATFORM=offscreen lovar\n";

constexpr int kInternalError = static_cast<int>(Status::InternalError);

// An exception on a thread Qt does not run (a port's receive thread), or one thrown where none
// may be: said where it can be, and the program ends with its own status, not the runtime's
// abort.
[[noreturn]] void EndOnUncaught() {
  std::fprintf(stderr, "lovar: внутренняя ошибка программы: %s\n",
               InternalErrorGuard::What(std::current_exception()).toUtf8().constData());
  std::_Exit(kInternalError);
}

}  // namespace

AppOptions ParseAppOptions(const QStringList& arguments) {
  AppOptions options;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
      options.help = true;
    } else if (a == QLatin1String("--version")) {
      options.version = true;
    } else if (a == QLatin1String("--demo") || a.startsWith(QLatin1String("--demo="))) {
      QString value;
      if (a.startsWith(QLatin1String("--demo=")))
        value = a.mid(7);
      else if (i + 1 < arguments.size())
        value = arguments[++i];
      bool ok = false;
      const int model = value.toInt(&ok);
      if (!ok || (model != 250 && model != 251 && model != 252)) {
        options.error = QStringLiteral("lovar: после --demo нужна модель 250, 251 или 252");
        return options;
      }
      options.demo_model = model;
    } else if (a.startsWith(QLatin1Char('-'))) {
      options.error = QStringLiteral("lovar: неизвестный параметр «%1»").arg(a);
      return options;
    } else if (options.file.isEmpty()) {
      options.file = a;
    } else {
      options.error = QStringLiteral("lovar: файл можно указать только один («%1»)").arg(a);
      return options;
    }
  }
  return options;
}

bool DisplayAvailable() {
  if (!kDisplayFromEnvironment) return true;
  return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
         qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

int RunLovar(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const AppOptions options = ParseAppOptions(arguments);
  if (!options.error.isEmpty()) {
    std::fprintf(stderr, "%s\n%s", options.error.toUtf8().constData(), kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("lovar %s\n", kVersion);
    return 0;
  }
  if (!DisplayAvailable()) {
    std::fputs(kNoDisplay, stderr);
    return 3;
  }
  std::set_terminate(EndOnUncaught);
  QtDialogs dialogs;
  InternalErrorGuard guard(dialogs);  // outlives the application, which delivers through it
  GuardedApplication app(argc, argv);
  app.SetGuard(&guard);
  try {
    LoadQtTranslations(app);
    InstallEnterPressesButtons(app);
    // The arguments once more as Qt has them: on Windows from the wide command line, so a file
    // name in any script arrives whole.
    const AppOptions wide = ParseAppOptions(QCoreApplication::arguments().mid(1));
    TFormKey form_key(dialogs, FillComPorts());
    if (options.demo_model != 0) form_key.ChooseDemo(options.demo_model);
    if (!wide.file.isEmpty()) form_key.OfferFileAfterRead(QFileInfo(wide.file).absoluteFilePath());
    form_key.show();
    const int status = app.exec();
    return status == 0 && guard.count() > 0 ? kInternalError : status;
  } catch (...) {
    // Outside any event: while the windows are made or taken down.
    const std::exception_ptr error = std::current_exception();
    std::fprintf(stderr, "lovar: внутренняя ошибка программы: %s\n",
                 InternalErrorGuard::What(error).toUtf8().constData());
    dialogs.Message(QStringLiteral("Внутренняя ошибка"),
                    InternalErrorGuard::Text(error, /*window_kept=*/false), /*warning=*/true);
    return kInternalError;
  }
}

}  // namespace lovar
