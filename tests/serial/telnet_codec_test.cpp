// The Telnet / COM Port Control client as bytes in and out, and the round-trip estimator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/round_trip.h"
#include "serial/telnet_codec.h"

namespace lovar {
namespace {

using namespace telnet;
using Bytes = std::vector<uint8_t>;
using ComPort = ComPortClient::ComPort;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(TelnetCodec, ServerBytesGiveDataRepliesAndState) {
  const struct {
    const char* what;
    bool started;              // Start() was sent first
    std::vector<Bytes> input;  // as the socket hands it over, in pieces
    Bytes data;
    Bytes reply;
    ComPort com_port;
  } rows[] = {
      {"data, a doubled 255 is one", true, {{1, kIac, kIac, 2}}, {1, kIac, 2}, {}, ComPort::Asked},
      {"ser2net's opening: only its echo is refused",
       true,
       {{kIac, kWill, 3,   kIac, kDo,  3,     kIac, kWill, 1,   kIac,    kDont,
         1,    kIac,  kDo, 0,    kIac, kWill, 0,    kIac,  kDo, kComPort}},
       {},
       {kIac, kDont, 1},
       ComPort::Agreed},
      {"not started: what the server asks is agreed",
       false,
       {{kIac, kDo, kComPort, kIac, kWill, kBinary}},
       {},
       {kIac, kWill, kComPort, kIac, kDo, kBinary},
       ComPort::Agreed},
      {"asked twice, answered once", true, {{kIac, kDo, 0, kIac, kDo, 0}}, {}, {}, ComPort::Asked},
      {"refused", true, {{kIac, kDont, kComPort}}, {}, {}, ComPort::Refused},
      {"agreed, then withdrawn",
       true,
       {{kIac, kDo, kComPort, kIac, kDont, kComPort}},
       {},
       {kIac, kWont, kComPort},
       ComPort::Refused},
      {"unknown options refused",
       true,
       {{kIac, kDo, 24, kIac, kWill, 5}},
       {},
       {kIac, kWont, 24, kIac, kDont, 5},
       ComPort::Asked},
      {"server stops binary mode",
       true,
       {{kIac, kWill, 0, kIac, kWont, 0}},
       {},
       {kIac, kDont, 0},
       ComPort::Asked},
      {"split anywhere",
       true,
       {{7, kIac}, {kDo}, {kComPort, kIac}, {kIac}, {8}},
       {7, kIac, 8},
       {},
       ComPort::Agreed},
      {"other commands dropped",
       true,
       {{kIac, 241, 5, kIac, 249, 6, kIac, kSe}},
       {5, 6},
       {},
       ComPort::Asked},
      {"subnegotiation split, data around it",
       true,
       {{9, kIac, kSb, kComPort, 101, 0}, {0, 0x25, 0x80, kIac}, {kSe, 10}},
       {9, 10},
       {},
       ComPort::Asked},
      {"a command inside a subnegotiation ends it and counts",
       true,
       {{kIac, kSb, kComPort, 101, kIac, kDo, kComPort, 11}},
       {11},
       {},
       ComPort::Agreed},
      {"an overlong subnegotiation is read to its end",
       true,
       {Cat({{kIac, kSb, kComPort}, Bytes(100, 7), {kIac, kSe, 12}})},
       {12},
       {},
       ComPort::Asked},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ComPortClient client;
    if (r.started) client.Start();
    Bytes data, reply;
    for (const Bytes& piece : r.input) client.Feed(piece, data, reply);
    EXPECT_EQ(data, r.data);
    EXPECT_EQ(reply, r.reply);
    EXPECT_EQ(client.com_port(), r.com_port);
  }
}

TEST(TelnetCodec, ClientCommandsAreEncodedWithTheirValuesEscaped) {
  ComPortClient client;
  EXPECT_EQ(client.Start(), (Bytes{kIac, kWill, 0, kIac, kDo, 0, kIac, kWill, 3, kIac, kDo, 3, kIac,
                                   kWill, kComPort}));
  EXPECT_EQ(client.SetLine({9600, 8, 1, 1}),
            (Bytes{kIac, kSb, kComPort, 1, 0, 0,    0x25, 0x80, kIac, kSe,  // baud rate
                   kIac, kSb, kComPort, 2, 8, kIac, kSe,                    // data size
                   kIac, kSb, kComPort, 3, 1, kIac, kSe,                    // no parity
                   kIac, kSb, kComPort, 4, 1, kIac, kSe}));                 // one stop bit
  EXPECT_EQ(ComPortClient::Command(kSetBaudRate, Bytes{0, 0, 0xFF, 0}),
            (Bytes{kIac, kSb, kComPort, 1, 0, 0, kIac, kIac, 0, kIac, kSe}));
  EXPECT_EQ(ComPortClient::SetControl(kDtrOn), (Bytes{kIac, kSb, kComPort, 5, 8, kIac, kSe}));
  Bytes out;
  AppendTelnetData(out, Bytes{0xFE, 0xFF, 0x00, 0xFF});
  EXPECT_EQ(out, (Bytes{0xFE, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}));
}

TEST(TelnetCodec, TheLineCountsAsTakenOnceAllFourAreAnswered) {
  ComPortClient client;
  client.SetLine({9600, 8, 1, 1});
  Bytes data, reply;
  const Bytes answers[] = {
      {kIac, kSb, kComPort, 101, 0, 0, 0x4B, 0x00, kIac, kSe},  // it took 19200
      {kIac, kSb, kComPort, 102, 7, kIac, kSe},
      {kIac, kSb, kComPort, 103, 3, kIac, kSe},
      {kIac, kSb, kComPort, 107, kIac, kIac, kIac, kSe},  // modem state 255, not an answer
      {kIac, kSb, kComPort, 104, 2, kIac, kSe},
  };
  for (const Bytes& a : answers) {
    EXPECT_FALSE(client.LineTaken());
    client.Feed(a, data, reply);
    EXPECT_TRUE(client.LineAnswered());
  }
  EXPECT_TRUE(client.LineTaken());
  EXPECT_EQ(client.line(), (ComPortLine{19200, 7, 3, 2}));
  EXPECT_EQ(client.modem_state(), 0xFF);
  EXPECT_TRUE(data.empty());
  client.SetLine({9600, 8, 1, 1});  // answers count again from here
  EXPECT_FALSE(client.LineAnswered());
}

TEST(RoundTrip, BoundIsSmoothedRoundTripPlusFourDeviations) {
  using std::chrono::milliseconds;
  const struct {
    const char* what;
    std::vector<int> samples_ms;
    int low_ms, high_ms;
  } rows[] = {
      {"unmeasured", {}, 1000, 1000},
      {"one sample: three times it", {200}, 600, 600},
      {"a steady link converges on its round trip", std::vector<int>(40, 100), 100, 102},
      {"loopback", {0, 0}, 0, 0},
      {"never beyond the most", {60000}, 5000, 5000},
      {"a late sample widens the bound", {100, 100, 100, 100, 900}, 1000, 1100},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    RoundTripEstimator e;
    for (int ms : r.samples_ms) e.Add(milliseconds(ms));
    EXPECT_EQ(e.Measured(), !r.samples_ms.empty());
    EXPECT_GE(e.Bound().count(), r.low_ms);
    EXPECT_LE(e.Bound().count(), r.high_ms);
  }
}

}  // namespace
}  // namespace lovar
