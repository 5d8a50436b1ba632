// One read is evidence, not truth: which read replies may be late ones (the ledger), places read
// again until two reads agree, a write's bytes found where it never sent them, the engine
// reading again the blocks in doubt (a reply handed back after the sequence number wrapped, a
// duplicated reply), a read reply without data, and a write never written toward a wrong read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "engine_bench.h"
#include "protocol/block_diff.h"
#include "protocol/read_agreement.h"
#include "protocol/reply_ledger.h"

namespace lovar {
namespace {

using testing_support::Bytes;
using testing_support::Config;
using testing_support::EngineBench;

// A script of the ledger's events, one number: "S56" a request for offset 56 sent, "A56" its
// reply taken ("A56!" taken in doubt), "X" a reply that answers nothing, "G" given up.
TEST(ReplyLedger, SuspectsOnlyRepliesUnderANumberThatStillOwesAnswers) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"answered once", "S0 A0 S2048 A2048"},
      {"resent, answered twice at once", "S0 S0 A0 X S2048 A2048"},
      {"resent, the second answer comes a wrap later", "S56 S56 A56 S2104 A2104! X S4152 A4152"},
      {"given up, then the number used for another offset", "S72 G S0 A0!"},
      {"given up, answered after all: in doubt once", "S72 G A72! S2120 A2120"},
      {"owed answers forgiven after some wraps", "S0 S0 A0 S1 A1! S2 A2! S3 A3! S4 A4! S5 A5"},
  };
  for (const auto& [name, script] : cases) {
    SCOPED_TRACE(name);
    ReplyLedger ledger;
    std::istringstream events(script);
    for (std::string e; events >> e;) {
      const int offset = e.size() > 1 ? std::atoi(e.c_str() + 1) : 0;
      if (e[0] == 'S') ledger.Sent(7, offset);
      if (e[0] == 'A') {
        EXPECT_EQ(ledger.Accepted(7, {offset, offset + 8}), e.back() == '!') << e;
      }
      if (e[0] == 'X') ledger.Stray(7);
      if (e[0] == 'G') ledger.Abandon();
    }
  }
}

TEST(SuspectReads, APlaceIsSettledWhenTwoReadsAgreeAndGivenUpWhenTheyNever) {
  using V = SuspectReads::Verdict;
  struct Reply {
    Bytes bytes;
    bool doubtful;
    V verdict;
  };
  struct Case {
    const char* name;
    Bytes stored;
    std::vector<Reply> replies;
    Bytes agreed;
  };
  const Bytes a{1, 2, 3, 4}, b{1, 2, 9, 4}, c{7, 7, 7, 7}, d{0, 0, 0, 0};
  const std::vector<Case> cases = {
      {"the first read confirmed", a, {{a, false, V::Settled}}, a},
      {"the first read was wrong", b, {{a, false, V::Again}, {a, false, V::Settled}}, a},
      {"a doubtful read cannot agree", b, {{b, true, V::Again}, {b, false, V::Settled}}, b},
      {"never agreeing",
       a,
       {{b, false, V::Again},
        {c, false, V::Again},
        {d, false, V::Again},
        {{5}, false, V::Disagree}},
       {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SuspectReads reads;
    reads.Mark({100, 104}, k.stored);
    reads.Mark({100, 104}, c);  // marked twice: kept as first marked
    ASSERT_TRUE(reads.Pending());
    for (const Reply& r : k.replies) EXPECT_EQ(reads.Reply(r.bytes, r.doubtful), r.verdict);
    if (!k.agreed.empty()) {
      EXPECT_EQ(reads.Agreed(), k.agreed);
      EXPECT_FALSE(reads.Pending());
    }
  }
}

// Bytes a write did not send, found changed, are its own only when a block it sent, put down at
// one place, explains them and every byte around that is not a proven block of its own.
TEST(LandedAstray, TellsAWriteSentAstrayFromAnotherConfiguration) {
  ConfigImage sent;
  for (int i = 0; i < kImageCapacity; ++i) sent[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::vector<BlockRange> sent_ranges = {{32, 48}};  // one block sent
  struct Case {
    const char* name;
    int lands_at;  // where block 32 landed (-1: nowhere)
    int changed;   // a byte changed by something else (-1: none)
    int first, last;
    bool astray;
  };
  const std::vector<Case> cases = {
      {"offset bit 4 flipped: 32 to 48", 48, -1, 48, 63, true},
      {"misaligned by 8, over the next block", 40, -1, 48, 55, true},
      {"a byte of another configuration", -1, 2104, 2104, 2104, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConfigImage device = sent;
    if (c.lands_at >= 0)
      for (int k = 0; k < 16; ++k) device[c.lands_at + k] = sent[32 + k];
    if (c.changed >= 0) device[c.changed] ^= 0x10;
    // The block sent itself read back as sent unless the stray covers it.
    EXPECT_EQ(LandedAstray(device, sent, sent_ranges, sent_ranges, c.first, c.last, 4096, 16),
              c.astray);
  }
}

// The engine: a read reply held back and handed over after the sequence number wrapped is
// taken for a later offset's data once; that block is read again, and the image is the
// device's.
TEST(ReadInDoubt, LateReplyAfterTheNumberWrapsIsReadAgainBeforeTheReadEnds) {
  SimConfig config = Config(251);
  // Request 10 (offset 56) is answered only on the line, late; request 267 is the same number
  // for offset 2104, and the late answer comes for it.
  config.faults = {{FaultKind::Drop, 10}, {FaultKind::Drop, 267}};
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonReadClick();
  b.Pump();
  const Bytes asked = b.port.writes.back();
  ASSERT_EQ(asked[7], 56);
  const Bytes late = MakeReplyFrame(asked[4], kReadReply,
                                    std::span<const uint8_t>(b.sim.image().bytes().data() + 56, 8));
  b.view.answers = {true};
  b.Tick(11);  // the question: the request again, answered
  b.Pump();
  const Bytes& wrapped = b.port.writes.back();
  ASSERT_EQ(wrapped[4], asked[4]);
  ASSERT_EQ(wrapped[7] | wrapped[8] << 8, 56 + 2048);
  b.Deliver(late);
  b.Pump();
  ASSERT_TRUE(b.view.read_complete);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(b.image[i], b.sim.image()[i]) << i;
  // 512 requests, the one resent, and the block in doubt read again until two reads agree.
  EXPECT_EQ(b.port.writes.size(), 2u + 512 + 1 + 2);
  EXPECT_EQ(b.view.asks, 1);
}

TEST(ReadInDoubt, DuplicatedReplyPutsItsBlockInDoubtAndAReadThatNeverAgreesStops) {
  {
    SimConfig config = Config(250);
    config.faults = {{FaultKind::Duplicate, 10}};
    EngineBench b(config);
    b.Identify();
    b.engine.ButtonReadClick();
    b.Pump();
    EXPECT_TRUE(b.view.read_complete);
    EXPECT_EQ(b.image, b.sim.image());
    EXPECT_EQ(b.port.writes.size(), 2u + 32 + 1);  // the block read again: it agreed at once
  }
  {
    // A block's reply duplicated (request 20: offset 136), and every read of it gives other
    // bytes: no two agree.
    SimConfig config = Config(250);
    config.faults = {{FaultKind::Duplicate, 20}};
    EngineBench b(config);
    int reads = 0;
    b.sim.SetRequestObserver([&](int, std::span<const uint8_t> frame) {
      if (frame[6] == 0xC8 && frame[7] == 136) b.sim.image()[136] = static_cast<uint8_t>(++reads);
    });
    b.Identify();
    b.engine.ButtonReadClick();
    b.Pump();
    EXPECT_EQ(reads, 1 + ReadAgreement::kMaxReads);
    EXPECT_EQ(b.view.disagreed, (std::vector<uint8_t>{0xC8}));
    EXPECT_EQ(b.view.reads_ended, 0);
    EXPECT_EQ(b.engine.DisagreedAt(), 136);
    EXPECT_TRUE(b.view.buttons);
    EXPECT_FALSE(b.engine.RequestOutstanding());
  }
}

// A reply without data answers its request: the number moves on and the next request goes at
// once for the same offset (a run of them waits for the question: GiveUp in exchange_test).
TEST(ReadInDoubt, ReplyWithoutDataIsTakenAtOnce) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Empty, 5}};
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonReadClick();
  b.Pump();
  EXPECT_TRUE(b.view.read_complete);
  EXPECT_EQ(b.view.asks, 0);
  EXPECT_EQ(b.image, b.sim.image());
  const Bytes& empty_asked = b.port.writes[4];  // request 5
  const Bytes& next = b.port.writes[5];
  EXPECT_EQ(next[7], empty_asked[7]);                            // the same offset
  EXPECT_EQ(next[4], static_cast<uint8_t>(empty_asked[4] + 1));  // the next number
}

// A write of the changes whose idea of the device is wrong in a block it does not send: never
// written toward it. The device's own bytes (beyond the owner's) are kept and said; within the
// owner's image the device holds another configuration; model 252's bytes 0 to 99 are only
// said; with nothing to send, the range is read again before "no changes" is said.
TEST(UntouchedBlocks, AreReadAgainAndNeverWrittenTowardTheFirstRead) {
  using O = WriteReport::Outcome;
  struct Case {
    const char* name;
    int model;
    int own_end;
    int wrong;  // the byte the image's idea of the device has wrong
    int edit;   // the byte changed (-1: none)
    O outcome;
    int written;
    const char* said;
  };
  const std::vector<Case> cases = {
      {"a model 251 file's keys", 251, 2048, 2104, 40, O::Verified, 1,
       "Конфигурация записана в УО (записано изменённых блоков: 1 из 256). Байты прибора, "
       "которых нет в файле, оставлены как в УО: чтение перед записью не подтвердилось на "
       "смещении 2104"},
      {"the window's whole image", 251, 4096, 2104, 40, O::Stale, 1,
       "УО хранит не ту конфигурацию, что была считана: различается 1 блок, первый на смещении "
       "2104"},
      {"nothing changed", 250, 256, 40, -1, O::Stale, 0,
       "УО хранит не ту конфигурацию, что была считана: различается 1 блок, первый на смещении "
       "40"},
      {"model 252's first bytes", 252, 256, 20, 200, O::Differs, 1,
       "Запись не подтверждена: в УО изменились байты 0–99, которые запись не меняет, начиная "
       "со смещения 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineBench b(Config(c.model));
    b.Identify();
    ConfigImage device = b.sim.image();
    if (c.model != 251)
      for (int i = 127; i <= 130; ++i) device[i] = b.sim.image()[i] = 0;
    ConfigImage known = device;
    known[c.wrong] ^= 0x08;  // read wrong
    b.image = known;
    if (c.edit >= 0) b.image[c.edit] ^= 0x11;
    b.verified.SetOwnEnd(c.own_end);
    b.verified.StartChanged(known, true, false, /*whole_check=*/true);
    b.Pump();
    ASSERT_EQ(b.view.reports.size(), 1u);
    const WriteReport& r = b.view.reports[0];
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.written_blocks, c.written);
    EXPECT_EQ(WriteReportText(r).rfind(c.said, 0), 0u) << WriteReportText(r);
    EXPECT_EQ(r.repaired_blocks, 0);
    // Never written where it was wrong; the device keeps its byte.
    for (const auto& [offset, count] : b.sim.writes())
      EXPECT_FALSE(c.wrong >= offset && c.wrong < offset + count) << offset;
    EXPECT_EQ(b.sim.image()[c.wrong], device[c.wrong]);
    if (c.outcome == O::Verified) {
      EXPECT_EQ(b.verified.Sent()[c.wrong], device[c.wrong]);
    }
    if (c.outcome == O::Stale) {
      EXPECT_EQ(b.verified.ReadBackImage()[c.wrong], device[c.wrong]);
    }
  }
}

}  // namespace
}  // namespace lovar
