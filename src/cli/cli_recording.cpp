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
  command.add_option("--site", options.site,
                     "Объект реестра: его номер в реестре или название (без этого модель 251 "
                     "находится по номеру объекта, другие — «объект не указан»)");
  command.add_option("--operator", options.technician,
                     "Техник, который работает с прибором (иначе LOVAR_OPERATOR)");
  command.add_option("--note", options.note, "Причина: зачем прибор читают или записывают");
}

CliRecording::CliRecording(const RecordOptions& options, const std::filesystem::path& archive,
                           RecordOperation write_operation) {
  if (options.no_record) return;
  OpenedRegistry opened =
      OpenRecordingRegistry(options.db, EnvironmentUtf8("LOVAR_DB").c_str(), archive);
  if (opened.registry == nullptr) {
    // Mended first: a registry that cannot take records (a wrong place, string, password or
    // certificate, another user's file, no registry, a newer one) would lose every record of
    // the work. One out of reach for now is no refusal: its records wait or are kept later.
    refused_ = "Реестр объектов: " + opened.failure + " (работа без записи в реестр: --no-record)";
    return;
  }
  for (const std::string& note : opened.notes) std::fprintf(stderr, "%s\n", note.c_str());
  registry_ = std::move(opened.registry);
  RecordContext context;
  context.technician =
      !options.technician.empty() ? options.technician : EnvironmentUtf8("LOVAR_OPERATOR");
  context.note = options.note;
  if (!options.site.empty()) {
    const StoreResult found = registry_->FindSite(options.site, context.site);
    if (found.error == StoreError::NotFound) {
      refused_ = "Реестр объектов: " + found.message + " (список: lovar-cli sites list)";
      registry_.reset();
      return;
    }
    if (!found.ok()) {
      // A registry out of reach, or busy, names no site now: the records say "объект не
      // указан" and are kept as ever, to be put under it later; the work is not stopped for it.
      std::fprintf(stderr,
                   "Объект «%s» не проверен (%s): записи будут без объекта, назначьте его позже "
                   "(lovar-cli sites assign ЗАПИСЬ ОБЪЕКТ)\n",
                   options.site.c_str(), found.message.c_str());
    }
  }
  recorder_ = std::make_unique<RegistryRecorder>(*registry_, write_operation);
  recorder_->SetContext(std::move(context));
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
