#include "cli/sites_commands.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/fields_commands.h"
#include "files/config_file.h"
#include "files/environment.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/cp1251.h"
#include "session/outcome.h"
#include "store/local_time.h"
#include "store/postgres_location.h"
#include "store/registry.h"

namespace lovar {
namespace {

int Failed(const StoreResult& r) {
  return Fail(r.error == StoreError::NotFound ? Status::NotInRegistry : Status::RegistryError,
              r.message);
}

std::string ObjectText(const std::string& object) {
  return object.empty() ? "(без номера)" : object;
}

// A table with padded columns: the header, then the rows.
void PrintTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], Utf8Length(row[c]));
    }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? Utf8Padded(row[c], widths[c]) + "  " : row[c];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

std::string ModelText(int model) {
  const std::string name = ModelNameAndCode(model);
  return name.empty() ? std::to_string(model) : name;
}

// "чтение, считано (станция pc-7, оператор ivan, порт COM5)"
std::string RecordLine(const RecordInfo& r) {
  std::string line = std::string(OperationText(r.operation)) + ", " +
                     std::string(OutcomeText(r.operation, r.outcome)) + " (станция " +
                     (r.station.empty() ? "?" : r.station) + ", оператор " +
                     (r.operator_name.empty() ? "?" : r.operator_name);
  if (!r.port.empty()) line += ", порт " + r.port;
  return line + ")";
}

// What a write that did not finish, or was not proven, left: said with what it shows.
void WarnOfMix(const RecordInfo& r) {
  if (r.outcome == RecordOutcome::Stopped)
    std::fprintf(stderr,
                 "Внимание: запись не завершена — прибор мог хранить смесь прежней и этой "
                 "конфигурации\n");
  if (r.outcome == RecordOutcome::Unproven)
    std::fprintf(stderr,
                 "Внимание: запись не подтверждена — прибор мог хранить не то, что здесь\n");
}

}  // namespace

SitesCommands::SitesCommands(CLI::App& app) {
  sites_ = app.add_subcommand("sites", "Реестр объектов: все чтения и записи приборов");
  sites_->require_subcommand(1);
  const auto db = [this](CLI::App* command) {
    command->add_option("--db", db_,
                        "Реестр: файл SQLite или postgresql://пользователь@сервер/база "
                        "(без этого — LOVAR_DB, иначе файл в папке данных пользователя)");
  };
  const auto object = [this](CLI::App* command) {
    command->add_option("object", object_, "Номер объекта")->required();
    command->add_option("--model", model_, "Модель, когда номер есть у нескольких")
        ->check(CLI::IsMember({250, 251, 252}));
  };
  // A time that is no time is a mistake of the command line, said before the registry opens.
  const CLI::Validator local_time(
      [](std::string& text) -> std::string {
        StoreTime at = 0;
        return ParseLocalTime(text, at)
                   ? std::string()
                   : "нужна дата вида 2024-05-01 или 01.05.2024, можно со временем 12:30";
      },
      "ВРЕМЯ");
  const auto at = [this, local_time](CLI::App* command) {
    command
        ->add_option("--at", at_,
                     "На это время (местное): 2024-05-01, 2024-05-01 12:30, 01.05.2024 "
                     "12:30:05; без этого — последняя")
        ->check(local_time);
  };
  list_ = sites_->add_subcommand("list", "Объекты и последняя запись каждого");
  list_->add_option("prefix", object_, "Только объекты, чей номер начинается так");
  db(list_);
  history_ = sites_->add_subcommand("history", "Все записи объекта, от первой");
  object(history_);
  db(history_);
  show_ = sites_->add_subcommand("show", "Конфигурация объекта по страницам");
  object(show_);
  at(show_);
  show_->add_flag("--json", json_, "Вывести в JSON (для программ)");
  db(show_);
  export_ = sites_->add_subcommand("export", "Сохранить конфигурацию объекта в файл");
  object(export_);
  at(export_);
  export_->add_option("--out,-o", out_, "Файл конфигурации (*.dat)")->required();
  db(export_);
  sync_ =
      sites_->add_subcommand("sync", "Отправить на сервер записи, которые ждут на этой станции");
  db(sync_);
}

int SitesCommands::Run() {
  RegistryOptions options;
  std::string why;
  if (!ChooseLocation(db_, EnvironmentUtf8("LOVAR_DB").c_str(), options.location, why))
    return Fail(Status::RegistryError, why);
  options.note_waiting = !*sync_;  // sync says what it sent and what still waits
  StoreTime at = StoreTimeNow();
  if (!at_.empty()) ParseLocalTime(at_, at);  // checked as the command line was read
  StoreResult opened;
  const std::unique_ptr<Registry> registry = Registry::Open(options, opened);
  if (!registry) return Failed(opened);
  for (const std::string& note : registry->Notes()) std::fprintf(stderr, "%s\n", note.c_str());

  if (*list_) {
    std::vector<SiteSummary> sites;
    const StoreResult r = registry->Sites(object_, sites);
    if (!r.ok()) return Failed(r);
    if (sites.empty()) {
      std::fprintf(stderr, "В реестре %s нет объектов%s\n", registry->Where().c_str(),
                   object_.empty() ? "" : (", чей номер начинается с " + object_).c_str());
      return 0;
    }
    std::vector<std::vector<std::string>> rows = {
        {"Объект", "Модель", "Последняя запись", "Результат", "Станция", "Оператор"}};
    for (const SiteSummary& s : sites)
      rows.push_back({ObjectText(s.object), ModelText(s.model), LocalTimeText(s.last.time),
                      std::string(OutcomeText(s.last.operation, s.last.outcome)), s.last.station,
                      s.last.operator_name});
    PrintTable(rows);
    return 0;
  }

  if (*sync_) {
    const SyncResult sync = registry->Sync();
    if (!registry->Shared())
      std::printf("Реестр — файл на этой станции (%s): отправлять некуда\n",
                  registry->Where().c_str());
    else
      std::printf("Отправлено на %s: %d, уже были там: %d, ждут отправки: %d\n",
                  registry->Where().c_str(), sync.sent, sync.already, sync.left);
    for (const auto& [server, count] : sync.other_servers) {
      // An older version kept some records for a server named from a string it misread,
      // perhaps with its password: never shown, and never sendable.
      PostgresLocation parsed;
      std::string why;
      if (!ParsePostgresLocation(server, parsed, why))
        std::printf(
            "Ждут отправки на сервер, названный неверной строкой подключения: %d (их "
            "отправить нельзя)\n",
            count);
      else
        std::printf("Ждут отправки на %s: %d (lovar-cli sites sync --db %s)\n", server.c_str(),
                    count, server.c_str());
    }
    return sync.result.ok() ? 0 : Failed(sync.result);
  }

  if (*history_) {
    std::vector<RecordInfo> history;
    const StoreResult r = registry->History(model_, object_, history);
    if (!r.ok()) return Failed(r);
    if (history.empty())
      return Fail(Status::NotInRegistry,
                  "Объекта " + object_ + " нет в реестре " + registry->Where());
    std::vector<std::vector<std::string>> rows = {{"Дата", "Модель", "Действие", "Результат",
                                                   "Станция", "Оператор", "Порт", "Прибор", "Образ",
                                                   "Сообщение"}};
    for (const RecordInfo& h : history)
      rows.push_back({LocalTimeText(h.time), ModelText(h.model),
                      std::string(OperationText(h.operation)),
                      std::string(OutcomeText(h.operation, h.outcome)), h.station, h.operator_name,
                      h.port, h.device_line, h.image_hash.substr(0, 8), h.message});
    PrintTable(rows);
    return 0;
  }

  RecordInfo info;
  std::vector<uint8_t> bytes;
  const StoreResult r = registry->VersionAt(model_, object_, at, info, bytes);
  if (!r.ok()) return Failed(r);
  ConfigImage image;
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin());
  const int extent = static_cast<int>(bytes.size());
  const std::string when = LocalTimeText(info.time);
  if (*show_) {
    if (!json_) std::printf("Запись от %s: %s\n", when.c_str(), RecordLine(info).c_str());
    WarnOfMix(info);
    return ShowFields("объект " + ObjectText(info.object) + " в реестре, запись от " + when,
                      info.model, image, extent, json_);
  }
  // The whole image when the record has it (model 251's keys after the file's 2048 bytes, as
  // the archive keeps them); never bytes the record does not hold.
  const std::vector<uint8_t> file = extent >= ImageLength(info.model)
                                        ? SerializeWholeImage(info.model, image)
                                        : SerializeConfigFile(info.model, image);
  const FileResult saved =
      SaveFileReplacing(PathFromUtf8(out_),
                        std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
  if (!saved.ok()) return Fail(Status::FileError, DescribeError(saved));
  WarnOfMix(info);
  std::printf("Конфигурация объекта %s от %s (%s) сохранена: %s (%zu байт)\n",
              ObjectText(info.object).c_str(), when.c_str(), RecordLine(info).c_str(),
              ShownUtf8Path(out_).c_str(), file.size());
  return 0;
}

}  // namespace lovar
