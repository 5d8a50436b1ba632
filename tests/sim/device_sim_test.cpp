// The simulated device at the byte level: its replies, the extra byte after every request, and
// each fault it injects.
#include "sim/device_sim.h"

#include <gtest/gtest.h>

#include <string>

#include "model/regions.h"
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

// An identification request (with its trailing byte) carrying sequence number seq.
Bytes Identify(uint8_t seq) {
  Bytes frame{0xFE, 0x08, 0x01, 0x7F, seq, 0x00, 0xD0, 0x00, 0x00};
  frame.push_back(Crc8(frame));
  frame.push_back(0x00);
  return frame;
}

struct ReplyCase {
  const char* name;
  int model;
  int key_after_polls;
  Bytes request;  // the frame and the trailing byte
  Bytes reply;
};

class DeviceSimReply : public testing::TestWithParam<ReplyCase> {};

TEST_P(DeviceSimReply, AnswersRequestWithSpelledOutBytes) {
  const ReplyCase& c = GetParam();
  SimConfig config;
  config.model = c.model;
  config.key_after_polls = c.key_after_polls;
  DeviceSim sim(config, PatternImage());
  EXPECT_EQ(Concat(Send(sim, c.request)), c.reply);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DeviceSimReply,
    testing::Values(
        ReplyCase{"Identify251",
                  251,
                  0,
                  {0xFE, 0x08, 0x01, 0x7F, 0x00, 0x00, 0xD0, 0x00, 0x00, 0xBC, 0x00},
                  {0xFE, 0x08, 0x7F, 0x01, 0x00, 0x00, 0xD1, 0xFB, 0x0C, 0x29}},
        ReplyCase{"Identify250TrailingStartByte",
                  250,
                  0,
                  {0xFE, 0x08, 0x01, 0x7F, 0x00, 0x00, 0xD0, 0x00, 0x00, 0xBC, 0xFE},
                  {0xFE, 0x08, 0x7F, 0x01, 0x00, 0x00, 0xD1, 0xFA, 0x0C, 0xED}},
        ReplyCase{"AfterIdentifyGets211",
                  251,
                  0,
                  {0xFE, 0x07, 0x01, 0x7F, 0x03, 0x00, 0xD4, 0x00, 0xF3, 0x00},
                  {0xFE, 0x07, 0x7F, 0x01, 0x03, 0x00, 0xD3, 0x00, 0xD9}},
        ReplyCase{"ReadAtZero",
                  251,
                  0,
                  {0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4A, 0x00},
                  {0xFE, 0x0E, 0x7F, 0x01, 0x00, 0x00, 0xC9, 0x03, 0x0A, 0x11, 0x18, 0x1F, 0x26,
                   0x2D, 0x34, 0xF2}},
        ReplyCase{"ReadPastCapacityGivesZeros",
                  251,
                  0,
                  {0xFE, 0x0A, 0x01, 0x7F, 0x05, 0x00, 0xC8, 0xFC, 0x0F, 0x00, 0x08, 0xBF, 0x00},
                  {0xFE, 0x0E, 0x7F, 0x01, 0x05, 0x00, 0xC9, 0xE7, 0xEE, 0xF5, 0xFC, 0x00, 0x00,
                   0x00, 0x00, 0x35}},
        ReplyCase{
            "WriteAck",
            251,
            0,
            {0xFE, 0x19, 0x01, 0x7F, 0x02, 0x00, 0xCA, 0x10, 0x00, 0x00, 0xA0, 0xA1, 0xA2, 0xA3,
             0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0x72, 0x00},
            {0xFE, 0x06, 0x7F, 0x01, 0x02, 0x00, 0xCB, 0xA1}},
        ReplyCase{"KeyPollWithoutKey",
                  251,
                  1,
                  {0xFE, 0x08, 0x01, 0x7F, 0x09, 0x00, 0xCE, 0x00, 0x00, 0xF1, 0x00},
                  {0xFE, 0x0E, 0x7F, 0x01, 0x09, 0x00, 0xCF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0x00, 0x00, 0x3A}},
        ReplyCase{"KeyPollWithKey",
                  251,
                  0,
                  {0xFE, 0x08, 0x01, 0x7F, 0x09, 0x00, 0xCE, 0x00, 0x00, 0xF1, 0x00},
                  {0xFE, 0x0E, 0x7F, 0x01, 0x09, 0x00, 0xCF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB,
                   0xCD, 0xEF, 0xE7}},
        ReplyCase{"BadCrcRequestUnanswered",
                  251,
                  0,
                  {0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4B, 0x00},
                  {}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

TEST(DeviceSim, WriteStoresTheBlockAndRecordsIt) {
  DeviceSim sim(SimConfig{}, PatternImage());
  Send(sim, {0xFE, 0x19, 0x01, 0x7F, 0x02, 0x00, 0xCA, 0x10, 0x00, 0x00, 0xA0, 0xA1, 0xA2, 0xA3,
             0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0x72, 0x00});
  for (int i = 0; i < 16; ++i) EXPECT_EQ(sim.image()[16 + i], 0xA0 + i) << i;
  EXPECT_EQ(sim.image()[15], PatternImage()[15]);
  EXPECT_EQ(sim.image()[32], PatternImage()[32]);
  EXPECT_EQ(sim.writes(), (std::vector<std::pair<int, int>>{{16, 16}}));
}

TEST(DeviceSim, RequestsSplitIntoSingleBytesAreAnswered) {
  DeviceSim sim(SimConfig{}, PatternImage());
  const Bytes request{0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4A, 0xFE};
  std::vector<SimOutput> out;
  for (uint8_t b : request) sim.Feed(Bytes{b}, out);
  for (uint8_t b : Identify(1)) sim.Feed(Bytes{b}, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].bytes[6], kReadReply);
  EXPECT_EQ(out[1].bytes[6], kIdentifyReply);
  EXPECT_EQ(out[1].bytes[4], 1);
}

// A trailing 254 that were not skipped would start a frame and swallow the next request.
TEST(DeviceSim, TrailingStartByteBeforeNextRequestIsSkipped) {
  DeviceSim sim(SimConfig{}, PatternImage());
  Bytes stream = Identify(0);
  stream.back() = 0xFE;
  const Bytes second = Identify(1);
  stream.insert(stream.end(), second.begin(), second.end());
  const std::vector<SimOutput> out = Send(sim, stream);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].bytes[4], 1);
  EXPECT_EQ(sim.requests(), 2);
}

TEST(DeviceSim, BadFrameIsFollowedByItsTrailingByteToo) {
  DeviceSim sim(SimConfig{}, PatternImage());
  Bytes stream = Identify(0);
  stream[9] ^= 0x01;     // wrong CRC
  stream.back() = 0xFE;  // its trailing byte
  const Bytes second = Identify(1);
  stream.insert(stream.end(), second.begin(), second.end());
  const std::vector<SimOutput> out = Send(sim, stream);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes[4], 1);
  EXPECT_EQ(sim.requests(), 1);
  EXPECT_EQ(sim.received_frames().size(), 1u);
}

TEST(DeviceSim, KeyAppearsAfterTheChosenNumberOfPolls) {
  SimConfig config;
  config.key_after_polls = 2;
  DeviceSim sim(config);
  const Bytes poll{0xFE, 0x08, 0x01, 0x7F, 0x09, 0x00, 0xCE, 0x00, 0x00, 0xF1, 0x00};
  std::vector<uint8_t> first_bytes;
  for (int i = 0; i < 4; ++i) first_bytes.push_back(Concat(Send(sim, poll)).at(7));
  EXPECT_EQ(first_bytes, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x01}));
  EXPECT_EQ(sim.key_polls(), 4);
}

TEST(DeviceSim, ReadCountIsCappedAtTheLongestReceivableFrame) {
  DeviceSim sim(SimConfig{}, PatternImage());
  Bytes request{0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0xFF};
  request.push_back(Crc8(request));
  request.push_back(0x00);
  const Bytes reply = Concat(Send(sim, request));
  ASSERT_EQ(reply.size(), 200u);
  EXPECT_EQ(reply[1], 198);
  EXPECT_EQ(Crc8(reply), 0);
}

// Fault rules, each applied to the second of three identification requests.
struct FaultCase {
  const char* name;
  FaultRule rule;
  bool split = false;
};

class DeviceSimFault : public testing::TestWithParam<FaultCase> {};

TEST_P(DeviceSimFault, AltersOnlyTheReplyToItsRequest) {
  const FaultCase& c = GetParam();
  SimConfig config;
  config.split_bytes = c.split;
  config.faults = {c.rule};
  DeviceSim sim(config, PatternImage());
  DeviceSim clean(SimConfig{}, PatternImage());

  std::vector<std::vector<SimOutput>> got, normal;
  for (uint8_t seq = 0; seq < 3; ++seq) {
    got.push_back(Send(sim, Identify(seq)));
    normal.push_back(Send(clean, Identify(seq)));
  }
  const Bytes good = Concat(normal[1]);
  const std::vector<SimOutput>& out = got[1];
  for (int i : {0, 2})
    EXPECT_EQ(Concat(got[static_cast<size_t>(i)]), Concat(normal[static_cast<size_t>(i)]));

  switch (c.rule.kind) {
    case FaultKind::Drop:
      EXPECT_TRUE(out.empty());
      break;
    case FaultKind::HangUp:
      ASSERT_EQ(out.size(), 1u);
      EXPECT_TRUE(out[0].hang_up);
      EXPECT_TRUE(out[0].bytes.empty());
      break;
    case FaultKind::BadCrc: {
      const Bytes bytes = Concat(out);
      ASSERT_EQ(bytes.size(), good.size());
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end() - 1, good.begin()));
      EXPECT_NE(Crc8(bytes), 0);
      break;
    }
    case FaultKind::WrongSeq: {
      const Bytes bytes = Concat(out);
      EXPECT_EQ(bytes[4], 2);
      EXPECT_EQ(Crc8(bytes), 0);  // a good frame, only not the awaited one
      break;
    }
    case FaultKind::Noise: {
      ASSERT_EQ(out.size(), 1u);
      const Bytes& bytes = out[0].bytes;
      const size_t noise = static_cast<size_t>(c.rule.param > 0 ? c.rule.param : 5);
      ASSERT_EQ(bytes.size(), noise + good.size());
      for (size_t i = 0; i < noise; ++i) EXPECT_NE(bytes[i], 0xFE) << i;
      EXPECT_TRUE(std::equal(good.begin(), good.end(), bytes.begin() + static_cast<long>(noise)));
      break;
    }
    case FaultKind::Burst: {
      ASSERT_EQ(out.size(), 1u);  // one write
      const Bytes& bytes = out[0].bytes;
      ASSERT_GT(bytes.size(), good.size());
      const size_t extra = bytes.size() - good.size();
      EXPECT_EQ(bytes[0], 0xFE);
      EXPECT_EQ(bytes[1] + 2u, extra);
      EXPECT_EQ(bytes[6], kUnhandled);
      EXPECT_EQ(Crc8(std::span<const uint8_t>(bytes).first(extra)), 0);
      EXPECT_TRUE(std::equal(good.begin(), good.end(), bytes.begin() + static_cast<long>(extra)));
      break;
    }
    case FaultKind::Delay:
      ASSERT_EQ(out.size(), 1u);
      EXPECT_EQ(out[0].delay, std::chrono::milliseconds(c.rule.param));
      EXPECT_EQ(out[0].bytes, good);
      break;
    case FaultKind::Duplicate: {
      Bytes twice = good;
      twice.insert(twice.end(), good.begin(), good.end());
      EXPECT_EQ(Concat(out), twice);
      if (!c.split) {
        EXPECT_EQ(out.size(), 2u);
      }
      break;
    }
  }
  if (c.split) {
    for (const SimOutput& o : out) EXPECT_EQ(o.bytes.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DeviceSimFault,
    testing::Values(FaultCase{"Drop", {FaultKind::Drop, 2}},
                    FaultCase{"BadCrc", {FaultKind::BadCrc, 2}},
                    FaultCase{"Noise", {FaultKind::Noise, 2}},
                    FaultCase{"NoiseLong", {FaultKind::Noise, 2, 0, 40}},
                    FaultCase{"Burst", {FaultKind::Burst, 2}},
                    FaultCase{"Delay", {FaultKind::Delay, 2, 0, 250}},
                    FaultCase{"Duplicate", {FaultKind::Duplicate, 2}},
                    FaultCase{"DuplicateSplit", {FaultKind::Duplicate, 2}, true},
                    FaultCase{"WrongSeq", {FaultKind::WrongSeq, 2}},
                    FaultCase{"HangUp", {FaultKind::HangUp, 2}},
                    FaultCase{"BadCrcSplit", {FaultKind::BadCrc, 2}, true}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

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

// The built-in images: values the pages can show, in the layouts the tool decodes.
TEST(SampleImage, Model251HoldsRussianNamesAndGprsSettings) {
  const ConfigImage image = SampleImage(251);
  EXPECT_EQ(image.Text(512, 8), "Дверь");
  EXPECT_EQ(image[512], 0xC4);                // Windows-1251 "Д"
  EXPECT_EQ(image.Text(536, 8), "Пожарный");  // eight letters, no terminator
  EXPECT_EQ(image.Text(544, 8), "Иванов");
  EXPECT_EQ(image.Text(712, 8), "ПЦН");
  EXPECT_EQ(image.Text(182, 60), "AT+CGDCONT=1,\"IP\",\"internet\"");
  EXPECT_EQ(gprs::IpText(image), "192.0.2.10");
  EXPECT_EQ(gprs::Port(image), 5000);
  EXPECT_EQ(directions::PhoneText(image, 0), "  + 79161234567");
  EXPECT_EQ(directions::PhoneText(image, 1), "84951234567");
  EXPECT_EQ(directions::PhoneText(image, 3), "");
  EXPECT_EQ(image.Bits(2, 0x0F, 0), 2);  // ШС1 "Охранный"
  EXPECT_TRUE(image.Bit(2, 7));          // re-armed after an alarm
  EXPECT_FALSE(keys::IsZero(image, 251, 0));
  // The key's last byte is the CRC of the first seven, as a contact key's is.
  const std::span<const uint8_t> key = image.bytes().subspan(3584, 8);
  EXPECT_EQ(Crc8(key), 0);
}

TEST(SampleImage, Models250And252HoldLoopsKeysAndCodes) {
  for (int model : {250, 252}) {
    SCOPED_TRACE(model);
    const ConfigImage image = SampleImage(model);
    EXPECT_EQ(image[118], 2);                               // output 1 "Сирена"
    EXPECT_EQ(image[140] >> 6 | (image[141] & 3) << 2, 5);  // board address
    EXPECT_EQ(image[141] >> 2, 3);                          // direction number
    EXPECT_FALSE(keys::IsZero(image, model, 0));
    EXPECT_NE(image[127], 0);  // so that a write's zeroing of 127..130 shows
  }
  EXPECT_EQ(codes::DigitsText(SampleImage(250)[0], SampleImage(250)[1]), "1234");
  EXPECT_EQ(SampleImage(252)[0], 0);    // no codes page on 252
  EXPECT_EQ(SampleImage(252)[235], 0);  // nor key rights
}

}  // namespace
}  // namespace lovar
