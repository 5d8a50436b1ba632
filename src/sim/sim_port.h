// The device simulator behind the port interface, in-process: for unit tests and the windows'
// built-in demo device. Replies are delivered as OnReceive on the window thread, at most 501
// bytes per delivery, after the delays the simulator asks for.
//
// Threads: every member is called on the window thread. Replies due at once are posted to the
// window thread straight from WriteDevice; delayed ones are kept by a small timer thread of the
// port's own (started on the first delay), which posts them when due. Each output of the
// simulator becomes its own deliveries (so split replies arrive one byte per OnReceive), in
// due-time order. A hang-up closes the port (IsOpen() false, LastError() HungUp) when its turn
// comes; after it, and after CloseDevice or destruction, posted deliveries do nothing.
#pragma once

#include <memory>
#include <string>

#include "serial/port_interface.h"
#include "serial/window_thread.h"
#include "sim/device_sim.h"

namespace lovar {

class SimPort : public PortInterface {
 public:
  static constexpr size_t kMaxDelivery = 501;

  // The window thread must outlive the port.
  SimPort(WindowThread& window, SimConfig config);
  SimPort(WindowThread& window, SimConfig config, const ConfigImage& image);
  ~SimPort() override;

  void SetNameDevice(std::string name) override { name_ = std::move(name); }
  const std::string& NameDevice() const override { return name_; }
  bool IsOpen() const override;
  // Always succeeds; the device forgets a partly received frame.
  bool OpenDevice() override;
  bool CloseDevice() override;
  void WriteDevice(int32_t Count, std::span<const uint8_t> Buf) override;
  void RaiseRtsDtr() override {}
  LinkError LastError() const override;
  // Deliveries posted and not run yet.
  bool InputPending() const override;

  // The simulated device, for tests to inspect (window thread only).
  DeviceSim& device();

 private:
  struct Line;
  std::string name_;
  std::shared_ptr<Line> line_;
};

}  // namespace lovar
