// The simulated device at the byte level: its replies, the extra byte after every request, and
// each fault it injects.
#include "sim/device_sim.h"

#include <gtest/gtest.h>

#include <string>

#include "model/catalog.h"
#include "protocol/crc8.h"

namespace lovar {
namespace {

using Bytes = std::vector<uint8_t>;

// An image whose every byte differs from its neighbours, so a reply from the wrong offset shows.
ConfigImage PatternImage() {
  ConfigImage image;
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

Bytes Concat(const std::vector<SimOutput>& outputs) {
  Bytes all;
  for (const SimOutput& o : outputs) all.insert(all.end(), o.bytes.begin(), o.bytes.end());
  return all;
}

std::vector<SimOutput> Send(DeviceSim& sim, const Bytes& bytes) {
  std::vector<SimOutput> out;
  sim.Feed(bytes, out);
  return out;
}

// Bytes as a line monitor shows them: hex pairs separated by spaces.
Bytes Hex(std::string_view text) {
  Bytes bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

// A request frame with its CRC, then the byte that follows every request on the wire.
Bytes Request(uint8_t seq, uint8_t command, const Bytes& data, uint8_t trailing = 0x00) {
  Bytes frame{0xFE, static_cast<uint8_t>(6 + data.size()), 0x01, 0x7F, seq, 0x00, command};
  frame.insert(frame.end(), data.begin(), data.end());
  frame.push_back(Crc8(frame));
  frame.push_back(trailing);
  return frame;
}

Bytes Identify(uint8_t seq) {
  return Request(seq, 0xD0, {0x00, 0x00});
}

Bytes WriteAt16() {
  Bytes data{0x10, 0x00, 0x00};
  for (uint8_t b = 0xA0; b <= 0xAF; ++b) data.push_back(b);
  return Request(0x02, 0xCA, data);
}

TEST(DeviceSim, AnswersRequestsWithSpelledOutBytes) {
  struct Row {
    const char* name;
    int model;
    int key_after_polls;
    Bytes request;
    const char* reply;
  };
  const Bytes key_poll = Request(0x09, 0xCE, {0x00, 0x00});
  const Bytes bad_crc = Hex("FE 0A 01 7F 00 00 C8 00 00 00 08 4B 00");
  const std::vector<Row> rows = {
      {"identify 251", 251, 0, Identify(0), "FE 08 7F 01 00 00 D1 FB 0C 29"},
      {"identify 250, trailing 254", 250, 0, Request(0x00, 0xD0, {0x00, 0x00}, 0xFE),
       "FE 08 7F 01 00 00 D1 FA 0C ED"},
      {"after identify", 251, 0, Request(0x03, 0xD4, {0x00}), "FE 07 7F 01 03 00 D3 00 D9"},
      {"read at 0", 251, 0, Request(0x00, 0xC8, {0x00, 0x00, 0x00, 0x08}),
       "FE 0E 7F 01 00 00 C9 03 0A 11 18 1F 26 2D 34 F2"},
      {"read past capacity gives zeros", 251, 0, Request(0x05, 0xC8, {0xFC, 0x0F, 0x00, 0x08}),
       "FE 0E 7F 01 05 00 C9 E7 EE F5 FC 00 00 00 00 35"},
      {"write", 251, 0, WriteAt16(), "FE 06 7F 01 02 00 CB A1"},
      {"key poll without key", 251, 1, key_poll, "FE 0E 7F 01 09 00 CF 00 00 00 00 00 00 00 00 3A"},
      {"key poll with key", 251, 0, key_poll, "FE 0E 7F 01 09 00 CF 01 23 45 67 89 AB CD EF E7"},
      {"bad CRC unanswered", 251, 0, bad_crc, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimConfig config;
    config.model = row.model;
    config.key_after_polls = row.key_after_polls;
    DeviceSim sim(config, PatternImage());
    EXPECT_EQ(Concat(Send(sim, row.request)), Hex(row.reply));
  }
}

TEST(DeviceSim, WriteStoresTheBlockAndRecordsIt) {
  DeviceSim sim(SimConfig{}, PatternImage());
  Send(sim, WriteAt16());
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sim.image()[16 + i], 0xA0 + i) << i;
  EXPECT_EQ(sim.image()[15], PatternImage()[15]);
  EXPECT_EQ(sim.image()[32], PatternImage()[32]);
  EXPECT_EQ(sim.writes(), (std::vector<std::pair<int, int>>{{16, 16}}));
}

TEST(DeviceSim, RequestsSplitIntoSingleBytesAreAnswered) {
  DeviceSim sim(SimConfig{}, PatternImage());
  Bytes stream = Request(0x00, 0xC8, {0x00, 0x00, 0x00, 0x08}, 0xFE);
  const Bytes second = Identify(1);
  stream.insert(stream.end(), second.begin(), second.end());
  std::vector<SimOutput> out;
  for (uint8_t b : stream) sim.Feed(Bytes{b}, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes[6], kReadReply);
  EXPECT_EQ(out[1].bytes[6], kIdentifyReply);
  EXPECT_EQ(out[1].bytes[4], 1);
}

// A trailing 254 that were not skipped would start a frame and swallow the next request; the
// byte follows a bad frame too.
TEST(DeviceSim, TrailingStartByteBeforeNextRequestIsSkipped) {
  for (bool bad_first : {false, true}) {
    SCOPED_TRACE(bad_first ? "after a bad frame" : "after a good frame");
    DeviceSim sim(SimConfig{}, PatternImage());
    Bytes stream = Identify(0);
    if (bad_first) stream[9] ^= 0x01;  // wrong CRC
    stream.back() = 0xFE;
    const Bytes second = Identify(1);
    stream.insert(stream.end(), second.begin(), second.end());
    const std::vector<SimOutput> out = Send(sim, stream);
    ASSERT_EQ(out.size(), bad_first ? 1u : 2u);
    EXPECT_EQ(out.back().bytes[4], 1);
    EXPECT_EQ(sim.requests(), bad_first ? 1 : 2);
    EXPECT_EQ(sim.received_frames().size(), bad_first ? 1u : 2u);
  }
}

TEST(DeviceSim, KeyAppearsAfterTheChosenNumberOfPolls) {
  SimConfig config;
  config.key_after_polls = 2;
  DeviceSim sim(config);
  const Bytes poll = Request(0x09, 0xCE, {0x00, 0x00});
  std::vector<uint8_t> first_bytes;
  for (int i = 0; i < 4; ++i) first_bytes.push_back(Concat(Send(sim, poll)).at(7));
  EXPECT_EQ(first_bytes, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x01}));
  EXPECT_EQ(sim.key_polls(), 4);
}

TEST(DeviceSim, ReadCountIsCappedAtTheLongestReceivableFrame) {
  DeviceSim sim(SimConfig{}, PatternImage());
  const Bytes reply = Concat(Send(sim, Request(0x00, 0xC8, {0x00, 0x00, 0x00, 0xFF})));
  ASSERT_EQ(reply.size(), 200u);
  EXPECT_EQ(reply[1], 198);
  EXPECT_EQ(Crc8(reply), 0);
}

// Each fault applied to the second of three identification requests: the outputs for it, each
// one write; the replies to the other two stay as they were.
TEST(DeviceSim, EachFaultAltersOnlyTheReplyToItsRequest) {
  const std::string good = "FE 08 7F 01 01 00 D1 FB 0C E4";
  struct Row {
    const char* name;
    FaultRule rule;
    std::vector<std::string> writes;
    int delay_ms = 0;
    bool hang_up = false;
    bool split = false;  // then every byte of the writes is an output of its own
  };
  const std::vector<Row> rows = {
      {"drop", {FaultKind::Drop, 2}, {}},
      {"bad CRC", {FaultKind::BadCrc, 2}, {"FE 08 7F 01 01 00 D1 FB 0C 1B"}},
      {"wrong sequence", {FaultKind::WrongSeq, 2}, {"FE 08 7F 01 02 00 D1 FB 0C AA"}},
      // Noise never holds a 254, which would start a frame.
      {"noise", {FaultKind::Noise, 2}, {"00 55 AA FF 13 " + good}},
      {"long noise", {FaultKind::Noise, 2, 0, 12}, {"00 55 AA FF 13 C8 7F 01 FD 00 55 AA " + good}},
      // An unsolicited 211 frame, a 254 among its data, in the same write as the reply.
      {"burst", {FaultKind::Burst, 2}, {"FE 09 7F 01 01 00 D3 5A FE 00 7E " + good}},
      {"delay", {FaultKind::Delay, 2, 0, 250}, {good}, 250},
      {"duplicate", {FaultKind::Duplicate, 2}, {good, good}},
      {"hang-up", {FaultKind::HangUp, 2}, {""}, 0, true},
      {"lost", {FaultKind::Lost, 2}, {}},
      {"unhandled in place of the reply", {FaultKind::Unhandled, 2}, {"FE 07 7F 01 01 00 D3 00 DE"}},
      {"empty", {FaultKind::Empty, 2}, {"FE 06 7F 01 01 00 D1 A6"}},
      {"short", {FaultKind::Short, 2}, {"FE 04 7F 01 01 20"}},
      {"duplicate split", {FaultKind::Duplicate, 2}, {good, good}, 0, false, true},
      {"bad CRC split", {FaultKind::BadCrc, 2}, {"FE 08 7F 01 01 00 D1 FB 0C 1B"}, 0, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SimConfig config;
    config.split_bytes = row.split;
    config.faults = {row.rule};
    DeviceSim sim(config, PatternImage());
    DeviceSim clean(SimConfig{}, PatternImage());
    std::vector<SimOutput> out;
    for (uint8_t seq = 0; seq < 3; ++seq) {
      std::vector<SimOutput> got = Send(sim, Identify(seq));
      const Bytes normal = Concat(Send(clean, Identify(seq)));
      if (seq == 1) {
        out = std::move(got);
      } else {
        EXPECT_EQ(Concat(got), normal) << +seq;
      }
    }
    std::vector<Bytes> expected;
    for (const std::string& w : row.writes) {
      const Bytes bytes = Hex(w);
      if (row.split) {
        for (uint8_t b : bytes) expected.push_back({b});
      } else {
        expected.push_back(bytes);
      }
    }
    std::vector<Bytes> writes;
    for (const SimOutput& o : out) {
      writes.push_back(o.bytes);
      EXPECT_EQ(o.delay, std::chrono::milliseconds(row.delay_ms));
      EXPECT_EQ(o.hang_up, row.hang_up);
    }
    EXPECT_EQ(writes, expected);
  }
}

// A write lost on its way is neither stored nor answered; an unstored one is answered only.
TEST(DeviceSim, LostAndUnstoredWritesLeaveTheImage) {
  for (FaultKind kind : {FaultKind::Lost, FaultKind::Unstored}) {
    SCOPED_TRACE(kind == FaultKind::Lost ? "lost" : "unstored");
    SimConfig config;
    config.faults = {{kind, 1}};
    DeviceSim sim(config, PatternImage());
    const Bytes reply = Concat(Send(sim, WriteAt16()));
    EXPECT_EQ(reply, kind == FaultKind::Lost ? Bytes{} : Hex("FE 06 7F 01 02 00 CB A1"));
    EXPECT_EQ(sim.image(), PatternImage());
    EXPECT_TRUE(sim.writes().empty());
    EXPECT_EQ(sim.requests(), 1);
  }
}

TEST(DeviceSim, FaultRuleWithEveryRepeatsFromItsStart) {
  const FaultRule rule{FaultKind::Drop, 2, 3};
  std::string hits;
  for (int n = 1; n <= 9; ++n) hits += rule.AppliesTo(n) ? 'x' : '.';
  EXPECT_EQ(hits, ".x..x..x.");
}

TEST(DeviceSim, WrongSequenceAndBadCrcTogetherLeaveTheCrcWrong) {
  SimConfig config;
  config.faults = {{FaultKind::BadCrc, 1}, {FaultKind::WrongSeq, 1}};
  DeviceSim sim(config, PatternImage());
  const Bytes reply = Concat(Send(sim, Identify(7)));
  EXPECT_EQ(reply[4], 8);
  EXPECT_NE(Crc8(reply), 0);
}

TEST(DeviceSim, ResetLineForgetsAPartlyReceivedFrame) {
  DeviceSim sim(SimConfig{}, PatternImage());
  const Bytes request = Identify(0);
  std::vector<SimOutput> out;
  sim.Feed(std::span<const uint8_t>(request).first(5), out);
  sim.ResetLine();
  sim.Feed(Identify(1), out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes[4], 1);
}

// Only what other tests rely on: a real key on every model, and bytes a write must visibly zero.
TEST(SampleImage, HoldsAKeyAndNonZeroBytesAWriteClears) {
  for (int model : {250, 251, 252}) {
    EXPECT_NE(FieldText(*FindFieldById(model, "key1.code"), SampleImage(model)), "") << model;
  }
  // A contact key's last byte is the CRC of its first seven.
  EXPECT_EQ(Crc8(SampleImage(251).bytes().subspan(3584, 8)), 0);
  EXPECT_NE(SampleImage(250)[127], 0);
  EXPECT_NE(SampleImage(252)[127], 0);
}

}  // namespace
}  // namespace lovar
