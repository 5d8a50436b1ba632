// The registry's own thread: records kept in order off the caller's thread, a registry that
// holds the worker holds no caller, and a drain that gives up keeps the records beside the
// registry's file, taken in at the next open.
#include "recording/record_worker.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "../store/records.h"
#include "recording/recording_registry.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;

RegistryOptions FilePlace(const std::filesystem::path& file) {
  RegistryOptions place;
  place.location = {false, Utf8Of(file)};
  place.local_file = file;
  place.defer_file = true;
  return place;
}

std::function<OpenedRegistry()> Opener(const RegistryOptions& place) {
  return [place] {
    OpenedRegistry opened;
    StoreResult result;
    opened.registry = Registry::Open(place, result);
    opened.failure = result.message;
    return opened;
  };
}

std::vector<RecordInfo> HistoryOf(const std::filesystem::path& file, const std::string& object) {
  StoreResult opened;
  auto registry = testing::OpenFile(file, opened);
  std::vector<RecordInfo> history;
  if (registry) {
    EXPECT_TRUE(registry->History(250, object, history).ok());
  }
  return history;
}

TEST(RecordWorker, KeepsRecordsInOrderOffTheCallersThread) {
  testing::TempFolder dir;
  const RegistryOptions place = FilePlace(dir / "registry.sqlite");
  RecordWorker worker(place, Opener(place));
  std::thread::id ran_on;
  worker.Run([&](Registry* registry, const std::string& failure) {
    EXPECT_NE(registry, nullptr) << failure;
    ran_on = std::this_thread::get_id();
  });
  for (int i = 1; i <= 3; ++i) worker.Record(testing::ReadRecord(250, "7001", i));
  const RecordWorker::Drained drained = worker.Drain(10s);
  EXPECT_TRUE(drained.done);
  EXPECT_EQ(drained.left, 0);
  EXPECT_TRUE(drained.pending.ok());
  EXPECT_NE(ran_on, std::this_thread::get_id());
  EXPECT_TRUE(worker.Stop().ok());
  const std::vector<RecordInfo> history = HistoryOf(dir / "registry.sqlite", "7001");
  ASSERT_EQ(history.size(), 3u);
  for (size_t i = 1; i < history.size(); ++i) EXPECT_LE(history[i - 1].time, history[i].time);
  // Stamped when given, kept in its turn: not late, so the registry's time is its time.
  for (const RecordInfo& info : history) EXPECT_FALSE(info.late) << info.id;
}

// A registry that never answers holds its own thread only: records given meanwhile return at
// once, the drain waits its limit and no longer, says what it waits for, and keeps what is
// still queued beside the file; the record under way when it gave up is kept too, and nothing
// is lost or kept twice.
TEST(RecordWorker, ADrainThatGivesUpKeepsTheRecordsBesideTheFile) {
  testing::TempFolder dir;
  const RegistryOptions place = FilePlace(dir / "registry.sqlite");
  RecordWorker worker(place, Opener(place));
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  worker.Run([released](Registry*, const std::string&) { released.wait(); });  // a silent server
  worker.Record(testing::ReadRecord(250, "7002", 1));
  const auto given = std::chrono::steady_clock::now();
  for (int i = 2; i <= 4; ++i) worker.Record(testing::ReadRecord(250, "7002", i));
  EXPECT_LT(std::chrono::steady_clock::now() - given, 500ms);
  EXPECT_EQ(worker.Waiting(), 4);

  int said = -1;
  const auto start = std::chrono::steady_clock::now();
  const RecordWorker::Drained drained = worker.Drain(400ms, [&](int records) { said = records; });
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 400ms);
  EXPECT_LT(waited, 3s);
  EXPECT_FALSE(drained.done);
  EXPECT_EQ(said, 4);
  EXPECT_EQ(drained.left, 4);
  EXPECT_EQ(drained.pending.side, 4);
  EXPECT_TRUE(drained.pending.ok());
  // The side file named as the window's close names it to the installer.
  ASSERT_EQ(drained.pending.side_files.size(), 1u);
  EXPECT_NE(drained.pending.side_files[0].find("registry.sqlite.kept-"), std::string::npos);
  bool named = false;
  for (const std::string& note : drained.notes)
    named = named || note.find("реестр не ответил за 1 с") != std::string::npos;
  EXPECT_TRUE(named);

  // Given after the end: aside at once, never lost.
  worker.Record(testing::ReadRecord(250, "7002", 5));
  release.set_value();
  EXPECT_TRUE(worker.Stop().ok());
  // The next open takes the side files in, each with the station's time of its step.
  const std::vector<RecordInfo> history = HistoryOf(dir / "registry.sqlite", "7002");
  EXPECT_EQ(history.size(), 5u);
  for (const RecordInfo& info : history) EXPECT_TRUE(info.late) << info.id;
}

}  // namespace
}  // namespace lovar
