// A registry server that accepts and never answers costs one wait, not one per record: it rests
// after the failure, and the records meanwhile go straight to the station's waiting file; the
// end of the work tries it once more.
#include <gtest/gtest.h>

#include <chrono>

#include "records.h"
#include "support/loopback.h"

namespace lovar {
namespace {
using namespace std::chrono_literals;

TEST(RegistryRest, ASilentServerIsWaitedForOnceAndRecordsWaitOnTheStation) {
  testing::TempFolder dir;
  testing::SilentServer silent;
  ASSERT_NE(silent.port, 0);
  RegistryOptions options;
  options.location = {true, "postgresql://lovar@127.0.0.1:" + std::to_string(silent.port) +
                                "/lovar?sslmode=disable"};
  options.local_file = dir / "station.sqlite";
  options.store.connect_timeout = 2s;
  StoreResult opened;
  auto start = std::chrono::steady_clock::now();
  auto registry = Registry::Open(options, opened);
  ASSERT_TRUE(registry) << opened.message;  // out of reach is no failure
  const auto first = std::chrono::steady_clock::now() - start;
  EXPECT_GE(first, 1500ms);  // waited for (the poll counts whole milliseconds: not exactly 2 s)
  EXPECT_LT(first, 10s);  // given up at the time-out, never waited for without end
  EXPECT_EQ(registry->ServerState().error, StoreError::Unreachable);

  start = std::chrono::steady_clock::now();
  for (int i = 1; i <= 3; ++i) {
    const RecordResult kept = registry->Record(testing::ReadRecord(251, "1024", i));
    EXPECT_EQ(kept.kept, RecordResult::Kept::Waiting) << kept.message;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);  // resting: no new wait
  EXPECT_EQ(registry->WaitingCount(), 3);
  // A query is told at once too.
  std::vector<SiteSummary> sites;
  start = std::chrono::steady_clock::now();
  EXPECT_FALSE(registry->Sites("", sites).ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

}  // namespace
}  // namespace lovar
