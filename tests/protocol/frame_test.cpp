// Framing and CRC: the wire bytes of every request, and the reassembler over a byte stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/crc8.h"
#include "protocol/frame.h"

namespace lovar {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Wire(const SendBufferBytes& buffer) {
  const WireRequest w = BuildWireRequest(buffer);
  return Bytes(w.bytes.begin(), w.bytes.begin() + static_cast<long>(w.count));
}

SendBufferBytes Buffer(std::initializer_list<uint8_t> head, uint8_t fill_after = 0) {
  SendBufferBytes b{};
  b.fill(fill_after);
  std::copy(head.begin(), head.end(), b.begin());
  return b;
}

TEST(Crc8, CheckValueOfTheNineDigitsIsA1) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc8({reinterpret_cast<const uint8_t*>(digits.data()), digits.size()}), 0xA1);
}

TEST(Crc8, WholeCorrectFrameGivesZero) {
  const Bytes frame = {0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4A};
  EXPECT_EQ(Crc8(frame), 0);
}

struct WireCase {
  const char* name;
  SendBufferBytes buffer;
  Bytes expected;
};

class WireRequests : public testing::TestWithParam<WireCase> {};

TEST_P(WireRequests, AreTheFrameThenTheBuffersNextByte) {
  EXPECT_EQ(Wire(GetParam().buffer), GetParam().expected);
}

// The trailing byte is what the buffer holds after the CRC position (0x5A here).
INSTANTIATE_TEST_SUITE_P(
    Commands, WireRequests,
    testing::Values(
        WireCase{"Read0Seq0",
                 Buffer({254, 12, 1, 127, 0, 0, 200, 0, 0, 0, 8, 0}, 0x5A),
                 {0xFE, 0x0A, 0x01, 0x7F, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x08, 0x4A, 0x5A}},
        WireCase{"Read40Seq5",
                 Buffer({254, 12, 1, 127, 5, 0, 200, 40, 0, 0, 8, 0}),
                 {0xFE, 0x0A, 0x01, 0x7F, 0x05, 0x00, 0xC8, 0x28, 0x00, 0x00, 0x08, 0xEF, 0x00}},
        WireCase{"Read8Seq1",
                 Buffer({254, 12, 1, 127, 1, 0, 200, 8, 0, 0, 8, 0}),
                 {0xFE, 0x0A, 0x01, 0x7F, 0x01, 0x00, 0xC8, 0x08, 0x00, 0x00, 0x08, 0x6B, 0x00}},
        WireCase{"Read16Seq2",
                 Buffer({254, 12, 1, 127, 2, 0, 200, 16, 0, 0, 8, 0}),
                 {0xFE, 0x0A, 0x01, 0x7F, 0x02, 0x00, 0xC8, 0x10, 0x00, 0x00, 0x08, 0x08, 0x00}},
        WireCase{"Read248Seq31",
                 Buffer({254, 12, 1, 127, 31, 0, 200, 248, 0, 0, 8, 0}),
                 {0xFE, 0x0A, 0x01, 0x7F, 0x1F, 0x00, 0xC8, 0xF8, 0x00, 0x00, 0x08, 0x9E, 0x00}},
        WireCase{"Identify",
                 Buffer({254, 10, 1, 127, 0, 0, 208, 0}),
                 {0xFE, 0x08, 0x01, 0x7F, 0x00, 0x00, 0xD0, 0x00, 0x00,
                  Crc8(Bytes{0xFE, 0x08, 0x01, 0x7F, 0x00, 0x00, 0xD0, 0x00, 0x00}), 0x00}},
        WireCase{"AfterIdentify",
                 Buffer({254, 9, 1, 127, 3, 0, 212, 0}, 0x11),
                 {0xFE, 0x07, 0x01, 0x7F, 0x03, 0x00, 0xD4, 0x00,
                  Crc8(Bytes{0xFE, 0x07, 0x01, 0x7F, 0x03, 0x00, 0xD4, 0x00}), 0x11}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WireRequest, WriteBlockCarriesSixteenImageBytes) {
  SendBufferBytes b = Buffer({254, 27, 1, 127, 7, 0, 202, 0x10, 0x01, 0});
  for (int i = 0; i < 16; ++i) b[10 + static_cast<size_t>(i)] = static_cast<uint8_t>(0xA0 + i);
  const Bytes wire = Wire(b);
  ASSERT_EQ(wire.size(), 28u);
  EXPECT_EQ(wire[1], 0x19);
  EXPECT_EQ(wire[6], 0xCA);
  EXPECT_EQ(wire[7], 0x10);
  EXPECT_EQ(wire[8], 0x01);
  EXPECT_EQ(wire[25], 0xAF);
  EXPECT_EQ(Crc8(std::span(wire.data(), 27)), 0);
}

TEST(WireRequest, LeavesTheBufferUnchangedSoAResendIsIdentical) {
  const SendBufferBytes b = Buffer({254, 12, 1, 127, 9, 0, 200, 64, 0, 0, 8, 0});
  const SendBufferBytes copy = b;
  const Bytes first = Wire(b);
  EXPECT_EQ(b, copy);
  EXPECT_EQ(Wire(b), first);
}

TEST(WireRequest, FullBufferSendsOnlyItsOwnBytes) {
  SendBufferBytes b{};
  b[0] = 254;
  b[1] = 101;
  EXPECT_EQ(Wire(b).size(), 101u);
}

TEST(WireRequest, MarkerThatFitsNoFrameSendsNothing) {
  EXPECT_TRUE(Wire(Buffer({254, 0})).empty());
  EXPECT_TRUE(Wire(Buffer({254, 200})).empty());
}

// ---- Reassembly ----

Bytes Frame(std::initializer_list<uint8_t> without_crc) {
  Bytes f(without_crc);
  f.push_back(Crc8(f));
  return f;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const Bytes kA = Frame({0xFE, 0x0E, 0x7F, 0x01, 0x00, 0x00, 0xC9, 1, 2, 3, 4, 5, 6, 7, 8});
const Bytes kB = Frame({0xFE, 0x08, 0x7F, 0x01, 0x00, 0x00, 0xD1, 0xFB, 0x0C});
const Bytes kWith254 = Frame({0xFE, 0x0A, 0x00, 0x00, 0x00, 0x00, 0xC9, 0xFE, 0xFE, 0x0A, 0xFE});

Bytes Corrupt(Bytes f) {
  f[7] ^= 0x01;
  return f;
}

Bytes LongFrame(uint8_t length) {
  Bytes f = {0xFE, length};
  while (f.size() < static_cast<size_t>(length) + 1) f.push_back(0x33);
  f.push_back(Crc8(f));
  return f;
}

struct StreamCase {
  const char* name;
  Bytes stream;
  size_t chunk;  // bytes per delivery; 0 = all in one
  std::vector<Bytes> expected;
};

class Reassembly : public testing::TestWithParam<StreamCase> {};

TEST_P(Reassembly, DeliversExactlyTheGoodFrames) {
  const StreamCase& c = GetParam();
  Reassembler r;
  std::vector<Bytes> got;
  const size_t chunk = c.chunk ? c.chunk : c.stream.size();
  for (size_t i = 0; i < c.stream.size(); i += chunk) {
    const size_t n = std::min(chunk, c.stream.size() - i);
    r.Feed(std::span(c.stream.data() + i, n),
           [&](std::span<const uint8_t> f) { got.emplace_back(f.begin(), f.end()); });
  }
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Reassembly,
    testing::Values(
        StreamCase{"WholeFrame", kA, 0, {kA}}, StreamCase{"OneBytePerDelivery", kA, 1, {kA}},
        StreamCase{"ThreeBytesPerDelivery", Concat({kA, kB}), 3, {kA, kB}},
        StreamCase{"TwoFramesInOneDelivery", Concat({kA, kB}), 0, {kA, kB}},
        StreamCase{"NoiseBeforeAndBetween",
                   Concat({{0x00, 0x13, 0x7F}, kA, {0x55, 0x01}, kB}),
                   0,
                   {kA, kB}},
        StreamCase{"BadCrcThenGoodFrame", Concat({Corrupt(kA), kB}), 0, {kB}},
        StreamCase{"StartByteInsideDataIsData", kWith254, 1, {kWith254}},
        StreamCase{"TrailingRequestByteIsDropped", Concat({kA, {0x00}, kB, {0x00}}), 0, {kA, kB}},
        StreamCase{"Length198Completes", LongFrame(198), 7, {LongFrame(198)}},
        StreamCase{"Length199NeverCompletes", LongFrame(199), 0, {}},
        StreamCase{"Length199WrapsThenNextFrameArrives", Concat({LongFrame(199), kB}), 0, {kB}},
        StreamCase{"LengthZeroSwallowsUntilTheWrap",
                   Concat({{0xFE, 0x00}, Bytes(199, 0x11), kB}),
                   0,
                   {kB}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reassembler, ResetAbandonsAPartFrame) {
  Reassembler r;
  int frames = 0;
  auto count = [&](std::span<const uint8_t>) { ++frames; };
  r.Feed(std::span(kA.data(), 5), count);
  r.Reset();
  r.Feed(std::span(kA.data() + 5, kA.size() - 5), count);
  EXPECT_EQ(frames, 0);
  r.Feed(kB, count);
  EXPECT_EQ(frames, 1);
}

}  // namespace
}  // namespace lovar
