// The exchange engine's sequences against the simulated device, per model.
#include <gtest/gtest.h>

#include "engine_bench.h"
#include "protocol/crc8.h"

namespace lovar {
namespace {

using testing_support::Bytes;
using testing_support::Config;
using testing_support::EngineBench;

Bytes Frame(std::initializer_list<uint8_t> without_crc) {
  Bytes f(without_crc);
  f.push_back(Crc8(f));
  return f;
}

std::vector<Bytes> WithCommand(const std::vector<Bytes>& writes, uint8_t command) {
  std::vector<Bytes> out;
  for (const Bytes& w : writes)
    if (w.size() > 6 && w[6] == command) out.push_back(w);
  return out;
}

ConfigImage Patterned() {
  ConfigImage image;
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

// ---- Identification ----

struct IdentifyCase {
  int model;
  int firmware;
  const char* line;
  int image_length;
};

class Identification : public testing::TestWithParam<IdentifyCase> {};

TEST_P(Identification, SetsModelListsTheDeviceAndSetsTheWindowUp) {
  const IdentifyCase& c = GetParam();
  EngineBench b(Config(c.model, c.firmware));
  b.Identify();
  EXPECT_EQ(b.engine.DeviceModel(), c.model);
  EXPECT_EQ(b.engine.FirmwareVersion(), c.firmware);
  ASSERT_EQ(b.view.lines.size(), 1u);
  EXPECT_EQ(b.view.lines[0], c.line);
  EXPECT_EQ(b.engine.ImageLength(), c.image_length);
  EXPECT_EQ(b.view.start_shown, 1);
  // 208 went out, then 212 after the reply; the 212's answer cleared the marker.
  ASSERT_EQ(b.port.writes.size(), 2u);
  EXPECT_EQ(b.port.writes[0][6], 0xD0);
  EXPECT_EQ(b.port.writes[1],
            (Bytes{0xFE, 0x07, 0x01, 0x7F, 0x00, 0x00, 0xD4, 0x00,
                   Crc8(Bytes{0xFE, 0x07, 0x01, 0x7F, 0x00, 0x00, 0xD4, 0x00}), 0x00}));
  EXPECT_FALSE(b.engine.RequestOutstanding());
}

INSTANTIATE_TEST_SUITE_P(Models, Identification,
                         testing::Values(IdentifyCase{250, 12, "Ловар-Т Версия 2.2", 256},
                                         IdentifyCase{252, 5, "Ловар-Т2  Версия 1.5", 256},
                                         IdentifyCase{251, 12, "Ловар-М Версия 2.2", 4096},
                                         IdentifyCase{99, 15, "Неизвестный тип 99Версия 25", 256}));

TEST(Identification, UnknownModelKeepsTheImageLengthAndSetsNothingUp) {
  EngineBench b(Config(251));
  b.Identify();
  b.sim = DeviceSim(Config(99, 15));
  b.fed = b.port.writes.size();
  b.engine.SendIdentification();
  b.Pump();
  EXPECT_EQ(b.engine.ImageLength(), 4096);
  EXPECT_EQ(b.view.setups, (std::vector<int>{251}));
  EXPECT_EQ(b.view.lines.size(), 2u);
}

TEST(Identification, ReplyTooShortForBothBytesIsIgnoredAndStaysOutstanding) {
  EngineBench b(Config(250));
  b.engine.SendIdentification();
  b.fed = b.port.writes.size();
  b.Deliver(Frame({0xFE, 0x07, 0x00, 0x00, 0x00, 0x00, 0xD1, 0xFA}));
  EXPECT_TRUE(b.view.lines.empty());
  EXPECT_EQ(b.engine.DeviceModel(), 0);
  EXPECT_TRUE(b.engine.RequestOutstanding());
}

TEST(Identification, RepeatedSearchAddsALinePerReply) {
  EngineBench b(Config(250));
  b.Identify();
  b.Identify();
  EXPECT_EQ(b.view.lines.size(), 2u);
}

// ---- Reading ----

struct ReadCase {
  int model;
  int requests;
};

class WholeRead : public testing::TestWithParam<ReadCase> {};

TEST_P(WholeRead, ReadsTheImageInEightBytePiecesWithRisingSequenceNumbers) {
  const ReadCase& c = GetParam();
  const ConfigImage device = Patterned();
  EngineBench b(Config(c.model), device);
  b.Identify();
  const uint8_t first_seq = b.engine.state().sequence;
  b.engine.ButtonReadClick();
  EXPECT_FALSE(b.view.buttons);
  b.Pump();

  const std::vector<Bytes> reads = WithCommand(b.port.writes, 0xC8);
  ASSERT_EQ(reads.size(), static_cast<size_t>(c.requests));
  for (size_t i = 0; i < reads.size(); ++i) {
    const int offset = static_cast<int>(i) * 8;
    EXPECT_EQ(reads[i][4], static_cast<uint8_t>(first_seq + i)) << i;
    EXPECT_EQ(reads[i][7] | reads[i][8] << 8 | reads[i][9] << 16, offset) << i;
    EXPECT_EQ(reads[i][10], 8);
  }
  const int length = ImageLength(c.model);
  EXPECT_TRUE(
      std::equal(device.bytes().begin(), device.bytes().begin() + length, b.image.bytes().begin()));
  EXPECT_TRUE(std::all_of(b.image.bytes().begin() + length, b.image.bytes().end(),
                          [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(b.view.reads_ended, 1);
  EXPECT_TRUE(b.view.read_complete);
  EXPECT_TRUE(b.view.displayed);
  EXPECT_TRUE(b.view.buttons);
  EXPECT_FALSE(b.engine.RequestOutstanding());
}

INSTANTIATE_TEST_SUITE_P(Models, WholeRead,
                         testing::Values(ReadCase{250, 32}, ReadCase{252, 32}, ReadCase{251, 512}));

TEST(Read, StartsWithTheDocumentedFrames) {
  EngineBench b(Config(250));
  b.Identify();
  b.port.writes.clear();
  b.fed = 0;
  b.engine.ButtonReadClick();
  b.Pump();
  ASSERT_GE(b.port.writes.size(), 32u);
  const auto frame = [&](size_t i) {
    return Bytes(b.port.writes[i].begin(), b.port.writes[i].end() - 1);
  };
  EXPECT_EQ(frame(0),
            (Bytes{0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4A}));
  EXPECT_EQ(frame(1),
            (Bytes{0xFE, 0x0A, 0x01, 0x7F, 0x01, 0x00, 0xC8, 0x08, 0x00, 0x00, 0x08, 0x6B}));
  EXPECT_EQ(frame(2),
            (Bytes{0xFE, 0x0A, 0x01, 0x7F, 0x02, 0x00, 0xC8, 0x10, 0x00, 0x00, 0x08, 0x08}));
  EXPECT_EQ(frame(31),
            (Bytes{0xFE, 0x0A, 0x01, 0x7F, 0x1F, 0x00, 0xC8, 0xF8, 0x00, 0x00, 0x08, 0x9E}));
}

TEST(Read, SequenceNumberWrapsDuringAModel251ReadAndContinuesInTheNextRead) {
  EngineBench b(Config(251));
  b.Identify();
  b.engine.ButtonReadClick();
  b.Pump();
  EXPECT_EQ(b.engine.state().sequence, 0);  // 512 replies from 0: wrapped twice
  ExchangeTestAccess::State(b.engine).sequence = 250;
  b.engine.ButtonReadClick();
  b.Pump();
  EXPECT_TRUE(b.view.read_complete);
  EXPECT_EQ(b.engine.state().sequence, static_cast<uint8_t>(250 + 512));
}

TEST(Read, ShortReplyMovesTheOffsetByWhatItCarries) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x0A, 0, 0, 0x00, 0, 0xC9, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(b.engine.state().offset, 4);
  EXPECT_EQ(b.image[3], 0x44);
  const Bytes& next = b.port.writes.back();
  EXPECT_EQ(next[7], 4);
  EXPECT_EQ(next[4], 1);
}

TEST(Read, ReplyPastTheImageLengthStoresNothingBeyondIt) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  ExchangeTestAccess::State(b.engine).offset = 252;
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x0E, 0, 0, 0x00, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(b.image[255], 4);
  EXPECT_EQ(b.image[256], 0);
  EXPECT_EQ(b.view.reads_ended, 1);
}

TEST(Read, WithThePortClosedNothingIsSent) {
  EngineBench b(Config(250));
  b.port.open = false;
  b.engine.ButtonReadClick();
  EXPECT_TRUE(b.port.writes.empty());
}

TEST(Read, ReplyWithAnotherSequenceNumberLeavesTheRequestOutstandingForTheQuestion) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x0E, 0, 0, 0x09, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(b.engine.state().offset, 0);
  EXPECT_TRUE(b.engine.RequestOutstanding());
  b.view.answers = {true};
  b.Tick(11);
  EXPECT_EQ(b.view.asks, 1);
  b.Pump();  // the resent request is answered and the read completes
  EXPECT_TRUE(b.view.read_complete);
}

// ---- Replies matched to the request ----

TEST(Matching, WriteAcknowledgementDuringAReadWritesNothing) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x07, 0, 0, b.engine.state().sequence, 0, 0xCB, 0}));
  EXPECT_TRUE(WithCommand(b.port.writes, 0xCA).empty());
  EXPECT_EQ(b.engine.state().offset, 0);
  EXPECT_TRUE(b.engine.RequestOutstanding());
}

TEST(Matching, LateReadReplyDuringAWriteLeavesTheImageAndTheWriteAlone) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.view.answers = {false};
  b.Tick(11);  // the read is given up; its reply comes only later
  b.engine.ButtonWriteClick();
  b.LoseWrittenRequests();
  const ConfigImage before = b.image;
  b.Deliver(Frame({0xFE, 0x0E, 0, 0, b.engine.state().sequence, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(b.image, before);
  EXPECT_TRUE(WithCommand(b.port.writes, 0xC8).size() == 1);  // only the first read request
  EXPECT_TRUE(b.engine.RequestOutstanding());
}

TEST(Matching, AcknowledgementAfterTheLastBlockChangesNothing) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonWriteClick();
  b.Pump();
  ASSERT_TRUE(b.view.write_complete);
  const int offset = b.engine.state().offset;
  b.Deliver(Frame({0xFE, 0x07, 0, 0, b.engine.state().sequence, 0, 0xCB, 0}));
  EXPECT_EQ(b.engine.state().offset, offset);
  EXPECT_EQ(b.view.writes_ended, 1);
}

TEST(Matching, KeyReplyWithoutAPollIsIgnored) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x0E, 0, 0, 0, 0, 0xCF, 1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(WithCommand(b.port.writes, 0xCE).empty());
  EXPECT_EQ(b.engine.EditKeyText(), "");
}

// ---- Writing ----

struct WriteCase {
  int model;
  int first_offset;
  int blocks;
};

class WholeWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(WholeWrite, SendsSixteenByteBlocksWithOneSequenceNumber) {
  const WriteCase& c = GetParam();
  EngineBench b(Config(c.model));
  b.Identify();
  b.image = Patterned();
  const ConfigImage before = b.image;
  b.engine.ButtonWriteClick();
  b.Pump();
  const std::vector<Bytes> blocks = WithCommand(b.port.writes, 0xCA);
  ASSERT_EQ(blocks.size(), static_cast<size_t>(c.blocks));
  for (size_t i = 0; i < blocks.size(); ++i) {
    const int offset = c.first_offset + 16 * static_cast<int>(i);
    EXPECT_EQ(blocks[i][4], blocks[0][4]);
    EXPECT_EQ(blocks[i][7] | blocks[i][8] << 8 | blocks[i][9] << 16, offset);
    for (int k = 0; k < 16; ++k) {
      const int at = offset + k;
      const uint8_t expected = (c.model != 251 && at >= 127 && at <= 130) ? 0 : before[at];
      EXPECT_EQ(blocks[i][10 + static_cast<size_t>(k)], expected) << "offset " << at;
    }
  }
  EXPECT_EQ(b.view.writes_ended, 1);
  EXPECT_TRUE(b.view.write_complete);
  EXPECT_TRUE(b.view.buttons);
  const int length = ImageLength(c.model);
  for (int at = c.first_offset; at < length; ++at) ASSERT_EQ(b.sim.image()[at], b.image[at]) << at;
}

INSTANTIATE_TEST_SUITE_P(Models, WholeWrite,
                         testing::Values(WriteCase{250, 0, 16}, WriteCase{252, 100, 10},
                                         WriteCase{251, 0, 256}));

TEST(Write, Model252NeverWritesTheCodeArea) {
  EngineBench b(Config(252));
  b.Identify();
  b.engine.ButtonWriteClick();
  b.Pump();
  for (const auto& [offset, count] : b.sim.writes()) EXPECT_GE(offset, 100);
}

TEST(Write, AcknowledgementWithAnotherSequenceNumberDoesNotEndTheWrite) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonWriteClick();
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x07, 0, 0, 0x42, 0, 0xCB, 0}));
  EXPECT_EQ(b.view.writes_ended, 0);
  EXPECT_EQ(b.engine.state().offset, 0);
  EXPECT_TRUE(b.engine.RequestOutstanding());
}

TEST(Write, PageChangeStopsItAfterTheBlockLastSent) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonWriteClick();
  b.engine.StopExchange();
  b.Pump();  // the device answers the first block; the reply is ignored
  EXPECT_EQ(WithCommand(b.port.writes, 0xCA).size(), 1u);
  EXPECT_EQ(b.view.writes_ended, 0);
  b.Tick(20);
  EXPECT_EQ(b.view.asks, 0);
  b.engine.ButtonWriteClick();  // starts it again
  b.Pump();
  EXPECT_TRUE(b.view.write_complete);
}

// ---- The no-answer question ----

TEST(NoAnswer, QuestionComesAfterElevenTicksAndOkResendsTheSameBytes) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Drop, 4}};  // the third read request (after 208 and 212)
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonReadClick();
  b.Pump();
  const Bytes unanswered = b.port.writes.back();
  b.Tick(10);
  EXPECT_EQ(b.view.asks, 0);
  b.view.answers = {true};
  b.Tick(1);
  EXPECT_EQ(b.view.asks, 1);
  EXPECT_EQ(b.port.writes.back(), unanswered);
  b.Pump();
  EXPECT_TRUE(b.view.read_complete);
}

TEST(NoAnswer, CancelAbandonsTheReadWithTheButtonsEnabled) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Drop, 5}};
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonReadClick();
  b.Pump();
  b.view.answers = {false};
  b.Tick(11);
  EXPECT_TRUE(b.view.buttons);
  EXPECT_FALSE(b.engine.RequestOutstanding());
  EXPECT_EQ(b.view.abandoned, (std::vector<uint8_t>{0xC8}));
  EXPECT_EQ(b.view.reads_ended, 0);
  b.Tick(30);
  EXPECT_EQ(b.view.asks, 1);
}

TEST(NoAnswer, LateReplyAfterCancelResumesTheRead) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  const size_t pending = b.fed;  // the first read request, not yet handed to the device
  b.view.answers = {false};
  b.Tick(11);
  b.fed = pending;
  b.Pump();
  EXPECT_TRUE(b.view.read_complete);
}

TEST(NoAnswer, ReplyWhileTheQuestionIsOpenIsTakenAndTheUnansweredRequestIsNotResent) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  b.view.answers = {true};
  b.view.on_ask = [&] {  // the late reply arrives while the box is on screen
    b.Deliver(
        Frame({0xFE, 0x0E, 0, 0, b.engine.state().sequence, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8}));
  };
  b.Tick(11);
  for (size_t i = b.fed; i < b.port.writes.size(); ++i) EXPECT_EQ(b.port.writes[i][7], 8);
  b.view.on_ask = nullptr;
  b.Pump();
  EXPECT_TRUE(b.view.read_complete);
  EXPECT_EQ(b.view.asks, 1);
}

TEST(NoAnswer, NoQuestionWhileThePortIsClosed) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.port.open = false;
  b.Tick(30);
  EXPECT_EQ(b.view.asks, 0);
}

TEST(NoAnswer, TimerAbandonsAPartFrameFromItsThirdTick) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  const Bytes reply = Frame({0xFE, 0x0E, 0, 0, 0x00, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8});
  b.Deliver(Bytes(reply.begin(), reply.begin() + 6));
  b.Tick(3);
  b.Deliver(Bytes(reply.begin() + 6, reply.end()));
  EXPECT_EQ(b.engine.state().offset, 0);
}

// A reply that keeps coming, in pieces each within two ticks of the last (a loaded machine), is
// taken whole however long after its request, within the no-answer watch.
TEST(NoAnswer, APartFrameWhoseBytesKeepComingIsKept) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonReadClick();
  b.LoseWrittenRequests();
  const Bytes reply = Frame({0xFE, 0x0E, 0, 0, 0x00, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8});
  b.Tick(2);
  b.Deliver(Bytes(reply.begin(), reply.begin() + 4));
  b.Tick(2);
  b.Deliver(Bytes(reply.begin() + 4, reply.begin() + 8));
  b.Tick(2);
  b.Deliver(Bytes(reply.begin() + 8, reply.end()));
  EXPECT_EQ(b.engine.state().offset, 8);
  EXPECT_EQ(b.view.asks, 0);
}

// A network port's round trip, rounded up to whole ticks, is added to both watches; a local
// port keeps them exactly.
TEST(NoAnswer, BothWatchesWaitTheRoundTripLongerOnANetworkPort) {
  const struct {
    int round_trip_ms;
    int ticks;  // the allowance
  } rows[] = {{0, 0}, {1, 1}, {100, 1}, {250, 3}, {1000, 10}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.round_trip_ms);
    EngineBench b(Config(250));
    b.port.round_trip = std::chrono::milliseconds(r.round_trip_ms);
    b.Identify();
    b.engine.ButtonReadClick();
    b.LoseWrittenRequests();
    // Half a reply, the rest after the last tick that still waits for it.
    const Bytes reply = Frame({0xFE, 0x0E, 0, 0, 0x00, 0, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8});
    b.Deliver(Bytes(reply.begin(), reply.begin() + 6));
    b.Tick(2 + r.ticks);
    b.Deliver(Bytes(reply.begin() + 6, reply.end()));
    EXPECT_EQ(b.engine.state().offset, 8);
    b.LoseWrittenRequests();
    b.Tick(10 + r.ticks);
    EXPECT_EQ(b.view.asks, 0);
    b.Tick(1);
    EXPECT_EQ(b.view.asks, 1);
  }
}

// Frames that answer nothing leave the read request outstanding: no stall, no spinning on one
// offset; the question comes and its resend carries the read on.
TEST(Receive, FramesThatAnswerNothingLeaveTheRequestOutstanding) {
  struct Row {
    const char* name;
    Bytes frame;
  };
  const std::vector<Row> rows = {
      {"unhandled 211", Frame({0xFE, 0x07, 0, 0, 0x00, 0, 0xD3, 0x00})},
      {"unhandled 205", Frame({0xFE, 0x07, 0, 0, 0x00, 0, 0xCD, 0x00})},
      {"no command byte (L = 4)", Frame({0xFE, 0x04, 0, 0, 0x00})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EngineBench b(Config(250));
    b.Identify();
    b.engine.ButtonReadClick();
    b.LoseWrittenRequests();
    const size_t sent = b.port.writes.size();
    b.Deliver(row.frame);
    EXPECT_TRUE(b.engine.RequestOutstanding());
    EXPECT_EQ(b.engine.state().offset, 0);
    EXPECT_EQ(b.port.writes.size(), sent);
    EXPECT_EQ(b.engine.StrayFramesSinceSend(), 1);
    b.view.answers = {true};
    b.Tick(11);
    EXPECT_EQ(b.view.asks, 1);
    b.fed = sent;  // the resent request reaches the device
    b.Pump();
    EXPECT_TRUE(b.view.read_complete);
  }
}

TEST(Receive, AnyFrameAnswersTheRequestAfterAnIdentification) {
  EngineBench b(Config(250));
  b.engine.SendIdentification();
  b.LoseWrittenRequests();
  b.Deliver(Frame({0xFE, 0x08, 0, 0, 0x00, 0, 0xD1, 0xFA, 0x0C}));
  ASSERT_TRUE(b.engine.RequestOutstanding());  // the 212 now
  b.Deliver(Frame({0xFE, 0x04, 0, 0, 0x00}));
  EXPECT_FALSE(b.engine.RequestOutstanding());
  b.Deliver(Frame({0xFE, 0x08, 0, 0, 0x00, 0, 0xD1, 0xFA, 0x0C}));  // a late duplicate
  EXPECT_EQ(b.view.lines.size(), 1u);
}

TEST(GiveUp, DeviceThatAnswersOnlyWithoutDataIsGivenUpAfterTheLimit) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Empty, 3, 1}};  // every read reply carries no data
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonReadClick();
  b.view.answers = std::deque<bool>(100, true);
  for (int i = 0; i < 20 && b.view.gave_up.empty(); ++i) {
    b.Pump();
    b.Tick(11);
  }
  EXPECT_EQ(b.view.asks, Exchange::kGiveUpAfter - 1);
  EXPECT_EQ(b.view.gave_up, (std::vector<uint8_t>{0xC8}));
  EXPECT_TRUE(b.view.buttons);
  EXPECT_FALSE(b.engine.RequestOutstanding());
  EXPECT_EQ(b.engine.state().offset, 0);
}

TEST(GiveUp, SilentDeviceIsAskedAboutForAsLongAsTheUserSaysOk) {
  SimConfig config = Config(250);
  config.faults = {{FaultKind::Drop, 3, 1}};
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonReadClick();
  b.view.answers = std::deque<bool>(12, true);
  for (int i = 0; i < 12; ++i) {
    b.Pump();
    b.Tick(11);
  }
  EXPECT_EQ(b.view.asks, 12);
  EXPECT_TRUE(b.view.gave_up.empty());
  EXPECT_TRUE(b.engine.RequestOutstanding());
}

TEST(LineLost, HangUpEndsTheExchangeOrIsSaidWhenIdleButACloseIsNot) {
  struct Row {
    const char* name;
    bool reading;
    LinkError error;
    std::vector<uint8_t> lost;
    bool tick_before = true;
  };
  const std::vector<Row> rows = {
      {"during a read", true, LinkError::HungUp, {0xC8}},
      {"idle", false, LinkError::HungUp, {0x00}},
      {"closed on purpose", true, LinkError::None, {}},
      // The requests sent show the line was up, though no tick saw it open.
      {"between two ticks", true, LinkError::HungUp, {0xC8}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EngineBench b(Config(250));
    b.Identify();
    if (row.tick_before) b.Tick(1);
    if (row.reading) b.engine.ButtonReadClick();
    b.port.open = false;
    b.port.error = row.error;
    b.Tick(1);
    EXPECT_EQ(b.view.lost, row.lost);
    EXPECT_EQ(b.view.buttons, !row.lost.empty() || !row.reading);
    EXPECT_EQ(b.engine.RequestOutstanding(), row.reading && row.lost.empty());
    b.Tick(30);
    EXPECT_EQ(b.view.lost.size(), row.lost.size());  // said once
    EXPECT_EQ(b.view.asks, 0);
  }
}

TEST(ReadBack, ReadsTheRangeIntoItsOwnBufferAndLeavesTheImage) {
  const ConfigImage device = Patterned();
  EngineBench b(Config(252), device);
  b.Identify();
  b.LoseWrittenRequests();
  ConfigImage into;
  b.engine.ReadBack(into, 100, 256, b.view.CheckRead());
  b.Pump();
  const std::vector<Bytes> reads = WithCommand(b.port.writes, 0xC8);
  ASSERT_EQ(reads.size(), 20u);
  EXPECT_EQ(reads.front()[7], 100);
  EXPECT_EQ(reads.back()[7], 252);  // its bytes past 255 are not stored
  for (int i = 0; i < kImageCapacity; ++i)
    ASSERT_EQ(into[i], i >= 100 && i < 256 ? device[i] : 0) << i;
  EXPECT_EQ(b.image, ConfigImage());
  EXPECT_EQ(b.view.check_reads, (std::vector<bool>{true}));
  EXPECT_EQ(b.view.reads_ended, 0);
  EXPECT_EQ(b.view.position, 256);
}

TEST(WriteRange, WritesOnlyTheBlocksOfTheRange) {
  EngineBench b(Config(250));
  b.Identify();
  b.image = Patterned();
  b.LoseWrittenRequests();
  b.engine.WriteRange(32, 64, b.view.RangeWritten());
  b.Pump();
  EXPECT_EQ(b.sim.writes(), (std::vector<std::pair<int, int>>{{32, 16}, {48, 16}}));
  EXPECT_EQ(b.view.writes_ended, 1);
}

TEST(SendNoMore, TakesTheReplyInFlightAndSendsNothingAfterIt) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.ButtonWriteClick();
  b.engine.SendNoMore();
  b.Pump();
  EXPECT_EQ(WithCommand(b.port.writes, 0xCA).size(), 1u);
  EXPECT_EQ(b.engine.state().offset, 16);  // the block in flight was acknowledged
  b.engine.ButtonWriteClick();             // the next exchange sends again
  b.Pump();
  EXPECT_TRUE(b.view.write_complete);
}

TEST(Receive, StopFlagIgnoresWholeEventsAndSendsNothing) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.StopExchange();
  const size_t before = b.port.writes.size();
  ExchangeTestAccess::State(b.engine).ticks = 5;
  b.engine.SendBuffer();
  EXPECT_EQ(b.port.writes.size(), before);
  EXPECT_EQ(b.engine.state().ticks, 0);
  b.Deliver(Frame({0xFE, 0x08, 0, 0, 0, 0, 0xD1, 0xFB, 0x0C}));
  EXPECT_TRUE(b.view.lines.size() == 1);
}

// ---- Key learning ----

TEST(KeyLearning, FirstReplyIsAlwaysPolledAgainEvenWithAKey) {
  SimConfig config = Config(251);
  config.key_after_polls = 0;
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonKeyClick();
  EXPECT_EQ(b.view.key_panel, "polling");
  EXPECT_FALSE(b.view.buttons);
  b.Pump();
  EXPECT_EQ(WithCommand(b.port.writes, 0xCE).size(), 2u);
  EXPECT_EQ(b.view.key_panel, "read");
  EXPECT_TRUE(b.view.buttons);
}

struct KeyCase {
  int model;
  const char* key_text;
};

class KeyText : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyText, ShowsTheKeyLastByteFirstAndStoresItsModelsDigits) {
  SimConfig config = Config(GetParam().model);
  config.key_after_polls = 3;
  config.key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};  // d0 .. d7
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonKeyClick();
  b.Pump();
  EXPECT_EQ(WithCommand(b.port.writes, 0xCE).size(), 4u);  // three answered empty, then the key
  EXPECT_EQ(b.engine.EditKeyText(), "EFCDAB8967452301");
  EXPECT_EQ(b.view.edit_key, "EFCDAB8967452301");
  EXPECT_EQ(b.engine.KeyText(), GetParam().key_text);
}

INSTANTIATE_TEST_SUITE_P(Models, KeyText,
                         testing::Values(KeyCase{251, "EFCDAB8967452301"}, KeyCase{250, "89674523"},
                                         KeyCase{252, "89674523"}));

TEST(KeyLearning, PollRequestBytes) {
  EngineBench b(Config(250));
  b.Identify();
  b.LoseWrittenRequests();
  b.engine.ButtonKeyClick();
  const Bytes& poll = b.port.writes.back();
  const Bytes head = {0xFE, 0x08, 0x01, 0x7F, b.engine.state().sequence, 0x00, 0xCE, 0x00, 0x00};
  EXPECT_EQ(Bytes(poll.begin(), poll.begin() + 9), head);
  EXPECT_EQ(poll[9], Crc8(head));
  EXPECT_EQ(poll[10], 0x00);
}

TEST(KeyLearning, DisabledButtonOrClosedPortStartsNothing) {
  EngineBench b(Config(250));
  b.Identify();
  b.engine.SetButtonsEnabled(false);
  const size_t before = b.port.writes.size();
  b.engine.ButtonKeyClick();
  EXPECT_EQ(b.port.writes.size(), before);
  EXPECT_EQ(b.view.key_panel, "");
}

TEST(KeyLearning, LateReplyAfterStopChangesNothing) {
  SimConfig config = Config(250);
  config.key_after_polls = 0;
  EngineBench b(config);
  b.Identify();
  b.engine.ButtonKeyClick();
  b.engine.ButtonStopKeyClick();
  EXPECT_EQ(b.view.key_panel, "stopped");
  b.Pump();
  EXPECT_EQ(WithCommand(b.port.writes, 0xCE).size(), 1u);
  EXPECT_EQ(b.engine.EditKeyText(), "");
  EXPECT_TRUE(b.view.buttons);
}

}  // namespace
}  // namespace lovar
