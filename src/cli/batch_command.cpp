#include "cli/batch_command.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/batch_check.h"
#include "cli/batch_display.h"
#include "cli/batch_runner.h"
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
  if (r.outcome.ok()) return "записано, проверено";
  if (r.outcome.status == Status::Interrupted)
    return r.write_began ? "прервано при записи" : "прервано, не записано";
  if (!r.write_began) return "не записано";
  return r.outcome.status == Status::VerifyMismatch ? "запись не подтверждена"
                                                    : "запись не завершена";
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

void PrintTable(const std::vector<DeviceResult>& results) {
  std::vector<std::vector<std::string>> rows = {
      {"Строка", "Порт", "Модель", "Объект", "Результат", "Время"}};
  for (const DeviceResult& r : results)
    rows.push_back({std::to_string(r.row->row), r.row->port, ModelText(r.model), Object(*r.row),
                    ResultText(r), Seconds(r.seconds, '.') + " с"});
  std::vector<size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Utf8Length(row[c]));
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? Utf8Padded(row[c], widths[c]) + "  " : row[c];
    std::printf("%s\n", line.c_str());
  }
}

// The check's findings of a row that did not stop it, for the report.
std::string Notes(const PlanFindings& checked, int row) {
  const auto it = checked.notes.find(row);
  std::string text;
  if (it != checked.notes.end())
    for (const std::string& note : it->second) text += (text.empty() ? "" : "; ") + note;
  return text;
}

std::string ReportCsv(const BatchPlan& plan, const std::vector<DeviceResult>& results,
                      const PlanFindings& checked) {
  const char sep = plan.separator;
  const char decimal = sep == ';' ? ',' : '.';
  std::string text(kUtf8Bom);
  text += CsvLine({"Строка", "Порт", "Модель", "Номер объекта", "Результат", "Время, с",
                   "Завершено", "Сообщение", "Проверка"},
                  sep);
  for (const DeviceResult& r : results)
    text += CsvLine({std::to_string(r.row->row), r.row->port, ModelText(r.model),
                     r.row->object_number, ResultText(r), Seconds(r.seconds, decimal), r.ended_at,
                     r.outcome.message, Notes(checked, r.row->row)},
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
  batch_->add_option("plan", plan_, "План: таблица CSV (столбцы port, template и поля)")
      ->required();
  batch_->add_option("--report", report_, "Сохранить итоговую таблицу (CSV)");
  batch_->add_option("--retry-plan", retry_plan_,
                     "Сохранить план из строк, которые не записаны (CSV)");
  batch_->add_option("--archive", archive_, "Папка, где хранить конфигурацию каждого УО до записи");
  AddCheckOptions(*batch_, rules_, allowed_);
  AddRecordOptions(*batch_, record_);
}

int BatchCommand::Run(int retries) {
  const std::string plan_shown = ShownUtf8Path(plan_);
  const PlanCheck check = LoadBatchPlan(PathFromUtf8(plan_));
  if (check.unreadable)
    return Fail(Status::FileError,
                plan_shown + ": " + check.faults.front() + ". Ни один прибор не затронут");
  if (!check.ok()) {
    std::fprintf(stderr, "План %s не принят, ни один прибор не затронут. Ошибки (%zu):\n",
                 plan_shown.c_str(), check.faults.size());
    for (const std::string& fault : check.faults) std::fprintf(stderr, "  %s\n", fault.c_str());
    return static_cast<int>(Status::PlanRefused);
  }
  const BatchPlan& plan = check.plan;
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
  const fs::path archive = PathFromUtf8(archive_);
  if (const std::string why = archive_.empty() ? "" : MakeArchiveFolder(archive); !why.empty())
    return Fail(Status::FileError, "--archive " + ShownUtf8Path(archive_) + ": папку не создать (" +
                                       why + "). Ни один прибор не затронут");

  // Every device's configuration checked before any is touched.
  CheckGate gate;
  if (const int status = MakeCheckGate(rules_, allowed_, gate); status != 0) {
    std::fprintf(stderr, "Ни один прибор не затронут\n");
    return status;
  }
  const PlanFindings checked = CheckPlanImages(plan, gate);
  if (!checked.faults.empty()) {
    std::fprintf(stderr,
                 "План %s не принят: проверка нашла ошибки в конфигурациях (%zu), ни один прибор "
                 "не затронут:\n",
                 plan_shown.c_str(), checked.faults.size());
    for (const std::string& fault : checked.faults) std::fprintf(stderr, "  %s\n", fault.c_str());
    std::fprintf(stderr,
                 "Исправьте шаблон или план; если так и задумано, пропустите правило: "
                 "--allow-check ID\n");
    return static_cast<int>(Status::PlanRefused);
  }
  for (const auto& [row, notes] : checked.notes)
    for (const std::string& note : notes)
      std::fprintf(stderr, "Проверка, строка %d: %s\n", row, note.c_str());
  // Each row's read and write go into the registry too.
  CliRecording recording(record_, archive, RecordOperation::Batch);
  if (!recording.refused().empty())
    return Fail(Status::RegistryError, recording.refused() + ". Ни один прибор не затронут");

  std::fprintf(stderr, "План %s: приборов %zu, модель %s\n", plan_shown.c_str(), plan.rows.size(),
               ModelText(plan.model).c_str());
  const std::atomic<bool>& interrupted = WatchInterrupts();
  EventLoop loop;
  BatchDisplay display(stderr, PrepareStderrRedraw(), StderrColumns);
  const std::vector<DeviceResult> results =
      RunBatch(loop, plan, BatchOptions{retries, archive_, &gate, recording.recorder()},
               interrupted, display);
  recording.SayNotes();

  std::fputc('\n', stderr);  // between the lines above and the table, not into a redirected table
  PrintTable(results);
  std::vector<const PlanRow*> failed;
  for (const DeviceResult& r : results)
    if (!r.outcome.ok()) failed.push_back(r.row);
  std::printf("Записано и проверено: %zu из %zu\n", results.size() - failed.size(), results.size());
  std::fflush(stdout);

  if (!failed.empty()) {
    std::fprintf(stderr, "Не записаны строки плана:\n");
    for (const DeviceResult& r : results)
      if (!r.outcome.ok())
        std::fprintf(stderr, "  %s, %s: %s\n", RowText(r.row->row, r.row->line).c_str(),
                     r.row->port.c_str(), r.outcome.message.c_str());
  }
  Status status = failed.empty()       ? Status::Ok
                  : interrupted.load() ? Status::Interrupted
                                       : Status::NotAllWritten;
  if (!report_.empty()) {
    const FileResult saved =
        SaveFileReplacing(PathFromUtf8(report_), ReportCsv(plan, results, checked));
    if (saved.ok()) {
      std::fprintf(stderr, "Отчёт сохранён: %s\n", ShownUtf8Path(report_).c_str());
    } else {
      std::fprintf(stderr, "Отчёт не сохранён: %s\n", DescribeError(saved).c_str());
      if (status == Status::Ok) status = Status::FileError;
    }
  }
  if (!retry_plan_.empty()) {
    const fs::path retry_plan = PathFromUtf8(retry_plan_);
    const FileResult saved = SaveFileReplacing(retry_plan, PlanOfRows(plan, failed, retry_plan));
    if (!saved.ok()) {
      std::fprintf(stderr, "План повтора не сохранён: %s\n", DescribeError(saved).c_str());
      if (status == Status::Ok) status = Status::FileError;
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
  return static_cast<int>(status);
}

}  // namespace lovar
