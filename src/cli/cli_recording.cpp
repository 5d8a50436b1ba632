#include "cli/cli_recording.h"

#include <cstdio>

#include "files/environment.h"
#include "recording/recording_registry.h"
#include "session/outcome.h"

namespace lovar {

void AddRecordOptions(CLI::App& command, RecordOptions& options) {
  command.add_flag("--no-record", options.no_record, "Не записывать в реестр объектов");
  command.add_option("--db", options.db,
                     "Реестр объектов: файл SQLite или сервер postgresql://… (иначе LOVAR_DB, "
                     "иначе файл пользователя)");
}

CliRecording::CliRecording(const RecordOptions& options, const std::filesystem::path& archive,
                           RecordOperation write_operation) {
  if (options.no_record) return;
  const std::string env_db = EnvironmentUtf8("LOVAR_DB");
  RegistryOptions place;
  OpenedRegistry opened;
  if (RecordingPlace(options.db, env_db.c_str(), place, opened.failure))
    opened = OpenRecordingRegistry(options.db, env_db.c_str(), archive);
  if (opened.registry == nullptr) {
    // Mended first: a registry that cannot take records (a wrong place, string, password or
    // certificate, another user's file, no registry, a newer one) would lose every record of
    // the work. One out of reach for now is no refusal: its records wait or are kept later.
    refused_ = "Реестр объектов: " + opened.failure + " (работа без записи в реестр: --no-record)";
    return;
  }
  for (const std::string& note : opened.notes) std::fprintf(stderr, "%s\n", note.c_str());
  opened.notes.clear();
  // Opened here, once, before any device: the worker takes it over.
  auto handed = std::make_shared<OpenedRegistry>(std::move(opened));
  worker_ = std::make_unique<RecordWorker>(place, [handed] { return std::move(*handed); });
  recorder_ = std::make_unique<QueuedRecorder>(*worker_, write_operation);
}

CliRecording::~CliRecording() = default;

Recorder* CliRecording::With(Recorder* archive) {
  if (recorder_ == nullptr) return archive;
  if (archive == nullptr) return recorder_.get();
  pair_ = std::make_unique<RecorderPair>(archive, recorder_.get());
  return pair_.get();
}

int CliRecording::Finish(int status) {
  if (worker_ == nullptr) return status;
  const RecordWorker::Drained drained = worker_->Drain(kDrainLimit, [](int records) {
    const int limit = static_cast<int>(kDrainLimit.count());
    if (records > 0)
      std::fprintf(stderr,
                   "Ожидание записи в реестр объектов (записей в очереди: %d), не дольше %d с\n",
                   records, limit);
    else
      std::fprintf(stderr, "Ожидание записи в реестр объектов, не дольше %d с\n", limit);
  });
  for (const std::string& note : drained.notes) std::fprintf(stderr, "%s\n", note.c_str());
  // Given up: the try under way ends by the registry's own time-out; what it held goes aside.
  if (!drained.done) std::fprintf(stderr, "Ожидание последней попытки записи в реестр объектов\n");
  const PendingResult last = worker_->Stop();
  for (const std::string& note : last.notes) std::fprintf(stderr, "%s\n", note.c_str());
  if ((drained.pending.ok() && last.ok()) || status != 0) return status;
  std::fprintf(stderr, "Запись в реестр не сохранена\n");
  return int(Status::NotRecorded);
}

}  // namespace lovar
