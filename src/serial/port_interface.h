// The serial link as the protocol uses it: a handful of operations and one event.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "serial/link_error.h"
#include "serial/message_device.h"

namespace lovar {

// Implemented by TCport (a serial port, or a network port behind a serial device server) and
// SimPort (the in-process device simulator).
// Every member is called on the window thread only, and OnReceive is raised there.
class PortInterface {
 public:
  using ReceiveHandler = std::function<void(const TMessageDevice& MessDev)>;

  virtual ~PortInterface() = default;

  // The device path of the port (a name from the port list, or a typed one), or a network port
  // name ("socket://HOST:PORT", "rfc2217://HOST:PORT", see net_address.h).
  virtual void SetNameDevice(std::string name) = 0;
  virtual const std::string& NameDevice() const = 0;

  // True while the link holds an open port handle. After a hang-up or an unplugged adapter the
  // port counts as closed even though CloseDevice has not been called.
  virtual bool IsOpen() const = 0;

  // Opens NameDevice exclusively with the link's settings and starts receiving. Called only
  // while closed. False when the open failed; LastError() then tells why.
  virtual bool OpenDevice() = 0;

  // OpenDevice without holding the calling thread while the port waits for a server (a network
  // port connects and negotiates for up to several seconds): done(opened) is called once, on the
  // window thread, when the open has ended, possibly before this returns (a local port opens at
  // once). A CloseDevice or another open before then abandons it: done is never called. Until
  // done the port is closed and Opening() is true.
  virtual void OpenDeviceAsync(std::function<void(bool opened)> done) { done(OpenDevice()); }
  virtual bool Opening() const { return false; }

  // Stops receiving and closes the port; returns within about 1200 ms; always true. On a
  // closed port it changes nothing. No OnReceive is raised after it returns.
  virtual bool CloseDevice() = 0;

  // Starts sending the first min(Count, Buf.size()) bytes and returns at once; Buf may be
  // reused as soon as it returns. With the port closed nothing is sent.
  virtual void WriteDevice(int32_t Count, std::span<const uint8_t> Buf) = 0;

  // Raises RTS and then DTR on the open port. Refusal by the driver is ignored.
  virtual void RaiseRtsDtr() = 0;

  // Why the last OpenDevice failed, or why reception ended (HungUp); None otherwise.
  virtual LinkError LastError() const = 0;

  // How much longer than on a local line an answer may take on the open port: a network
  // port's round trip as measured on its connection; zero for a local port (and while closed).
  // The no-answer watches take it through answer_allowance.h.
  virtual std::chrono::milliseconds RoundTrip() const { return std::chrono::milliseconds{0}; }

  // Bytes have arrived that are not delivered yet: a delivery is on its way to the window
  // thread (posted, not run). Any thread may have raised it; read on the window thread. The
  // no-answer watches count no tick while it holds, so a loop held by other work never makes
  // an answer that came in time look late.
  virtual bool InputPending() const { return false; }

  // Raised once per delivery while the port is open: Count >= 1, at most 501 bytes with the
  // default settings, every byte exactly once and in order. Deliveries never overlap.
  ReceiveHandler OnReceive;
};

}  // namespace lovar
