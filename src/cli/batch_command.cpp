#include "cli/batch_command.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "cli/batch_check.h"
#include "cli/batch_display.h"
#include "cli/batch_runner.h"
#include "cli/change_commands.h"
#include "cli/console.h"
#include "cli/session_runner.h"
#include "cli/write_check.h"
#include "files/archive.h"
#include "files/batch_plan.h"
#include "files/config_file.h"
#include "files/csv.h"
#include "files/file_access.h"
#include "files/safe_replace.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/cp1251.h"
#include "serial/event_loop.h"

namespace lovar {
namespace {
namespace fs = std::filesystem;

std::string ModelText(int model) {
  if (model == 0) return "—";
  return ModelName(model).empty() ? std::to_string(model) : ModelNameAndCode(model);
}

// What the device holds now, in a few words for the table.
std::string ResultText(const DeviceResult& r) {
  if (r.ok()) return "записано, проверено";
  if (r.status == Status::Interrupted)
    return r.write_began ? "прервано при записи" : "прервано, не записано";
  if (!r.write_began) return "не записано";
  return r.status == Status::VerifyMismatch ? "запись не подтверждена" : "запись не завершена";
}

// "01.05.2024 12:30", the end as the report gives it.
std::string EndedText(std::time_t when) {
  // The C library's shared buffer: the CLI calls this on one thread only.
  const std::tm* local = std::localtime(&when);
  char text[32] = {};
  if (local != nullptr) std::strftime(text, sizeof text, "%d.%m.%Y %H:%M", local);
  return text;
}

// Seconds with one decimal; with the decimal comma where the table's separator is the
// semicolon of a Russian spreadsheet, which would read "2.5" as a date.
std::string Seconds(double seconds, char decimal) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  std::string out = text;
  for (char& c : out)
    if (c == '.') c = decimal;
  return out;
}

std::string Object(const PlanRow& row) {
  return row.object_number.empty() ? "—" : row.object_number;
}

// The table on stdout: its widths from a first pass, then row by row, so that a plan of any
// length is never held as text.
void PrintTable(const std::vector<DeviceResult>& results) {
  const std::vector<std::string> header = {"Строка", "Порт",      "Модель",
                                           "Объект", "Результат", "Время"};
  const auto cells = [](const DeviceResult& r) {
    return std::vector<std::string>{std::to_string(r.row->row),
                                    r.row->port,
                                    ModelText(r.model),
                                    Object(*r.row),
                                    ResultText(r),
                                    Seconds(r.seconds, '.') + " с"};
  };
  std::vector<size_t> widths(header.size(), 0);
  const auto measure = [&widths](const std::vector<std::string>& row) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Utf8Length(row[c]));
  };
  measure(header);
  for (const DeviceResult& r : results) measure(cells(r));
  const auto print = [&widths](const std::vector<std::string>& row) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? Utf8Padded(row[c], widths[c]) + "  " : row[c];
    std::printf("%s\n", line.c_str());
  };
  print(header);
  for (const DeviceResult& r : results) print(cells(r));
}

// The check's findings of a row that did not stop it, before the run and at its device.
std::string Notes(const BatchPlan& plan, const PlanFindings& checked, const BatchResults& results,
                  const DeviceResult& r) {
  const auto index = static_cast<size_t>(r.row - plan.rows.data());
  std::string text =
      index < checked.row_notes.size() ? checked.texts[checked.row_notes[index]] : std::string();
  const std::string& at_device = results.texts[r.notes];
  if (!at_device.empty()) text += (text.empty() ? "" : "; ") + at_device;
  return text;
}

std::string ReportCsv(const BatchPlan& plan, const BatchResults& results,
                      const PlanFindings& checked) {
  const char sep = plan.separator;
  const char decimal = sep == ';' ? ',' : '.';
  std::string text(kUtf8Bom);
  text += CsvLine({"Строка", "Порт", "Модель", "Номер объекта", "Результат", "Время, с",
                   "Завершено", "Сообщение", "Проверка"},
                  sep);
  for (const DeviceResult& r : results.rows)
    text += CsvLine({std::to_string(r.row->row), r.row->port, ModelText(r.model),
                     r.row->object_number, ResultText(r), Seconds(r.seconds, decimal),
                     EndedText(r.ended), results.Message(r), Notes(plan, checked, results, r)},
                    sep);
  return text;
}

// An output that would replace the plan or a template, or is no file at all, is refused
// before any device is touched.
bool OutputRefused(const std::string& output, const char* option, const BatchPlan& plan,
                   std::string& why) {
  if (output.empty()) return false;
  std::vector<fs::path> inputs = {plan.path};
  for (const PlanTemplate& t : plan.templates) inputs.push_back(t.path);
  for (const fs::path& in : inputs) {
    std::error_code ec;
    if (fs::equivalent(PathFromUtf8(output), in, ec)) {
      why = std::string(option) + " " + ShownUtf8Path(output) + ": это входной файл (" +
            ShownPath(in) + "); укажите для вывода другой файл";
      return true;
    }
  }
  const PathKind kind = KindOf(PathFromUtf8(output));
  if (kind != PathKind::Missing && kind != PathKind::Regular) {
    why = std::string(option) + " " + ShownUtf8Path(output) + ": это " +
          std::string(PathKindText(kind)) + ", а не файл";
    return true;
  }
  return false;
}

}  // namespace

BatchCommand::BatchCommand(CLI::App& app) {
  batch_ = app.add_subcommand(
      "batch", "Запрограммировать много УО по плану: один шаблон, свои значения, все порты сразу");
  CLI::Option* plan =
      batch_->add_option("plan", plan_, "План: таблица CSV (столбцы port, template и поля)");
  CLI::Option* change = batch_->add_option(
      "--change", change_,
      "Вместо плана: применить изменение для многих объектов (lovar-cli change) к приборам "
      "портов --port");
  batch_->add_option("--port,-p", ports_, "С --change: порт прибора (можно несколько)")
      ->needs(change);
  plan->excludes(change);
  batch_->add_option("--report", report_, "Сохранить итоговую таблицу (CSV)");
  batch_->add_option("--retry-plan", retry_plan_,
                     "Сохранить план из строк, которые не записаны (CSV)");
  batch_->add_option("--archive", archive_, "Папка, где хранить конфигурацию каждого УО до записи");
  parallel_ = kBatchParallel;
  batch_
      ->add_option("--parallel", parallel_,
                   "Сколько УО программировать одновременно (остальные строки ждут очереди)")
      ->type_name("N")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  AddCheckOptions(*batch_, rules_, allowed_);
  AddRecordOptions(*batch_, record_);
  AddOverDriftOption(*batch_, over_drift_);
}

int BatchCommand::Run(int retries) {
  if (!change_.empty()) {
    if (record_.no_record)
      return Fail(Status::RegistryError,
                  "batch --change: изменение отмечается в реестре, --no-record с ним нельзя");
    if (ports_.empty())
      return Fail(Status::PlanRefused, "batch --change: не указан ни один порт (--port)");
    return ApplyChangeAtPorts(
        {change_, record_.db, record_.site, record_.technician, record_.note, rules_, allowed_},
        ports_, retries);
  }
  if (plan_.empty())
    return Fail(Status::PlanRefused, "batch: не указан план (PLAN.csv) или --change ИМЯ");
  const std::string plan_shown = ShownUtf8Path(plan_);
  const PlanCheck check = LoadBatchPlan(PathFromUtf8(plan_));
  if (const int status = PlanRefused(check); status != 0) return status;
  const BatchPlan& plan = check.plan;
  if (const int status = OutputsRefused(plan); status != 0) return status;
  const fs::path archive = PathFromUtf8(archive_);
  if (const std::string why = archive_.empty() ? "" : MakeArchiveFolder(archive); !why.empty())
    return Fail(Status::FileError, "--archive " + ShownUtf8Path(archive_) + ": папку не создать (" +
                                       why + "). Ни один прибор не затронут");
  CheckGate gate;
  PlanFindings checked;
  if (const int status = ConfigurationsRefused(plan, gate, checked); status != 0) return status;
  // Each row's read and write go into the registry too.
  CliRecording recording(record_, archive, RecordOperation::Batch);
  if (!recording.refused().empty())
    return Fail(Status::RegistryError, recording.refused() + ". Ни один прибор не затронут");
  if (const int status = SitesRefused(plan, recording); status != 0) return status;

  std::fprintf(stderr, "План %s: приборов %zu, модель %s\n", ShownUtf8Path(plan_).c_str(),
               plan.rows.size(), ModelText(plan.model).c_str());
  const std::atomic<bool>& interrupted = WatchInterrupts();
  EventLoop loop;
  BatchDisplay display(stderr, PrepareStderrRedraw(), StderrColumns);
  const BatchResults results = RunBatch(loop, plan,
                                        BatchOptions{retries, archive_, &gate, recording.recorder(),
                                                     parallel_, &recording, over_drift_},
                                        interrupted, display);
  // The devices are done: what the registry could not take yet is kept now.
  const bool recorded = recording.Finish(0) == 0;
  for (const std::string& note : results.device_notes)
    std::fprintf(stderr, "Проверка при записи, %s\n", note.c_str());

  const std::vector<const PlanRow*> failed = PrintResults(results);
  Status status = failed.empty()       ? Status::Ok
                  : interrupted.load() ? Status::Interrupted
                                       : Status::NotAllWritten;
  if (!SaveOutputs(plan, results, checked, failed) && status == Status::Ok)
    status = Status::FileError;
  if (status == Status::Ok && !recorded) status = Status::NotRecorded;
  return static_cast<int>(status);
}

int BatchCommand::PlanRefused(const PlanCheck& check) const {
  const std::string plan_shown = ShownUtf8Path(plan_);
  if (check.unreadable)
    return Fail(Status::FileError,
                plan_shown + ": " + check.faults.front() + ". Ни один прибор не затронут");
  if (check.ok()) return 0;
  std::fprintf(stderr, "План %s не принят, ни один прибор не затронут. Ошибки (%zu):\n",
               plan_shown.c_str(), check.faults.size());
  for (const std::string& fault : check.faults) std::fprintf(stderr, "  %s\n", fault.c_str());
  return static_cast<int>(Status::PlanRefused);
}

int BatchCommand::OutputsRefused(const BatchPlan& plan) const {
  std::string why;
  if (OutputRefused(report_, "--report", plan, why) ||
      OutputRefused(retry_plan_, "--retry-plan", plan, why))
    return Fail(Status::FileError, why + ". Ни один прибор не затронут");
  std::error_code ec;
  const auto same = [&ec](const std::string& a, const std::string& b) {
    const fs::path pa = PathFromUtf8(a), pb = PathFromUtf8(b);
    return fs::absolute(pa, ec).lexically_normal() == fs::absolute(pb, ec).lexically_normal() ||
           fs::equivalent(pa, pb, ec);
  };
  if (!report_.empty() && !retry_plan_.empty() && same(report_, retry_plan_))
    return Fail(Status::FileError,
                "--report и --retry-plan называют один файл. Ни один прибор не затронут");
  return 0;
}

// Every device's configuration checked before any is touched.
int BatchCommand::ConfigurationsRefused(const BatchPlan& plan, CheckGate& gate,
                                        PlanFindings& checked) const {
  if (const int status = MakeCheckGate(rules_, allowed_, gate); status != 0) {
    std::fprintf(stderr, "Ни один прибор не затронут\n");
    return status;
  }
  checked = CheckPlanImages(plan, gate);
  if (!checked.faults.empty()) {
    std::fprintf(stderr,
                 "План %s не принят: проверка нашла ошибки в конфигурациях (%zu), ни один прибор "
                 "не затронут:\n",
                 ShownUtf8Path(plan_).c_str(), checked.faults.size());
    for (const std::string& fault : checked.faults) std::fprintf(stderr, "  %s\n", fault.c_str());
    std::fprintf(stderr,
                 "Исправьте шаблон или план; если так и задумано, пропустите правило: "
                 "--allow-check ID\n");
    return static_cast<int>(Status::PlanRefused);
  }
  // One line for the rows that share a finding: a hundred thousand alike are one line.
  for (const std::string& note : checked.notes)
    std::fprintf(stderr, "Проверка, %s\n", note.c_str());
  return 0;
}

// The plan's sites, each named once: one the registry does not have stops the plan before any
// device is touched; a server out of reach leaves the records of no site, to be assigned.
int BatchCommand::SitesRefused(const BatchPlan& plan, CliRecording& recording) const {
  SiteRecorder* registry = recording.recorder();
  if (registry == nullptr) return 0;
  std::map<std::string, int64_t> sites;
  std::vector<std::string> unknown;
  for (const PlanRow& row : plan.rows) {
    if (row.site.empty()) continue;
    auto [known, is_new] = sites.emplace(row.site, 0);
    if (is_new) {
      const StoreResult found = recording.FindSite(row.site, known->second);
      if (!found.ok() && found.error != StoreError::NotFound) {
        std::fprintf(stderr, "Объекты плана не проверены (%s): записи будут без объекта\n",
                     found.message.c_str());
        break;
      }
      if (!found.ok()) unknown.push_back(RowText(row.row, row.line) + ": " + found.message);
    }
    if (known->second != 0) registry->SetPortSite(row.port, known->second);
  }
  if (unknown.empty()) return 0;
  std::fprintf(stderr,
               "План %s не принят: в реестре нет объектов (%zu), ни один прибор не затронут:\n",
               ShownUtf8Path(plan_).c_str(), unknown.size());
  for (const std::string& line : unknown) std::fprintf(stderr, "  %s\n", line.c_str());
  return static_cast<int>(Status::PlanRefused);
}

// The table on stdout and the rows that failed on stderr; returns those rows.
std::vector<const PlanRow*> BatchCommand::PrintResults(const BatchResults& results) {
  std::fputc('\n', stderr);  // between the lines above and the table, not into a redirected table
  PrintTable(results.rows);
  std::vector<const PlanRow*> failed;
  for (const DeviceResult& r : results.rows)
    if (!r.ok()) failed.push_back(r.row);
  std::printf("Записано и проверено: %zu из %zu\n", results.rows.size() - failed.size(),
              results.rows.size());
  std::fflush(stdout);
  if (!failed.empty()) {
    std::fprintf(stderr, "Не записаны строки плана:\n");
    for (const DeviceResult& r : results.rows)
      if (!r.ok())
        std::fprintf(stderr, "  %s, %s: %s\n", RowText(r.row->row, r.row->line).c_str(),
                     r.row->port.c_str(), results.Message(r).c_str());
  }
  return failed;
}

// --report and --retry-plan; false when one was asked for and not saved.
bool BatchCommand::SaveOutputs(const BatchPlan& plan, const BatchResults& results,
                               const PlanFindings& checked,
                               const std::vector<const PlanRow*>& failed) const {
  bool saved_all = true;
  if (!report_.empty()) {
    const FileResult saved =
        SaveFileReplacing(PathFromUtf8(report_), ReportCsv(plan, results, checked));
    if (saved.ok()) {
      std::fprintf(stderr, "Отчёт сохранён: %s\n", ShownUtf8Path(report_).c_str());
    } else {
      std::fprintf(stderr, "Отчёт не сохранён: %s\n", DescribeError(saved).c_str());
      saved_all = false;
    }
  }
  if (!retry_plan_.empty()) {
    const fs::path retry_plan = PathFromUtf8(retry_plan_);
    const FileResult saved = SaveFileReplacing(retry_plan, PlanOfRows(plan, failed, retry_plan));
    if (!saved.ok()) {
      std::fprintf(stderr, "План повтора не сохранён: %s\n", DescribeError(saved).c_str());
      saved_all = false;
    } else if (failed.empty()) {
      std::fprintf(stderr, "План повтора %s без строк: повторять нечего\n",
                   ShownPath(retry_plan).c_str());
    } else {
      std::fprintf(stderr, "План повтора сохранён: %s (строк: %zu)\n",
                   ShownPath(retry_plan).c_str(), failed.size());
    }
  } else if (!failed.empty()) {
    std::fprintf(stderr,
                 "Чтобы повторить только эти строки, сохраните их план: --retry-plan "
                 "ФАЙЛ.csv\n");
  }
  return saved_all;
}

}  // namespace lovar
