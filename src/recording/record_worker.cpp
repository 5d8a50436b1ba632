#include "recording/record_worker.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "recording/recording_registry.h"
#include "store/store_os.h"

namespace lovar {

RecordWorker::RecordWorker(RegistryOptions place, std::function<OpenedRegistry()> open)
    : place_(std::move(place)), open_(std::move(open)), thread_([this] { Loop(); }) {}

RecordWorker::~RecordWorker() {
  Stop();
}

PendingResult RecordWorker::Stop() {
  PendingResult result;
  if (stopped_) return result;
  if (!drained_) result = Drain(std::chrono::milliseconds(0)).pending;
  stopped_ = true;
  thread_.join();
  result.notes = TakeNotes();
  result.lost += lost_;
  result.side += side_;
  for (std::string& file : side_files_) result.side_files.push_back(std::move(file));
  return result;
}

void RecordWorker::Record(SiteRecord record) {
  Record(std::move(record), nullptr);
}

void RecordWorker::Record(SiteRecord record, Prepare prepare) {
  Registry::Stamp(record);
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      queue_.push_back(Item{std::move(record), std::move(prepare)});
      changed_.notify_all();
      return;
    }
  }
  if (prepare) prepare(nullptr, "работа завершена", record);
  // Given after the end: kept aside at once rather than lost.
  std::vector<SiteRecord> late;
  late.push_back(std::move(record));
  const PendingResult aside = Registry::KeepAside(place_, std::move(late), "работа завершена");
  std::lock_guard lock(mutex_);
  for (const std::string& note : aside.notes) notes_.push_back(note);
}

void RecordWorker::Run(Job job) {
  std::lock_guard lock(mutex_);
  if (stopping_) return;
  queue_.push_back(Item{std::move(job)});
  changed_.notify_all();
}

std::vector<std::string> RecordWorker::TakeNotes() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> notes;
  notes.swap(notes_);
  return notes;
}

int RecordWorker::Waiting() const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const Item& item : queue_) n += std::holds_alternative<SiteRecord>(item.what);
  return n;
}

void RecordWorker::Say(std::string text) {
  if (text.empty()) return;
  std::lock_guard lock(mutex_);
  notes_.push_back(std::move(text));
}

Registry* RecordWorker::Opened(std::string& failure) {
  if (!opened_) {
    opened_ = true;
    OpenedRegistry opened = open_();
    registry_ = std::move(opened.registry);
    failure_ = opened.failure;
    for (std::string& note : opened.notes) Say(std::move(note));
  }
  failure = failure_;
  return registry_.get();
}

void RecordWorker::Loop() {
  for (;;) {
    Item item;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty() || (stopping_ && given_up_)) break;
      item = std::move(queue_.front());
      queue_.pop_front();
      ++busy_;
    }
    std::string failure;
    Registry* registry = Opened(failure);
    if (SiteRecord* record = std::get_if<SiteRecord>(&item.what)) {
      if (item.prepare) item.prepare(registry, failure, *record);
      if (registry == nullptr) {
        // Opened once, refused: the record goes beside the registry's file, never lost.
        std::vector<SiteRecord> one;
        one.push_back(std::move(*record));
        for (std::string& note : Registry::KeepAside(place_, std::move(one), failure).notes)
          Say(std::move(note));
      } else {
        std::vector<std::string> notes;
        RecordInto(*registry, std::move(*record), may_wait_, notes);
        for (std::string& note : notes) Say(std::move(note));
      }
    } else {
      std::get<Job>(item.what)(registry, failure);
    }
    std::vector<std::string> said;
    {
      std::lock_guard lock(mutex_);
      --busy_;
      if (said_) said.swap(notes_);
    }
    changed_.notify_all();
    if (!said.empty()) said_(std::move(said));
  }
  // A drain that gave up: what the registry still holds goes beside its file now, without one
  // more wait for it.
  bool aside = false;
  {
    std::lock_guard lock(mutex_);
    aside = given_up_;
  }
  if (aside && registry_ != nullptr) {
    std::vector<SiteRecord> held = registry_->TakePending();
    if (!held.empty()) {
      const std::string why = "реестр не ответил вовремя";
      PendingResult set = Registry::KeepAside(place_, std::move(held), why);
      lost_ += set.lost;
      side_ += set.side;
      for (std::string& file : set.side_files) side_files_.push_back(std::move(file));
      for (std::string& note : set.notes) Say(std::move(note));
    }
  }
  registry_.reset();
  ReleaseThreadTls();
}

RecordWorker::Drained RecordWorker::Drain(std::chrono::milliseconds limit,
                                          const std::function<void(int records)>& waiting) {
  Drained result;
  {
    std::lock_guard lock(mutex_);
    if (drained_) return result;
  }
  // The records held are kept once the devices are done: the last job.
  auto kept = std::make_shared<std::optional<PendingResult>>();
  Run([this, kept](Registry* registry, const std::string&) {
    PendingResult pending;
    if (registry != nullptr) pending = registry->KeepPending();
    std::lock_guard lock(mutex_);
    if (!given_up_) {
      *kept = std::move(pending);
      return;
    }
    // The drain stopped waiting while this ran: what it did is said at the end (Stop).
    lost_ += pending.lost;
    side_ += pending.side;
    for (std::string& file : pending.side_files) side_files_.push_back(std::move(file));
    for (std::string& note : pending.notes) notes_.push_back(std::move(note));
  });
  std::unique_lock lock(mutex_);
  drained_ = true;
  const auto done = [&] { return kept->has_value(); };
  const auto until = std::chrono::steady_clock::now() + limit;
  // Said only when the wait is felt: a registry that answers ends the drain at once.
  constexpr std::chrono::milliseconds kUnsaid{300};
  if (!changed_.wait_for(lock, std::min(limit, kUnsaid), done) && waiting) {
    int records = 0;
    for (const Item& item : queue_) records += std::holds_alternative<SiteRecord>(item.what);
    lock.unlock();
    waiting(records);
    lock.lock();
  }
  changed_.wait_until(lock, until, done);
  stopping_ = true;
  if (done()) {
    result.done = true;
    result.pending = std::move(**kept);
  } else {
    // Given up: the worker ends after the job under way, and what it still holds then goes
    // aside too (see Loop).
    given_up_ = true;
    std::vector<SiteRecord> left;
    std::vector<Prepare> unprepared;
    for (Item& item : queue_)
      if (SiteRecord* record = std::get_if<SiteRecord>(&item.what)) {
        left.push_back(std::move(*record));
        unprepared.push_back(std::move(item.prepare));
      }
    queue_.clear();
    result.left = static_cast<int>(left.size());
    lock.unlock();
    const std::string late = "реестр не ответил вовремя";
    for (size_t i = 0; i < left.size(); ++i)
      if (unprepared[i]) unprepared[i](nullptr, late, left[i]);
    result.pending = Registry::KeepAside(
        place_, std::move(left),
        "реестр не ответил за " + std::to_string((limit.count() + 999) / 1000) + " с");
    lock.lock();
  }
  changed_.notify_all();
  result.notes.swap(notes_);
  for (std::string& note : result.pending.notes) result.notes.push_back(std::move(note));
  return result;
}

void QueuedRecorder::KeepRead(SiteRecord record) {
  worker_.Record(
      std::move(record),
      [seen = drift_seen()](Registry* registry, const std::string& failure, SiteRecord& read) {
        CompareRead(seen, registry, failure, read);
      });
}

std::string QueuedRecorder::ReadNote(const DeviceRecord& device, const ConfigImage& image) {
  RecordWorker& worker = worker_;
  worker_.Run([&worker, device, image](Registry* registry, const std::string&) {
    if (registry == nullptr) return;
    if (std::string note = OverrideNoteOf(*registry, device, image); !note.empty())
      worker.Say("Внимание: " + note);
  });
  return {};
}

}  // namespace lovar
