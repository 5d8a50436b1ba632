#include "cli/sites_commands.h"

#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

#include "cli/fields_commands.h"
#include "cli/site_filter_options.h"
#include "files/config_file.h"
#include "files/environment.h"
#include "files/table_text.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/cp1251.h"
#include "model/drift.h"
#include "session/outcome.h"
#include "store/local_time.h"
#include "store/postgres_location.h"
#include "store/postgres_roles.h"
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

// rows: the titles, then the rows; keys: the columns' names in JSON.
void PrintRows(const std::string& format, std::vector<std::string> keys,
               std::vector<std::vector<std::string>> rows) {
  TextTable table;
  table.keys = std::move(keys);
  table.titles = std::move(rows.front());
  rows.erase(rows.begin());
  table.rows = std::move(rows);
  TableFormat chosen = TableFormat::Table;
  TableFormatOf(format, chosen);  // checked as the command line was read
  std::fputs(TableText(table, chosen).c_str(), stdout);
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

// "заменена записью …" for a record corrected, "заменяет запись …" for its correction.
std::string SupersededText(const RecordInfo& r) {
  if (!r.superseded_by.empty()) return "заменена записью " + r.superseded_by;
  if (!r.supersedes.empty()) return "заменяет запись " + r.supersedes;
  return {};
}

// A card's status as a person reads it.
std::string StatusText(const std::string& status) {
  if (status == "active") return "обслуживается";
  if (status == "suspended") return "приостановлен";
  if (status == "removed") return "снят";
  return status;
}

// What a write that did not finish, or was not proven, left: said with what it shows; and a
// record corrected by a later one.
void WarnOfMix(const RecordInfo& r) {
  if (!r.superseded_by.empty())
    std::fprintf(stderr, "Внимание: запись %s исправлена: её заменяет запись %s\n", r.id.c_str(),
                 r.superseded_by.c_str());
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
        ->check(CLI::IsMember(KnownModels()));
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
  const auto format = [this](CLI::App* command) {
    command
        ->add_option("--format", format_,
                     "Вид: table (таблица), csv (для таблиц: UTF-8, «;»), json (для программ)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
  };
  list_ = sites_->add_subcommand("list", "Объекты и последняя запись каждого");
  format(list_);
  list_->add_option("prefix", object_, "Только объекты, чей номер начинается так");
  AddSiteFilterOptions(*list_, filter_);
  db(list_);
  history_ = sites_->add_subcommand("history", "Все записи объекта, от первой");
  format(history_);
  object(history_);
  db(history_);
  show_ = sites_->add_subcommand("show", "Конфигурация объекта по страницам");
  object(show_);
  at(show_);
  show_->add_flag("--json", json_, "Вывести в JSON (для программ); то же, что --format json");
  format(show_);
  show_->add_flag("--card", card_,
                  "Карточка объекта и все её версии; объект — номер в реестре или название");
  db(show_);
  export_ = sites_->add_subcommand("export", "Сохранить конфигурацию объекта в файл");
  object(export_);
  at(export_);
  export_->add_option("--out,-o", out_, "Файл конфигурации (*.dat)")->required();
  db(export_);
  sync_ =
      sites_->add_subcommand("sync", "Отправить на сервер записи, которые ждут на этой станции");
  db(sync_);

  const auto technician = [this](CLI::App* command) {
    command->add_option("--operator", technician_, "Техник (иначе LOVAR_OPERATOR)");
  };
  const auto card = [this](CLI::App* command) {
    const std::pair<const char*, std::string*> options[] = {
        {"--name", &name_},         {"--customer", &customer_}, {"--phones", &phones_},
        {"--contract", &contract_}, {"--status", &status_},     {"--installed", &installed_},
        {"--remark", &remark_}};
    const char* texts[] = {"Название объекта, обычно адрес",
                           "Заказчик, абонент",
                           "Контактные телефоны",
                           "Номер договора или лицевого счёта",
                           ("Состояние: active (обслуживается), suspended (приостановлен), "
                            "removed (снят)"),
                           "Дата установки",
                           "Примечание"};
    for (size_t i = 0; i < std::size(options); ++i) {
      CLI::Option* option = command->add_option(options[i].first, *options[i].second, texts[i]);
      if (options[i].second == &status_)
        option->check(CLI::IsMember({"active", "suspended", "removed"}));
    }
  };
  add_ = sites_->add_subcommand("add", "Новый объект реестра; выводит его номер");
  add_->add_option("name", name_, "Название объекта, обычно адрес")->required();
  card(add_);
  technician(add_);
  db(add_);
  set_ = sites_->add_subcommand("set", "Изменить карточку объекта (новая версия карточки)");
  set_->add_option("site", site_, "Объект: номер в реестре или название")->required();
  card(set_);
  technician(set_);
  db(set_);
  records_ = sites_->add_subcommand("records", "Записи объекта с их кодами");
  records_->add_option("site", site_, "Объект: номер в реестре или название; «-» — без объекта")
      ->required();
  format(records_);
  db(records_);
  assign_ = sites_->add_subcommand("assign", "Отнести запись к объекту");
  assign_->add_option("record", record_, "Код записи (lovar-cli sites records)")->required();
  assign_->add_option("site", site_, "Объект: номер в реестре или название")->required();
  technician(assign_);
  db(assign_);
  diff_ = sites_->add_subcommand(
      "diff", "Сравнить две версии конфигурации объекта по полям (без A и B — две последние)");
  diff_->add_option("site", site_, "Объект: номер в реестре или название")->required();
  diff_->add_option("a", version_a_, "Версия A: код записи или время (местное)");
  diff_->add_option("b", version_b_, "Версия B: код записи или время; без этого — последняя");
  db(diff_);
  drift_ = sites_->add_subcommand(
      "drift", "Объекты, чьё последнее чтение нашло изменения не через Ловар, с этими полями");
  drift_->add_option("site", site_, "Только этот объект: номер в реестре или название");
  format(drift_);
  db(drift_);
  roles_ = sites_->add_subcommand(
      "roles", "Роли сервера PostgreSQL: вывести сценарий или выполнить его (--apply)");
  roles_->add_flag("--apply", apply_,
                   "Выполнить сценарий на сервере --db от имени владельца схемы lovar");
  db(roles_);
  access_ = sites_->add_subcommand(
      "access", "Журнал доступа: кто, когда и зачем читал коды и ключи открытыми");
  access_->add_option("--since", since_, "С этого времени (местного): 2024-05-01, 01.05.2024 12:30")
      ->check(local_time);
  format(access_);
  db(access_);
  supersede_ = sites_->add_subcommand(
      "supersede", "Исправить запись: новая запись, которая заменяет ошибочную (та не меняется)");
  supersede_->add_option("record", record_, "Код ошибочной записи (lovar-cli sites records)")
      ->required();
  supersede_->add_option("--note", text_, "Что исправлено и почему")->required();
  supersede_->add_option("--site", site_,
                         "Объект новой записи: номер в реестре или название (без этого — тот же)");
  technician(supersede_);
  db(supersede_);
  purge_ = sites_->add_subcommand(
      "purge", "Стереть коды и ключи во всех конфигурациях снятого объекта (администратор)");
  purge_->add_option("site", site_, "Снятый объект: номер в реестре или название")->required();
  technician(purge_);
  db(purge_);
  for (CLI::App* reads : {show_, export_, diff_}) technician(reads);
  note_ = sites_->add_subcommand("note", "Добавить к записи примечание");
  note_->add_option("record", record_, "Код записи (lovar-cli sites records)")->required();
  note_->add_option("text", text_, "Текст примечания")->required();
  technician(note_);
  db(note_);
}

int SitesCommands::Diff(Registry& registry, int64_t site) {
  std::vector<RecordInfo> history;
  const StoreResult r = registry.SiteHistory(site, history);
  if (!r.ok()) return Failed(r);
  std::vector<const RecordInfo*> versions;
  for (const RecordInfo& h : history)
    if (!h.image_hash.empty()) versions.push_back(&h);
  // A version: a record of the site by its id, or the newest at or before a time.
  const auto version = [&](const std::string& wanted, const RecordInfo*& out) -> std::string {
    for (const RecordInfo* v : versions)
      if (v->id == wanted) out = v;
    StoreTime at = 0;
    if (out == nullptr && ParseLocalTime(wanted, at))
      for (const RecordInfo* v : versions)
        if (v->time <= at) out = v;
    return out != nullptr ? std::string() : "у объекта нет версии «" + wanted + "»";
  };
  const RecordInfo* a = nullptr;
  const RecordInfo* b = nullptr;
  std::string why;
  if (!version_b_.empty())
    why = version(version_b_, b);
  else if (!versions.empty())
    b = versions.back();
  if (why.empty() && !version_a_.empty()) {
    why = version(version_a_, a);
  } else if (why.empty() && b != nullptr) {
    for (const RecordInfo* v : versions)
      if (v != b && v->time <= b->time) a = v;
  }
  if (why.empty() && (a == nullptr || b == nullptr))
    why = "у объекта меньше двух версий конфигурации";
  if (why.empty() && a->model != b->model)
    why = "версии разных моделей: " + ModelText(a->model) + " и " + ModelText(b->model);
  if (!why.empty()) return Fail(Status::NotInRegistry, "Объект " + site_ + ": " + why);
  ConfigImage images[2];
  int extents[2] = {0, 0};
  const RecordInfo* sides[2] = {a, b};
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> bytes;
    const StoreResult read =
        registry.ClearImage(sides[i]->id, CodesAccess::Show, Technician(), bytes);
    if (!read.ok()) return Failed(read);
    std::copy(bytes.begin(), bytes.end(), images[i].bytes().begin());
    extents[i] = static_cast<int>(bytes.size());
    WarnOfMix(*sides[i]);
  }
  const auto name = [](const RecordInfo* v) {
    return "запись " + v->id + " от " + LocalTimeText(v->time) + ": " + RecordLine(*v);
  };
  return DiffFields(name(a), name(b), a->model, images[0], extents[0], images[1], extents[1]);
}

std::string SitesCommands::Technician() const {
  return !technician_.empty() ? technician_ : EnvironmentUtf8("LOVAR_OPERATOR");
}

int SitesCommands::Access(Registry& registry) {
  StoreTime since = 0;
  if (!since_.empty()) ParseLocalTime(since_, since);  // checked as the command line was read
  std::vector<AccessEntry> log;
  const StoreResult r = registry.AccessLog(since, log);
  if (!r.ok()) return Failed(r);
  if (log.empty() && format_ == "table") {
    std::fprintf(stderr, "Коды открытыми не читали%s\n",
                 since_.empty() ? "" : (" с " + since_).c_str());
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {
      {"Дата", "Пользователь", "Станция", "Техник", "Запись", "Объект", "Зачем"}};
  for (const AccessEntry& e : log)
    rows.push_back({LocalTimeText(e.at), e.role, e.station, e.technician, e.record,
                    e.site == 0 ? "объект не указан" : std::to_string(e.site),
                    std::string(AccessText(e.why))});
  PrintRows(format_, {"time", "role", "station", "technician", "record", "site", "why"}, rows);
  return 0;
}

int SitesCommands::Drift(Registry& registry, int64_t site) {
  std::vector<SiteEntry> drifted;
  const StoreResult r = registry.DriftedSites(site, drifted);
  if (!r.ok()) return Failed(r);
  if (drifted.empty()) {
    std::fprintf(stderr, "%s\n",
                 site == 0 ? "Изменений не через Ловар не найдено: у всех объектов последнее "
                             "чтение совпало с реестром"
                           : "У объекта последнее чтение совпало с реестром");
    if (format_ == "table") return 0;
  }
  std::vector<std::vector<std::string>> rows = {{"Объект реестра", "Название", "Модель", "Номер",
                                                 "Чтение", "Запись", "Станция", "Техник", "Поля",
                                                 "Изменено не через Ловар"}};
  for (const SiteEntry& e : drifted) {
    const std::vector<std::string> ids = DriftIds(e.last.drift);
    std::string fields, names;
    for (const std::string& id : ids) {
      fields += (fields.empty() ? "" : ", ") + id;
      const Field* f = FindFieldById(e.last.model, id);
      names += (names.empty() ? "" : "; ") + (f != nullptr ? DriftFieldName(*f) : id);
    }
    rows.push_back({std::to_string(e.card.site), e.card.name, ModelText(e.last.model),
                    e.last.object, LocalTimeText(e.last.time), e.last.id, e.last.station,
                    e.last.technician, fields, names});
  }
  PrintRows(format_,
            {"site", "name", "model", "object", "time", "record", "station", "technician", "fields",
             "changed"},
            rows);
  return 0;
}

int SitesCommands::List(Registry& registry) {
  filter_.object_prefix = object_;
  std::vector<SiteEntry> sites;
  StoreResult r = registry.SiteList(filter_, sites);
  if (!r.ok()) return Failed(r);
  if (sites.empty())
    std::fprintf(stderr, "%s\n",
                 filter_.Empty() ? ("В реестре " + registry.Where() + " нет объектов").c_str()
                                 : "Таких объектов в реестре нет");
  // Records of no site are no site's row: said, so that nothing kept is out of sight.
  std::vector<RecordInfo> unplaced;
  if (filter_.Empty() && registry.SiteHistory(0, unplaced).ok() && !unplaced.empty())
    std::fprintf(stderr, "Записей без объекта: %zu (lovar-cli sites records -)\n", unplaced.size());
  // A program still gets its (empty) table.
  if (sites.empty() && format_ == "table") return 0;
  std::vector<std::vector<std::string>> rows = {{"Объект", "Модель", "Последняя запись",
                                                 "Результат", "Станция", "Оператор", "Техник",
                                                 "Объект реестра", "Состояние"}};
  for (const SiteEntry& s : sites) {
    const RecordInfo& last = s.last;
    const bool any = !last.id.empty();
    rows.push_back({any ? ObjectText(last.object) : "", any ? ModelText(last.model) : "",
                    any ? LocalTimeText(last.time) : "нет записей",
                    any ? std::string(OutcomeText(last.operation, last.outcome)) : "", last.station,
                    last.operator_name, last.technician,
                    std::to_string(s.card.site) + " " + s.card.name, StatusText(s.card.status)});
  }
  PrintRows(
      format_,
      {"object", "model", "time", "outcome", "station", "operator", "technician", "site", "status"},
      rows);
  return 0;
}

int SitesCommands::RunSiteCommands(Registry& registry) {
  const std::string technician = Technician();
  int64_t site = 0;
  if (!site_.empty() && !(*records_ && site_ == "-")) {
    const StoreResult found = registry.FindSite(site_, site);
    if (!found.ok()) return Failed(found);
  }
  if (*supersede_) {
    std::string id;
    const StoreResult r = registry.Supersede(record_, site, text_, technician, id);
    if (!r.ok()) return Failed({r.error, r.message + ". Реестр не изменён"});
    std::printf("Запись %s заменена записью %s\n", record_.c_str(), id.c_str());
    return 0;
  }
  if (*purge_) {
    int images = 0;
    const StoreResult r = registry.Purge(site, technician, images);
    if (!r.ok()) return Failed({r.error, r.message + ". Коды и ключи не стёрты"});
    std::printf("Коды и ключи объекта %s стёрты в его конфигурациях (образов: %d)\n",
                std::to_string(site).c_str(), images);
    return 0;
  }
  if (*assign_ || *note_) {
    const StoreResult r = *assign_ ? registry.Assign(record_, site, technician)
                                   : registry.AddNote(record_, text_, technician);
    if (!r.ok()) return Failed(r);
    std::printf(
        *assign_ ? "Запись %s отнесена к объекту %s\n" : "Примечание к записи %s добавлено\n",
        record_.c_str(), std::to_string(site).c_str());
    return 0;
  }
  if (*add_ || *set_) {
    SiteCard card;
    if (*set_) {
      // The new version is the card as it is, with what is given changed.
      SiteEntry entry;
      const StoreResult r = registry.Site(site, entry);
      if (!r.ok()) return Failed(r);
      card = entry.card;
    }
    // What is given is changed, even to empty (--remark ""); the rest stays as it was.
    CLI::App* command = *add_ ? add_ : set_;
    const std::tuple<const char*, std::string*, std::string*> given[] = {
        {"--name", &name_, &card.name},       {"--customer", &customer_, &card.customer},
        {"--phones", &phones_, &card.phones}, {"--contract", &contract_, &card.contract},
        {"--status", &status_, &card.status}, {"--installed", &installed_, &card.installed},
        {"--remark", &remark_, &card.remark}};
    const SiteCard before = card;
    for (const auto& [flag, option, value] : given)
      if (command->count(flag) > 0 || (*add_ && value == &card.name)) *value = *option;
    card.technician = technician;
    if (card.name.empty())
      return Fail(Status::RegistryError, "У объекта должно быть название: карточка не изменена");
    if (*set_ && card.name == before.name && card.customer == before.customer &&
        card.phones == before.phones && card.contract == before.contract &&
        card.status == before.status && card.installed == before.installed &&
        card.remark == before.remark) {
      std::printf("Карточка объекта %s не изменена: в ней уже это\n", std::to_string(site).c_str());
      return 0;
    }
    // The same name on two cards is allowed (two devices at one address), and said: such a
    // name no longer names one site.
    std::vector<int64_t> named;
    if (card.name != before.name && registry.SitesNamed(card.name, named).ok() && !named.empty())
      std::fprintf(stderr, "Внимание: название «%s» уже есть у объекта %s; называйте их номерами\n",
                   card.name.c_str(), std::to_string(named.front()).c_str());
    const StoreResult r = *add_ ? registry.NewSite(card, site) : registry.AddCard(card);
    if (!r.ok()) return Failed(r);
    std::printf(*add_ ? "Объект %s добавлен: %s\n" : "Карточка объекта %s изменена: %s\n",
                std::to_string(site).c_str(), card.name.c_str());
    return 0;
  }
  if (*diff_) return Diff(registry, site);
  if (*drift_) return Drift(registry, site);
  if (card_) {
    std::vector<SiteCard> cards;
    const StoreResult r = registry.Cards(site, cards);
    if (!r.ok()) return Failed(r);
    if (json_) format_ = "json";
    if (format_ != "table") {
      // Every version with all its fields, for a spreadsheet or a program.
      std::vector<std::vector<std::string>> rows = {
          {"Номер в реестре", "Версия", "Дата", "Техник", "Пользователь", "Название", "Заказчик",
           "Телефоны", "Договор", "Состояние", "Установлен", "Примечание"}};
      for (size_t i = 0; i < cards.size(); ++i) {
        const SiteCard& v = cards[i];
        rows.push_back({std::to_string(site), std::to_string(i + 1), LocalTimeText(v.at),
                        v.technician, v.role, v.name, v.customer, v.phones, v.contract, v.status,
                        v.installed, v.remark});
      }
      PrintRows(format_,
                {"site", "version", "time", "technician", "role", "name", "customer", "phones",
                 "contract", "status", "installed", "remark"},
                rows);
      return 0;
    }
    const SiteCard& c = cards.back();
    const std::string status = StatusText(c.status);
    const std::pair<const char*, const std::string*> lines[] = {
        {"Объект", &c.name},      {"Заказчик", &c.customer}, {"Телефоны", &c.phones},
        {"Договор", &c.contract}, {"Состояние", &status},    {"Установлен", &c.installed},
        {"Примечание", &c.remark}};
    std::printf("Номер в реестре: %s\n", std::to_string(site).c_str());
    for (const auto& [label, value] : lines) std::printf("%s: %s\n", label, value->c_str());
    std::vector<std::vector<std::string>> rows = {
        {"Версия", "Дата", "Техник", "Пользователь", "Название", "Состояние"}};
    for (size_t i = 0; i < cards.size(); ++i)
      rows.push_back({std::to_string(i + 1), LocalTimeText(cards[i].at), cards[i].technician,
                      cards[i].role, cards[i].name, StatusText(cards[i].status)});
    PrintRows("table", {}, rows);
    return 0;
  }
  // records
  std::vector<RecordInfo> history;
  std::vector<RecordNote> notes;
  StoreResult r = registry.SiteHistory(site, history);
  if (r.ok()) r = registry.SiteNotes(site, notes);
  if (!r.ok()) return Failed(r);
  if (history.empty()) {
    std::fprintf(stderr, "%s\n", site == 0 ? "Записей без объекта нет" : "У объекта нет записей");
    return 0;
  }
  std::vector<std::vector<std::string>> rows = {{"Запись", "Дата", "Модель", "Номер", "Действие",
                                                 "Результат", "Станция", "Техник", "Причина",
                                                 "Замена"}};
  for (const RecordInfo& h : history) {
    rows.push_back({h.id, LocalTimeText(h.time), ModelText(h.model), h.object,
                    std::string(OperationText(h.operation)),
                    std::string(OutcomeText(h.operation, h.outcome)), h.station, h.technician,
                    h.note, SupersededText(h)});
    for (const RecordNote& n : notes)
      if (n.record == h.id)
        rows.push_back({"", LocalTimeText(n.at), "", "", "примечание", "", n.station, n.technician,
                        n.text, ""});
  }
  PrintRows(format_,
            {"record", "time", "model", "object", "operation", "outcome", "station", "technician",
             "note", "superseded"},
            rows);
  return 0;
}

int SitesCommands::Run() {
  RegistryOptions options;
  std::string why;
  if (*roles_ && !apply_) {
    std::fputs(PostgresRolesScript().c_str(), stdout);
    return 0;
  }
  if (!ChooseLocation(db_, EnvironmentUtf8("LOVAR_DB").c_str(), options.location, why))
    return Fail(Status::RegistryError, why);
  if (*roles_) {
    if (!options.location.shared)
      return Fail(Status::RegistryError,
                  "Роли есть только у сервера PostgreSQL: укажите --db postgresql://…");
    const StoreResult r = ApplyPostgresRoles(options.location.text, options.store);
    if (!r.ok())
      return Failed({r.error, PostgresWhere(options.location.text) + ": " + r.message +
                                  ". Роли не изменены"});
    std::printf("Роли lovar_station, lovar_office, lovar_codes, lovar_admin заданы на %s\n",
                PostgresWhere(options.location.text).c_str());
    return 0;
  }
  options.note_waiting = !*sync_;  // sync says what it sent and what still waits
  StoreTime at = StoreTimeNow();
  if (!at_.empty()) ParseLocalTime(at_, at);  // checked as the command line was read
  StoreResult opened;
  const std::unique_ptr<Registry> registry = Registry::Open(options, opened);
  if (!registry) return Failed(opened);
  for (const std::string& note : registry->Notes()) std::fprintf(stderr, "%s\n", note.c_str());
  if (card_) site_ = object_;
  if (*add_ || *set_ || card_ || *records_ || *assign_ || *note_ || *diff_ || *supersede_ ||
      *purge_ || *drift_)
    return RunSiteCommands(*registry);
  if (*access_) return Access(*registry);

  if (*list_) return List(*registry);

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
    std::vector<std::vector<std::string>> rows = {
        {"Дата", "Модель", "Действие", "Результат", "Станция", "Оператор", "Порт", "Прибор",
         "Образ", "Сообщение", "Техник", "Причина", "Запись", "Замена"}};
    for (const RecordInfo& h : history)
      rows.push_back({LocalTimeText(h.time), ModelText(h.model),
                      std::string(OperationText(h.operation)),
                      std::string(OutcomeText(h.operation, h.outcome)), h.station, h.operator_name,
                      h.port, h.device_line, h.image_hash.substr(0, 8), h.message, h.technician,
                      h.note, h.id, SupersededText(h)});
    PrintRows(format_,
              {"time", "model", "operation", "outcome", "station", "operator", "port", "device",
               "image", "message", "technician", "note", "record", "superseded"},
              rows);
    return 0;
  }

  RecordInfo info;
  std::vector<uint8_t> bytes;
  const StoreResult r =
      registry->VersionAt(model_, object_, at, info, bytes,
                          *show_ ? CodesAccess::Show : CodesAccess::Export, Technician());
  if (!r.ok()) return Failed(r);
  ConfigImage image;
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin());
  const int extent = static_cast<int>(bytes.size());
  const std::string when = LocalTimeText(info.time);
  if (*show_) {
    if (json_) format_ = "json";
    if (format_ == "table")
      std::printf("Запись от %s: %s\n", when.c_str(), RecordLine(info).c_str());
    WarnOfMix(info);
    if (format_ == "csv") {
      // A row per field the record holds, as a spreadsheet takes it.
      std::vector<std::vector<std::string>> rows = {{"Страница", "Поле", "Код поля", "Значение"}};
      for (const Field& f : Fields(info.model))
        if (InExtent(f, extent))
          rows.push_back(
              {std::string(PageOf(f.page).caption), f.caption, f.id, FieldText(f, image)});
      PrintRows(format_, {"page", "field", "id", "value"}, rows);
      return 0;
    }
    return ShowFields("объект " + ObjectText(info.object) + " в реестре, запись от " + when,
                      info.model, image, extent, format_ == "json");
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
