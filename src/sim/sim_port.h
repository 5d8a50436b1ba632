// The device simulator behind the port interface, in-process: for unit tests and the windows'
// built-in demo device. Replies are delivered as OnReceive on the window thread, at most 501
// bytes per delivery, after the delays the simulator asks for.
#pragma once

#include <memory>
#include <string>

#include "serial/port_interface.h"
#include "serial/window_thread.h"
#include "sim/device_sim.h"

namespace lovar {

class SimPort : public PortInterface {
 public:
  SimPort(WindowThread& window, SimConfig config);
  SimPort(WindowThread& window, SimConfig config, const ConfigImage& image);
  ~SimPort() override;

  void SetNameDevice(std::string name) override { name_ = std::move(name); }
  const std::string& NameDevice() const override { return name_; }
  bool IsOpen() const override;
  bool OpenDevice() override;
  bool CloseDevice() override;
  void WriteDevice(int32_t Count, std::span<const uint8_t> Buf) override;
  void RaiseRtsDtr() override {}
  LinkError LastError() const override;

  // The simulated device, for tests to inspect (window thread only).
  DeviceSim& device();

 private:
  struct Line;
  std::string name_;
  std::shared_ptr<Line> line_;
};

}  // namespace lovar
