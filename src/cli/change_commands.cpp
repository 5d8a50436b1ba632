#include "cli/change_commands.h"

#include "cli/site_filter_options.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <utility>

#include "change/change_plan.h"
#include "cli/cli_recording.h"
#include "cli/console.h"
#include "cli/session_runner.h"
#include "cli/site_filter_options.h"
#include "cli/write_check.h"
#include "files/environment.h"
#include "files/table_text.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "serial/event_loop.h"
#include "serial/tcport.h"
#include "session/outcome.h"
#include "store/local_time.h"
#include "store/registry.h"
#include "store/sha256.h"
#include "store/store_os.h"

namespace lovar {
namespace {

// The store's setting: whether a new plan waits for the office's approval ("on"), off unless set.
constexpr std::string_view kApprovalSetting = "change.approval_required";

int Failed(const StoreResult& r) {
  return Fail(r.error == StoreError::NotFound ? Status::NotInRegistry : Status::RegistryError,
              r.message);
}

std::string ChangesText(const std::vector<PlanFieldChange>& changes) {
  std::string text;
  for (const PlanFieldChange& c : changes)
    text += (text.empty() ? "" : "; ") + c.field + ": " + (c.before.empty() ? "«»" : c.before) +
            " -> " + (c.after.empty() ? "«»" : c.after);
  return text;
}

std::string SiteText(const PlanSite& s) {
  return std::to_string(s.site) + (s.site_name.empty() ? "" : " " + s.site_name);
}

std::string StateText(const PlanSite& s) {
  return s.applying ? "применяется" : std::string(PlanStateText(s.state));
}

std::string CountsLine(const PlanCounts& c) {
  return "Объектов: " + std::to_string(c.total()) + "; ждут: " + std::to_string(c.pending) +
         (c.applying > 0 ? " (применяются: " + std::to_string(c.applying) + ")" : "") +
         ", сделано: " + std::to_string(c.done) + ", не удалось: " + std::to_string(c.failed) +
         ", конфликт: " + std::to_string(c.conflict) + ", пропущено: " + std::to_string(c.skipped);
}

// The plan's state as a line: open, waiting for approval, paused, cancelled.
std::string PlanLine(const ChangePlan& plan) {
  std::string line = "Изменение «" + plan.name + "» от " + LocalTimeText(plan.at) +
                     (plan.technician.empty() ? "" : ", техник " + plan.technician) +
                     (plan.station.empty() ? "" : ", станция " + plan.station);
  const std::string closed = PlanClosedWhy(plan);
  return line + "\nСостояние: " + (closed.empty() ? "применяется на приборах" : closed);
}

}  // namespace

ChangeCommands::ChangeCommands(CLI::App& app) {
  change_ = app.add_subcommand("change", "Одно изменение для многих объектов реестра");
  change_->require_subcommand(1);
  const auto db = [this](CLI::App* command) {
    command->add_option("--db", db_,
                        "Реестр: файл SQLite или postgresql://пользователь@сервер/база "
                        "(без этого — LOVAR_DB, иначе файл в папке данных пользователя)");
  };
  const auto name = [this](CLI::App* command) {
    command->add_option("name", name_, "Название изменения")->required();
  };
  const auto technician = [this](CLI::App* command) {
    command->add_option("--operator", technician_, "Техник (иначе LOVAR_OPERATOR)");
  };
  new_ = change_->add_subcommand(
      "new", "Новое изменение: для каждого объекта — поля «было -> станет» и проверка");
  name(new_);
  new_->add_option("--set", sets_,
                   "ПОЛЕ=ЗНАЧЕНИЕ, например direction1.phone=+74950000000 (можно несколько)")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) {
            PlanSetting s;
            std::string why;
            return ParsePlanSetting(text, s, why) ? std::string() : why;
          },
          "ПОЛЕ=ЗНАЧЕНИЕ"));
  new_->add_option("--site", sites_,
                   "Объект: номер в реестре или название (можно несколько; без этого и без "
                   "отбора — все)");
  AddSiteFilterOptions(*new_, filter_);
  new_->add_option("--max-failures", max_failures_,
                   "После стольких неудач изменение приостанавливается для всех станций (0 — "
                   "никогда)")
      ->check(CLI::Range(0, 1000000));
  AddCheckOptions(*new_, rules_, allowed_);
  technician(new_);
  db(new_);
  show_ = change_->add_subcommand("show", "Изменение по объектам: поля, проверка, состояние");
  name(show_);
  db(show_);
  status_ = change_->add_subcommand("status", "Состояние изменения по объектам, со счётом");
  name(status_);
  status_
      ->add_option("--format", format_,
                   "Вид: table (таблица), csv (для таблиц: UTF-8, «;»), json (для программ)")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  db(status_);
  approve_ = change_->add_subcommand("approve", "Утвердить изменение (офис)");
  cancel_ = change_->add_subcommand("cancel", "Отменить изменение: больше ни один прибор");
  resume_ = change_->add_subcommand("resume", "Возобновить изменение, приостановленное неудачами");
  for (CLI::App* command : {approve_, cancel_, resume_}) {
    name(command);
    technician(command);
    db(command);
  }
  apply_ = change_->add_subcommand(
      "apply", "Применить изменение к прибору: считать, найти объект, записать изменённое");
  name(apply_);
  apply_->add_option("--port,-p", ports_, "Порт (можно несколько: приборы по очереди)")->required();
  apply_->add_option("--site", site_,
                     "Объект прибора: номер в реестре или название (модели 250 и 252 без "
                     "номера объекта, если прибор не узнан по своей конфигурации)");
  apply_->add_option("--note", note_, "Причина, кроме названия изменения");
  AddCheckOptions(*apply_, rules_, allowed_);
  technician(apply_);
  db(apply_);
  approval_ = change_->add_subcommand(
      "approval", "Нужно ли утверждение офиса новым изменениям: on или off (по умолчанию off)");
  approval_->add_option("switch", switch_, "on или off")
      ->required()
      ->check(CLI::IsMember({"on", "off"}));
  db(approval_);
}

namespace {

// The selection as it was typed: the filter's options given, for the plan's record.
std::string FilterText(const CLI::App& command) {
  std::string text;
  for (const CLI::Option* option : command.get_options()) {
    const std::string name = option->get_name();
    if (option->count() == 0 || name == "--set" || name == "--site" || !name.starts_with("--"))
      continue;
    if (name != "--search" && name != "--model" && name != "--status" && name != "--outcome" &&
        name != "--from" && name != "--to" && name != "--station" && name != "--technician" &&
        name != "--untouched-since")
      continue;
    for (const std::string& value : option->results())
      text += (text.empty() ? "" : " ") + name + " " + value;
  }
  return text;
}

}  // namespace

int ChangeCommands::New(Registry& registry) {
  std::vector<PlanSetting> settings;
  for (const std::string& text : sets_) {
    PlanSetting s;
    std::string why;
    if (!ParsePlanSetting(text, s, why)) return Fail(Status::RegistryError, "--set " + why);
    settings.push_back(std::move(s));
  }
  if (const std::string fault = SettingsFault(settings); !fault.empty())
    return Fail(Status::RegistryError, "Изменение не сохранено: " + fault);
  CheckGate gate;
  if (const int status = MakeCheckGate(rules_, allowed_, gate); status != 0) return status;
  std::vector<int64_t> ids;
  std::string selection;
  if (sites_.empty()) {
    // The database selects, as sites list does.
    std::vector<SiteEntry> all;
    const StoreResult r = registry.SiteList(filter_, all);
    if (!r.ok()) return Failed(r);
    for (const SiteEntry& e : all) ids.push_back(e.card.site);
    selection = filter_.Empty() ? "все объекты" : FilterText(*new_);
  } else {
    if (!filter_.Empty())
      return Fail(Status::RegistryError,
                  "Изменение не сохранено: --site и отбор объектов вместе нельзя, выберите одно");
    for (const std::string& wanted : sites_) {
      int64_t id = 0;
      const StoreResult r = registry.FindSite(wanted, id);
      if (!r.ok()) return Failed(r);
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
      selection += (selection.empty() ? "--site " : " --site ") + wanted;
    }
  }
  if (ids.empty())
    return Fail(Status::NotInRegistry, "В реестре нет объектов: изменение не сохранено");
  std::vector<PlanSite> sites;
  if (const StoreResult r = PlanFromRegistry(registry, ids, settings, gate, sites); !r.ok())
    return Failed({r.error, r.message + ". Изменение не сохранено"});
  ChangePlan plan;
  plan.name = name_;
  plan.settings = settings;
  plan.selection = selection;
  plan.max_failures = max_failures_;
  plan.station = StationName();
  plan.technician = !technician_.empty() ? technician_ : EnvironmentUtf8("LOVAR_OPERATOR");
  std::string approval;
  bool found = false;
  StoreResult r = registry.WithStore(
      [&](SiteStore& store) { return store.Setting(kApprovalSetting, approval, found); });
  if (!r.ok()) return Failed(r);
  plan.approval_required = found && approval == "on";
  r = registry.WithStore([&](SiteStore& store) { return store.NewPlan(plan, sites); });
  if (!r.ok()) return Failed({r.error, r.message + ". Изменение не сохранено"});
  std::vector<std::vector<std::string>> rows = {
      {"Объект", "Модель", "Номер", "Изменение", "Проверка", "Состояние"}};
  for (const PlanSite& s : sites) {
    std::string checked = JoinLines(s.findings);
    std::replace(checked.begin(), checked.end(), '\n', ' ');
    rows.push_back({std::to_string(s.site), s.model != 0 ? ModelNameAndCode(s.model) : "", s.object,
                    ChangesText(s.changes), checked,
                    s.state == PlanState::Skipped ? "пропущен: " + s.reason : "ждёт"});
  }
  TextTable table;
  table.titles = std::move(rows.front());
  rows.erase(rows.begin());
  table.rows = std::move(rows);
  std::fputs(TableText(table, TableFormat::Table).c_str(), stdout);
  const PlanCounts counts = CountPlanSites(sites);
  std::printf("Изменение «%s» сохранено: объектов %d, к применению %d, пропущено %d\n",
              plan.name.c_str(), counts.total(), counts.pending, counts.skipped);
  if (plan.approval_required)
    std::printf("Изменение ждёт утверждения офисом: lovar-cli change approve %s\n",
                plan.name.c_str());
  return 0;
}

int ChangeCommands::Show(Registry& registry) {
  ChangePlan plan;
  std::vector<PlanSite> sites;
  StoreResult r = registry.WithStore([&](SiteStore& store) {
    StoreResult found = store.FindPlan(name_, plan);
    return found.ok() ? store.PlanSites(plan.id, sites) : found;
  });
  if (!r.ok()) return Failed(r);
  std::printf("%s\n", PlanLine(plan).c_str());
  for (const PlanSetting& s : plan.settings)
    std::printf("Поле %s = %s\n", s.field.c_str(),
                std::any_of(sites.begin(), sites.end(),
                            [&](const PlanSite& p) { return SecretField(p.model, s.field); })
                    ? "(скрыто)"
                    : s.value.c_str());
  std::printf("Объекты: %s; порог неудач: %s\n", plan.selection.c_str(),
              plan.max_failures > 0 ? std::to_string(plan.max_failures).c_str() : "нет");
  for (const PlanSite& s : sites) {
    std::printf("\nОбъект %s (%s%s): %s%s\n", SiteText(s).c_str(),
                s.model != 0 ? ModelNameAndCode(s.model).c_str() : "модель неизвестна",
                s.object.empty() ? "" : (", номер " + s.object).c_str(), StateText(s).c_str(),
                s.reason.empty() ? "" : (" — " + s.reason).c_str());
    for (const PlanFieldChange& c : s.changes)
      std::printf("  %s: %s -> %s\n", c.field.c_str(), c.before.c_str(), c.after.c_str());
    for (const std::string& f : s.findings) std::printf("  проверка: %s\n", f.c_str());
  }
  std::printf("\n%s\n", CountsLine(CountPlanSites(sites)).c_str());
  return 0;
}

int ChangeCommands::Status(Registry& registry) {
  ChangePlan plan;
  std::vector<PlanSite> sites;
  const StoreResult r = registry.WithStore([&](SiteStore& store) {
    StoreResult found = store.FindPlan(name_, plan);
    return found.ok() ? store.PlanSites(plan.id, sites) : found;
  });
  if (!r.ok()) return Failed(r);
  TableFormat format = TableFormat::Table;
  TableFormatOf(format_, format);
  TextTable table;
  table.keys = {"site",     "name",    "model", "object", "state",
                "applying", "station", "time",  "reason", "record"};
  table.titles = {"Объект",      "Название", "Модель", "Номер",   "Состояние",
                  "Применяется", "Станция",  "Время",  "Причина", "Запись"};
  for (const PlanSite& s : sites)
    table.rows.push_back(
        {std::to_string(s.site), s.site_name, s.model != 0 ? std::to_string(s.model) : "", s.object,
         format == TableFormat::Json ? std::string(PlanStateCode(s.state)) : StateText(s),
         s.applying ? (format == TableFormat::Json ? "true" : "да") : "", s.station,
         s.at != 0 ? LocalTimeText(s.at) : "", s.reason, s.record});
  std::fputs(TableText(table, format).c_str(), stdout);
  if (format == TableFormat::Table) {
    std::printf("%s\n", CountsLine(CountPlanSites(sites)).c_str());
    if (const std::string closed = PlanClosedWhy(plan); !closed.empty())
      std::printf("Внимание: %s\n", closed.c_str());
  }
  return 0;
}

int ChangeCommands::Decide(Registry& registry) {
  const PlanDecision decision = *approve_  ? PlanDecision::Approved
                                : *cancel_ ? PlanDecision::Cancelled
                                           : PlanDecision::Resumed;
  const std::string technician =
      !technician_.empty() ? technician_ : EnvironmentUtf8("LOVAR_OPERATOR");
  ChangePlan plan;
  StoreResult r = registry.WithStore([&](SiteStore& store) { return store.FindPlan(name_, plan); });
  if (!r.ok()) return Failed(r);
  if (plan.cancelled)
    return Fail(Status::RegistryError, "Изменение «" + plan.name + "» уже отменено");
  if (decision == PlanDecision::Approved && plan.approved) {
    std::printf("Изменение «%s» уже утверждено\n", plan.name.c_str());
    return 0;
  }
  if (decision == PlanDecision::Resumed && !plan.paused()) {
    std::printf("Изменение «%s» не приостановлено\n", plan.name.c_str());
    return 0;
  }
  r = registry.WithStore([&](SiteStore& store) {
    return store.DecidePlan(plan.id, decision, StationName(), technician);
  });
  if (!r.ok()) return Failed({r.error, r.message + ". Изменение «" + plan.name + "» не изменено"});
  std::printf(decision == PlanDecision::Approved ? "Изменение «%s» утверждено\n"
              : decision == PlanDecision::Cancelled ? "Изменение «%s» отменено\n"
                                                    : "Изменение «%s» возобновлено\n",
              plan.name.c_str());
  return 0;
}

namespace {

// The plan's site of the device read: by --site, by its object number, else (models without
// one) by its image: the one whose last proven image it is, or the one it equals outside the
// planned fields. Null, with why, when none or more than one.
const PlanSite* SiteOfDevice(Registry& registry, const std::vector<PlanSite>& sites,
                             const ChangePlan& plan, int64_t wanted, int model,
                             const ConfigImage& image, std::string& why) {
  const int length = ImageLength(model);
  const std::string object = ObjectNumber(model, image);
  std::vector<const PlanSite*> found;
  for (const PlanSite& s : sites) {
    if (wanted != 0 ? s.site == wanted : s.model == model && !object.empty() && s.object == object)
      found.push_back(&s);
  }
  const std::string device = ModelNameAndCode(model) + (object.empty() ? "" : ", номер " + object);
  if (wanted == 0 && object.empty()) {
    const std::string hash =
        Sha256Hex(std::span<const uint8_t>(image.bytes().data(), static_cast<size_t>(length)));
    for (const PlanSite& s : sites)
      if (s.model == model && s.base_hash == hash) found.push_back(&s);
    if (found.empty()) {
      // Equal outside the planned fields: the device may have been changed in one of them.
      std::vector<bool> planned(static_cast<size_t>(length), false);
      for (const PlanSetting& setting : plan.settings)
        if (const Field* f = FindFieldById(model, setting.field))
          for (int at = f->offset; at <= f->last() && at < length; ++at)
            planned[static_cast<size_t>(at)] = true;
      for (const PlanSite& s : sites) {
        if (s.model != model || s.base_hash.empty()) continue;
        std::vector<uint8_t> bytes;
        if (!registry.Image(s.base_hash, bytes).ok() || bytes.size() != static_cast<size_t>(length))
          continue;
        bool same = true;
        for (int at = 0; at < length && same; ++at)
          same = planned[static_cast<size_t>(at)] || bytes[static_cast<size_t>(at)] == image[at];
        if (same) found.push_back(&s);
      }
    }
  }
  if (found.size() == 1) return found.front();
  if (found.empty())
    why = wanted != 0 ? "объекта " + std::to_string(wanted) + " нет в изменении «" + plan.name + "»"
                      : "прибор (" + device + ") не найден среди объектов изменения «" + plan.name +
                            "»" + (object.empty() ? ": укажите его --site" : "");
  else
    why = "прибор (" + device + ") подходит к нескольким объектам изменения «" + plan.name +
          "»: укажите его --site";
  return nullptr;
}

}  // namespace

namespace {

// The change at the device on port: read, its site found, claimed, merged, judged, written and
// proven, the site's outcome kept. Returns the exit status; failures are said on stderr.
int ApplyAt(Registry& registry, const std::string& name, int64_t wanted, const CheckGate& gate,
            SessionRunner& session, const std::string& port, CliRecording& recording) {
  const std::string untouched = ". В УО ничего не записано";
  // The plan as it is now: another station's failures may have paused it meanwhile.
  ChangePlan plan;
  std::vector<PlanSite> sites;
  StoreResult r = registry.WithStore([&](SiteStore& store) {
    StoreResult found = store.FindPlan(name, plan);
    return found.ok() ? store.PlanSites(plan.id, sites) : found;
  });
  if (!r.ok()) return Failed(r);
  if (const std::string closed = PlanClosedWhy(plan); !closed.empty())
    return Fail(Status::ChangeNotApplied,
                port + ": изменение не применено: " + closed + ". Прибор не тронут");
  session.SetCheckGate(&gate);
  Outcome out = session.Open(port);
  if (out.ok()) out = session.Identify();
  if (out.ok() && !IsKnownModel(session.model()))
    out = {Status::WrongModel, "Неверный тип УО: " + session.device_line()};
  if (!out.ok()) return Fail(out);
  const SessionEnd read = session.ReadImage();
  if (!read.outcome.ok()) return Fail({read.outcome.status, read.outcome.message + untouched});
  const int model = session.model();
  std::string why;
  const PlanSite* site = SiteOfDevice(registry, sites, plan, wanted, model, session.image(), why);
  if (site == nullptr)
    return Fail(Status::ChangeNotApplied, port + ": изменение не применено: " + why + untouched);
  const std::string named = "Объект " + SiteText(*site);
  if (site->model != model)
    return Fail(Status::ChangeNotApplied, named + ": в изменении модель " +
                                              ModelNameAndCode(site->model) + ", прибор " +
                                              session.device_line() + untouched);
  // Claimed before anything is written: no other station applies it meanwhile.
  PlanClaim claim;
  r = registry.WithStore([&](SiteStore& store) {
    return store.ClaimPlanSite(plan.id, site->site, StationName(), claim);
  });
  if (!r.ok()) return Failed({r.error, r.message + untouched});
  if (!claim.claimed)
    return Fail(Status::ChangeNotApplied, "Изменение не применено: " + claim.why + untouched);
  // From here the claim ends with an outcome, whatever happens.
  const auto end = [&](PlanState state, const std::string& reason) {
    const StoreResult ended = registry.WithStore(
        [&](SiteStore& store) { return store.EndPlanSite(claim.id, state, reason, ""); });
    if (!ended.ok())
      std::fprintf(stderr,
                   "Реестр не отметил объект %s в изменении «%s» (%s): он показан как "
                   "применяемый станцией %s\n",
                   std::to_string(site->site).c_str(), plan.name.c_str(), ended.message.c_str(),
                   StationName().c_str());
    return ended.ok();
  };
  std::vector<uint8_t> bytes;
  r = registry.Image(site->base_hash, bytes);
  if (!r.ok()) {
    end(PlanState::Failed, "запись изменения в реестре недоступна: " + r.message);
    return Failed({r.error, r.message + untouched});
  }
  ConfigImage base;
  std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), base.bytes().size()),
            base.bytes().begin());
  if (SiteRecorder* recorder = recording.recorder()) recorder->SetPortSite(port, site->site);
  ConfigImage merged = session.image();
  const MergedChange change = MergeAtDevice(model, base, plan.settings, merged);
  if (change.conflict || change.failed) {
    std::string lines;
    for (const std::string& line : change.lines) lines += (lines.empty() ? "" : "; ") + line;
    const std::string reason =
        change.conflict ? "изменено не через Ловар: " + lines : "значение не принято: " + lines;
    end(change.conflict ? PlanState::Conflict : PlanState::Skipped, reason);
    return Fail(Status::ChangeNotApplied,
                named + ": " + (change.conflict ? "конфликт, " : "") + reason + untouched);
  }
  // As the device will hold it: its keys, its firmware.
  const Judgement judged = Judge(
      DeviceCheckInput(model, merged, session.session().FirmwareVersion(), nullptr, gate.rules()),
      gate);
  if (!judged.ok()) {
    std::string lines;
    for (const Finding& f : judged.blocking) lines += (lines.empty() ? "" : "; ") + FindingLine(f);
    end(PlanState::Skipped, "проверка: " + lines);
    return Fail(CheckRefusal(judged.blocking, "В УО ничего не записано"));
  }
  for (const Finding& f : judged.findings)
    std::fprintf(stderr, "Проверка: %s\n", JudgedLine(f, gate).c_str());
  session.image() = merged;
  if (SiteRecorder* recorder = recording.recorder()) recorder->ReadIsPrior(port);
  const SessionEnd written = session.WriteImage(true);
  if (!written.outcome.ok()) {
    end(PlanState::Failed, written.outcome.message);
    return Fail(written.outcome);
  }
  const bool marked = end(PlanState::Done, "");
  std::printf("%s\n%s: изменение «%s» записано и проверено\n", session.device_line().c_str(),
              named.c_str(), plan.name.c_str());
  for (const PlanFieldChange& c : change.changes)
    std::printf("  %s: %s -> %s\n", c.field.c_str(), c.before.c_str(), c.after.c_str());
  if (change.changes.empty()) std::printf("  прибор уже хранил эти значения\n");
  return marked ? 0 : int(Status::NotRecorded);
}

}  // namespace

int ApplyChangeAtPorts(const ChangeApply& apply, const std::vector<std::string>& ports,
                       int retries) {
  RecordOptions record;
  record.db = apply.db;
  record.site = apply.site;
  record.technician = apply.technician;
  record.note = "изменение «" + apply.name + "»" + (apply.note.empty() ? "" : "; " + apply.note);
  RegistryOptions options;
  std::string why;
  if (!ChooseLocation(apply.db, EnvironmentUtf8("LOVAR_DB").c_str(), options.location, why))
    return Fail(Status::RegistryError, why);
  options.note_waiting = false;  // the recording says it
  StoreResult opened;
  const std::unique_ptr<Registry> registry = Registry::Open(options, opened);
  if (!registry) return Failed(opened);
  // The plan, before any device is touched.
  ChangePlan plan;
  StoreResult r =
      registry->WithStore([&](SiteStore& store) { return store.FindPlan(apply.name, plan); });
  if (!r.ok()) return Failed(r);
  if (const std::string closed = PlanClosedWhy(plan); !closed.empty())
    return Fail(Status::ChangeNotApplied,
                "Изменение не применено: " + closed + ". Ни один прибор не тронут");
  int64_t wanted = 0;
  if (!apply.site.empty() && ports.size() > 1)
    return Fail(Status::ChangeNotApplied,
                "--site называет объект одного прибора: с ним укажите один порт. Ни один прибор "
                "не тронут");
  if (!apply.site.empty()) {
    r = registry->FindSite(apply.site, wanted);
    if (!r.ok()) return Failed(r);
  }
  CheckGate gate;
  if (const int status = MakeCheckGate(apply.rules, apply.allowed, gate); status != 0)
    return status;
  CliRecording recording(record, {}, RecordOperation::Write);
  if (!recording.refused().empty()) return Fail(Status::RegistryError, recording.refused());
  const std::atomic<bool>& interrupted = WatchInterrupts();
  // One device at a time: the registry's steps between them never hold a device's exchange.
  std::vector<std::pair<std::string, int>> ends;
  for (const std::string& port : ports) {
    if (interrupted.load()) {
      ends.emplace_back(port, int(Status::Interrupted));
      continue;
    }
    EventLoop loop;
    TCport device(loop);
    ConfigureLikeTheMainWindow(device);
    SessionRunner session(loop, device, retries, StderrIsTerminal(), interrupted,
                          recording.recorder());
    ends.emplace_back(port, ApplyAt(*registry, apply.name, wanted, gate, session, port, recording));
  }
  int status = ends.size() == 1 ? ends.front().second : 0;
  if (ends.size() > 1) {
    int done = 0;
    for (const auto& [port, end] : ends) {
      done += end == 0;
      if (end != 0) status = int(Status::NotAllWritten);
    }
    std::printf("Изменение «%s» применено: %d из %zu приборов\n", apply.name.c_str(), done,
                ends.size());
    for (const auto& [port, end] : ends)
      if (end != 0) std::fprintf(stderr, "Не применено: %s (код %d)\n", port.c_str(), end);
  }
  return recording.Finish(status);
}

int ChangeCommands::Run(int retries) {
  if (*apply_)
    return ApplyChangeAtPorts({name_, db_, site_, technician_, note_, rules_, allowed_}, ports_,
                              retries);
  RegistryOptions options;
  std::string why;
  if (!ChooseLocation(db_, EnvironmentUtf8("LOVAR_DB").c_str(), options.location, why))
    return Fail(Status::RegistryError, why);
  StoreResult opened;
  const std::unique_ptr<Registry> registry = Registry::Open(options, opened);
  if (!registry) return Failed(opened);
  for (const std::string& note : registry->Notes()) std::fprintf(stderr, "%s\n", note.c_str());
  if (*new_) return New(*registry);
  if (*show_) return Show(*registry);
  if (*status_) return Status(*registry);
  if (*approval_) {
    const StoreResult r = registry->WithStore(
        [&](SiteStore& store) { return store.SetSetting(kApprovalSetting, switch_); });
    if (!r.ok()) return Failed(r);
    std::printf(switch_ == "on" ? "Новые изменения ждут утверждения офисом\n"
                                : "Новые изменения не ждут утверждения\n");
    return 0;
  }
  return Decide(*registry);
}

}  // namespace lovar
