#include "cli/cli_recording.h"

#include <cstdio>

#include "files/environment.h"
#include "recording/recording_registry.h"

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
  const std::string env_value = EnvironmentUtf8("LOVAR_DB");
  const char* env_db = env_value.c_str();
  const bool named = !options.db.empty() || !env_value.empty();
  OpenedRegistry opened = OpenRecordingRegistry(options.db, env_db, archive);
  if (opened.registry == nullptr) {
    // A place the user named and that is no place at all is a mistake to mend first; a
    // registry that cannot be opened now only goes without records.
    RegistryLocation location;
    std::string why;
    if (named && !ChooseLocation(options.db, env_db, location, why)) {
      refused_ = "Реестр объектов: " + opened.failure;
      return;
    }
    std::fprintf(stderr, "Реестр объектов недоступен, записи не будет: %s\n",
                 opened.failure.c_str());
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

}  // namespace lovar
