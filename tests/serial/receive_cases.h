// The receive cases TCport passes on every OS, written once against a Device that plays the far
// end of the line. The POSIX tests drive a pseudo-terminal, the Windows tests a COM port under
// Wine; each program instantiates the suite with its own Device:
//
//   std::string Port() const;                  the name TCport opens
//   bool Send(size_t n, uint8_t first);        sends Sequence(n, first)
//   bool SendWaiting(size_t n, uint8_t first); the same, returning once all of it waits unread
//                                              at the port (false if it never does)
//   bool HangUp();                             the line is lost; Port() names a fresh one
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/event_loop.h"
#include "serial/link_error.h"
#include "serial/tcport.h"

namespace lovar::test {

constexpr std::chrono::milliseconds kLong(10000);

// The bytes first, first+1, ... (mod 256).
inline std::vector<uint8_t> Sequence(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

// A TCport on the device's line that records every delivery.
template <class Device>
struct Line {
  Line() {
    port.SetNameDevice(device.Port());
    port.SetBaudRate(9600);
    port.OnReceive = [this](const TMessageDevice& m) { Record(m); };
  }
  ~Line() { port.CloseDevice(); }

  void Record(const TMessageDevice& m) {
    deliveries.emplace_back(m.Data.begin(), m.Data.begin() + m.Count);
    total += m.Count;
  }
  bool RunUntilTotal(size_t n) {
    return loop.RunUntil([&] { return total >= n; }, kLong);
  }
  std::vector<uint8_t> All() const {
    std::vector<uint8_t> all;
    for (const auto& d : deliveries) all.insert(all.end(), d.begin(), d.end());
    return all;
  }
  std::vector<size_t> Sizes() const {
    std::vector<size_t> sizes;
    for (const auto& d : deliveries) sizes.push_back(d.size());
    return sizes;
  }

  Device device;
  EventLoop loop;
  TCport port{loop};
  std::vector<std::vector<uint8_t>> deliveries;
  size_t total = 0;
};

template <class Device>
class Receive : public ::testing::Test {};
TYPED_TEST_SUITE_P(Receive);

// One read completes on the first byte; the drain takes what is already there and stops once a
// delivery holds more than 500 bytes: 501 with one byte per read. None lost, none twice.
// A mended fault: a WaitCountByte beyond what a delivery holds overran it; reads are kept to
// 504 bytes, and a delivery past 500 bytes takes no more.
TYPED_TEST_P(Receive, WaitingBytesComeInFullDeliveriesInOrder) {
  const struct {
    size_t bytes;
    uint32_t wait_count_byte;
    std::vector<size_t> deliveries;
  } rows[] = {{1, 1, {1}},
              {37, 1, {37}},
              {500, 1, {500}},
              {501, 1, {501}},
              {502, 1, {501, 1}},
              {1300, 1, {501, 501, 298}},
              {1512, 5000, {504, 504, 504}}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.bytes);
    Line<TypeParam> l;
    l.port.SetWaitCountByte(r.wait_count_byte);
    ASSERT_TRUE(l.device.SendWaiting(r.bytes, 11));
    ASSERT_TRUE(l.port.OpenDevice());
    ASSERT_TRUE(l.RunUntilTotal(r.bytes));
    EXPECT_EQ(l.Sizes(), r.deliveries);
    EXPECT_EQ(l.All(), Sequence(r.bytes, 11));
  }
}

TYPED_TEST_P(Receive, TrickledBytesComeOnceEachInOrder) {
  Line<TypeParam> l;
  ASSERT_TRUE(l.port.OpenDevice());
  std::vector<uint8_t> sent;
  uint8_t first = 1;
  for (size_t chunk : {1, 3, 1, 10, 200, 1, 600, 2}) {
    ASSERT_TRUE(l.device.Send(chunk, first));
    const auto bytes = Sequence(chunk, first);
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    first += 37;
    ASSERT_TRUE(l.RunUntilTotal(sent.size())) << "after a chunk of " << chunk;
  }
  EXPECT_EQ(l.All(), sent);
  for (size_t size : l.Sizes()) EXPECT_LE(size, 501u);
}

TYPED_TEST_P(Receive, ReadDeviceFalseGivesOneDelivery) {
  Line<TypeParam> l;
  ASSERT_TRUE(l.device.SendWaiting(10, 1));
  l.port.SetReadDevice(false);
  ASSERT_TRUE(l.port.OpenDevice());
  ASSERT_TRUE(l.RunUntilTotal(1));
  // No read is in progress any more: these stay unread with the nine before them.
  ASSERT_TRUE(l.device.SendWaiting(5, 50));
  l.loop.RunFor(std::chrono::milliseconds(30));
  EXPECT_EQ(l.Sizes(), std::vector<size_t>{1});
}

// The receive thread wakes on the stop and ends itself: CloseDevice stays well within the
// 1200 ms after which it would force the thread down, and the port is free at once.
TYPED_TEST_P(Receive, CloseDeviceOnAnIdleLineIsQuickAndFinal) {
  Line<TypeParam> l;
  ASSERT_TRUE(l.port.OpenDevice());
  l.loop.RunFor(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(l.port.CloseDevice());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
  EXPECT_FALSE(l.port.IsOpen());
  EXPECT_FALSE(l.port.Connect());
  TCport other(l.loop);
  other.SetNameDevice(l.device.Port());
  EXPECT_TRUE(other.OpenDevice());
  other.CloseDevice();
  ASSERT_TRUE(l.device.Send(3, 1));
  l.loop.RunFor(std::chrono::milliseconds(20));
  EXPECT_TRUE(l.deliveries.empty());
}

TYPED_TEST_P(Receive, CloseDeviceInsideOnReceiveEndsDeliveries) {
  Line<TypeParam> l;
  l.port.OnReceive = [&](const TMessageDevice& m) {
    l.Record(m);
    EXPECT_TRUE(l.port.CloseDevice());
  };
  ASSERT_TRUE(l.port.OpenDevice());
  ASSERT_TRUE(l.device.Send(3, 1));
  ASSERT_TRUE(l.RunUntilTotal(1));
  EXPECT_FALSE(l.port.IsOpen());
  ASSERT_TRUE(l.device.Send(3, 4));
  l.loop.RunFor(std::chrono::milliseconds(20));
  EXPECT_EQ(l.deliveries.size(), 1u);
  // The port opens again and receives.
  ASSERT_TRUE(l.port.OpenDevice());
  ASSERT_TRUE(l.device.Send(1, 7));
  EXPECT_TRUE(l.loop.RunUntil([&] { return l.deliveries.size() == 2; }, kLong));
}

// Last of the cases: the device hangs up while the port waits for bytes.
TYPED_TEST_P(Receive, HangUpEndsReceptionAndThePortOpensAgain) {
  Line<TypeParam> l;
  ASSERT_TRUE(l.port.OpenDevice());
  ASSERT_TRUE(l.device.Send(2, 1));
  ASSERT_TRUE(l.RunUntilTotal(2));
  ASSERT_TRUE(l.device.HangUp());
  ASSERT_TRUE(l.loop.RunUntil([&] { return !l.port.IsOpen(); }, kLong));
  EXPECT_EQ(l.port.LastError(), LinkError::HungUp);
  EXPECT_TRUE(l.port.Connect());                      // kept until CloseDevice
  l.port.WriteDevice(2, std::vector<uint8_t>{1, 2});  // sends nothing, fails nothing
  l.port.RaiseRtsDtr();

  // Opens again on the fresh line without a CloseDevice first.
  l.port.SetNameDevice(l.device.Port());
  ASSERT_TRUE(l.port.OpenDevice());
  EXPECT_EQ(l.port.LastError(), LinkError::None);
  ASSERT_TRUE(l.device.Send(1, 5));
  EXPECT_TRUE(l.RunUntilTotal(3));
}

REGISTER_TYPED_TEST_SUITE_P(Receive, WaitingBytesComeInFullDeliveriesInOrder,
                            TrickledBytesComeOnceEachInOrder, ReadDeviceFalseGivesOneDelivery,
                            CloseDeviceOnAnIdleLineIsQuickAndFinal,
                            CloseDeviceInsideOnReceiveEndsDeliveries,
                            HangUpEndsReceptionAndThePortOpensAgain);

}  // namespace lovar::test
