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
  OpenedRegistry opened = OpenRecordingRegistry(options.db, EnvironmentUtf8("LOVAR_DB").c_str(), archive);
  if (opened.registry == nullptr) {
    // Mended first: a registry that cannot take records (a wrong place, string, password or
    // certificate, another user's file, no registry, a newer one) would lose every record of
    // the work. One out of reach for now is no refusal: its records wait or are kept later.
    refused_ = "Реестр объектов: " + opened.failure + " (работа без записи в реестр: --no-record)";
    return;
  }
  for (const std::string& note : opened.notes) std::fprintf(stderr, "%s\n", note.c_str());
  registry_ = std::move(opened.registry);
  recorder_ = std::make_unique<RegistryRecorder>(*registry_, write_operation);
}

CliRecording::~CliRecording() = default;

Recorder* CliRecording::With(Recorder* archive) {
  if (recorder_ == nullptr) return archive;
  if (archive == nullptr) return recorder_.get();
  pair_ = std::make_unique<RecorderPair>(archive, recorder_.get());
  return pair_.get();
}

void CliRecording::SayNotes() {
  if (recorder_ == nullptr) return;
  for (const std::string& note : recorder_->TakeNotes()) std::fprintf(stderr, "%s\n", note.c_str());
}

int CliRecording::Finish(int status) {
  SayNotes();
  if (registry_ == nullptr) return status;
  const PendingResult pending = registry_->KeepPending();
  for (const std::string& note : pending.notes) std::fprintf(stderr, "%s\n", note.c_str());
  if (pending.ok() || status != 0) return status;
  std::fprintf(stderr, "Запись в реестр не сохранена\n");
  return int(Status::NotRecorded);
}

}  // namespace lovar
