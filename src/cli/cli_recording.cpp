#include "cli/cli_recording.h"

#include <cstdio>
#include <future>

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

void AddOverDriftOption(CLI::App& command, bool& over_drift) {
  command.add_flag("--over-drift", over_drift,
                   "Записать и поверх полей, изменённых в приборе не через Ловар (без этого такая "
                   "запись не начинается)");
}

std::string OverDriftRefusal(const std::string& names) {
  return "Запись не начата: она изменила бы поля, изменённые в приборе не через Ловар (" + names +
         "). Прибор не изменён (записать поверх: --over-drift)";
}

std::string OverDriftNote(const std::string& names) {
  return "Записано поверх изменений не через Ловар (--over-drift): " + names;
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
  RecordContext context;
  context.technician =
      !options.technician.empty() ? options.technician : EnvironmentUtf8("LOVAR_OPERATOR");
  context.note = options.note;
  if (!options.site.empty()) {
    const StoreResult found = opened.registry->FindSite(options.site, context.site);
    if (found.error == StoreError::NotFound) {
      refused_ = "Реестр объектов: " + found.message + " (список: lovar-cli sites list)";
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
  opened.notes.clear();
  // Opened here, once, before any device: the worker takes it over.
  auto handed = std::make_shared<OpenedRegistry>(std::move(opened));
  worker_ = std::make_unique<RecordWorker>(place, [handed] { return std::move(*handed); });
  recorder_ = std::make_unique<QueuedRecorder>(*worker_, write_operation);
  recorder_->SetContext(std::move(context));
  recorder_->OnDrift([box = drift_](const DriftFound& found) {
    std::function<void(const DriftFound&)> waiter;
    {
      std::lock_guard lock(box->mutex);
      if (int& late = box->late[found.port]; late > 0) {
        --late;
        return;
      }
      if (const auto w = box->waiters.find(found.port); w != box->waiters.end()) {
        waiter = std::move(w->second);
        box->waiters.erase(w);
      } else {
        box->found[found.port].push_back(found);
        box->given.notify_all();
      }
    }
    if (waiter) waiter(found);
  });
}

bool CliRecording::WhenDrift(const std::string& port, std::function<void(const DriftFound&)> done) {
  if (recorder_ == nullptr) return false;
  std::unique_lock lock(drift_->mutex);
  std::deque<DriftFound>& found = drift_->found[port];
  if (found.empty()) {
    drift_->waiters[port] = std::move(done);
    return true;
  }
  DriftFound first = std::move(found.front());
  found.pop_front();
  lock.unlock();
  done(first);
  return true;
}

void CliRecording::ForgetDrift(const std::string& port) {
  std::lock_guard lock(drift_->mutex);
  if (drift_->waiters.erase(port) != 0) ++drift_->late[port];
}

std::optional<DriftFound> CliRecording::AwaitDrift(const std::string& port,
                                                   std::chrono::milliseconds limit) {
  if (recorder_ == nullptr) return std::nullopt;
  std::unique_lock lock(drift_->mutex);
  std::deque<DriftFound>& found = drift_->found[port];
  if (!drift_->given.wait_for(lock, limit, [&] { return !found.empty(); })) {
    ++drift_->late[port];
    DriftFound late;
    late.port = port;
    late.why = "реестр не ответил за " + std::to_string(limit.count() / 1000) + " с";
    return late;
  }
  DriftFound first = std::move(found.front());
  found.pop_front();
  return first;
}

std::optional<DriftFound> CliRecording::TakeDrift(const std::string& port) {
  if (recorder_ == nullptr) return std::nullopt;
  std::lock_guard lock(drift_->mutex);
  std::deque<DriftFound>& found = drift_->found[port];
  if (found.empty()) return std::nullopt;
  DriftFound first = std::move(found.front());
  found.pop_front();
  return first;
}

CliRecording::~CliRecording() = default;

StoreResult CliRecording::FindSite(const std::string& wanted, int64_t& id) {
  if (worker_ == nullptr) return {};
  struct Answer {
    StoreResult result;
    int64_t id = 0;
  };
  auto answer = std::make_shared<std::promise<Answer>>();
  std::future<Answer> given = answer->get_future();
  worker_->Run([answer, wanted](Registry* registry, const std::string& failure) {
    Answer a;
    if (registry != nullptr)
      a.result = registry->FindSite(wanted, a.id);
    else
      a.result = {StoreError::Unreachable, failure};
    answer->set_value(std::move(a));
  });
  try {
    const Answer a = given.get();
    id = a.id;
    return a.result;
  } catch (const std::future_error&) {
    return {StoreError::Failed, "реестр объектов больше не принимает запросы"};  // drained
  }
}

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
