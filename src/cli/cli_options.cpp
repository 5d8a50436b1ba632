#include "cli/cli_options.h"

#include <cstdio>

#include "cli/write_check.h"
#include "session/outcome.h"
#include "version/version.h"

namespace lovar {
namespace {

struct ExitStatusText {
  int status;
  const char* text;
};
constexpr ExitStatusText kExitStatuses[] = {
    {int(Status::Ok), "успешно"},
    {kExitDiffer, "diff: конфигурации различаются"},
    {int(Status::PortError),
     "порта нет, он занят, нет доступа к нему или сервер портов недоступен"},
    {int(Status::NoAnswer), "прибор не отвечает"},
    {int(Status::WrongModel), "файл или прибор другой модели («Неверный тип УО»)"},
    {int(Status::FileError),
     "файл не читается, повреждён, не записывается или это не обычный файл"},
    {int(Status::WriteStopped),
     "запись прервалась до конца; прибор может хранить смесь старой и новой конфигурации"},
    {int(Status::VerifyMismatch), "запись не подтверждена: проверка нашла отличие"},
    {int(Status::LineLost),
     "связь с портом потеряна (линия положена, адаптер вынут, соединение с сервером портов "
     "разорвано)"},
    {int(Status::KeyTimeout), "ключ не поднесён к считывателю"},
    {int(Status::Interrupted), "прервано (Ctrl-C или SIGTERM)"},
    {int(Status::GaveUp), "прибор отвечает, но не на запрос"},
    {int(Status::PlanRefused), "batch: в плане ошибки, ни один прибор не тронут"},
    {int(Status::NotAllWritten), "batch: не все приборы хранят свою конфигурацию"},
    {kExitCheckWarnings, "check: только предупреждения"},
    {kExitCheckErrors, "check: есть ошибки; write: в файле ошибки, ничего не записано"},
    {int(Status::RegistryError),
     "реестр не открывается (неверное место или строка подключения, сервер отказал, чужой "
     "файл, не реестр или создан более новой версией программы); sites: ещё недоступен, занят, "
     "только для чтения"},
    {int(Status::NotInRegistry), "sites: такого объекта или его конфигурации на это время нет"},
    {int(Status::NotRecorded),
     "read, write, batch: работа сделана, но запись о ней не сохранена ни в реестре, ни рядом с "
     "ним"},
    {int(Status::OverDrift),
     "write, batch: запись изменила бы поля, изменённые в приборе не через Ловар (без "
     "--over-drift), прибор не изменён"},
    {int(Status::ChangeNotApplied),
     "change apply: изменение не применено к этому прибору (конфликт, изменение закрыто или "
     "приостановлено, объект его не ждёт)"},
    {int(Status::InternalError),
     "внутренняя ошибка программы: команда прервана, сообщение об ошибке на stderr"},
};

std::string ExitStatusFooter() {
  std::string footer = "Коды возврата:\n";
  for (const ExitStatusText& e : kExitStatuses) {
    char line[16];
    std::snprintf(line, sizeof line, "  %d  ", e.status);
    footer += line;
    footer += e.text;
    footer += '\n';
  }
  return footer;
}

}  // namespace

CliCommands DefineCliOptions(CLI::App& app, CliOptions& o) {
  app.name("lovar-cli");
  app.description("lovar-cli: чтение и запись конфигурации УО Ловар через последовательный порт");
  // A path such as "/tmp/x.dat" is a path on every system, never a Windows-style "/option";
  // set before the commands are added, which take it over.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", std::string("lovar-cli ") + kVersion, "Показать версию");
  app.footer(ExitStatusFooter());
  app.require_subcommand(1);
  app.fallthrough();  // --retries may also follow the command
  app.add_option("--retries", o.retries,
                 "Сколько раз подряд повторять запрос, когда прибор не отвечает")
      ->default_val(3)
      ->check(CLI::Range(0, 1000));

  CliCommands c;
  c.ports = app.add_subcommand("ports", "Список портов, которые можно открыть");
  c.identify = app.add_subcommand("identify", "Найти прибор и показать его тип и версию");
  c.identify
      ->add_option("--port,-p", o.port,
                   "Порт: например /dev/ttyUSB0, COM5, или порт сервера портов "
                   "socket://узел:порт, rfc2217://узел:порт")
      ->required();
  c.read = app.add_subcommand("read", "Считать конфигурацию из УО в файл");
  c.read->add_option("--port,-p", o.port, "Порт")->required();
  c.read->add_option("--out,-o", o.out, "Файл конфигурации (*.dat)")->required();
  c.read->add_option("--archive", o.archive,
                     "Папка архива: туда же копия считанной конфигурации (хранятся 100 последних)");
  AddRecordOptions(*c.read, o.record);
  c.write = app.add_subcommand("write", "Записать конфигурацию из файла в УО");
  c.write->add_option("--port,-p", o.port, "Порт")->required();
  c.write->add_option("file", o.file, "Файл конфигурации (*.dat)")->required();
  c.write->add_flag("--no-verify", o.no_verify,
                    "Не проверять запись (без проверки прибор не считывается после записи)");
  c.write->add_flag("--verify", o.verify)->group("");
  c.write->add_flag("--full", o.full,
                    "Записать все блоки, а не только отличающиеся от считанных из прибора");
  c.write->add_option("--archive", o.archive,
                      "Папка архива: перед записью прибор считывается, и его прежняя конфигурация "
                      "сохраняется туда");
  AddCheckOptions(*c.write, o.rules, o.allowed);
  AddRecordOptions(*c.write, o.record);
  AddOverDriftOption(*c.write, o.over_drift);
  c.key = app.add_subcommand("key", "Считать ключ, поднесённый к считывателю");
  c.key->add_option("--port,-p", o.port, "Порт")->required();
  c.key->add_option("--wait", o.key_wait, "Сколько секунд ждать ключ")
      ->default_val(60)
      ->check(CLI::Range(1, 3600));
  c.fields = std::make_unique<FieldsCommands>(app);
  c.batch = std::make_unique<BatchCommand>(app);
  c.check = std::make_unique<CheckCommand>(app);
  c.sites = std::make_unique<SitesCommands>(app);
  c.change = std::make_unique<ChangeCommands>(app);
  return c;
}

}  // namespace lovar
