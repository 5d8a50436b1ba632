// The main window's one port, Cport1: a real serial port (TCport) or, for the names of the
// built-in demo devices ("Демо: Ловар-Т", "Демо: Ловар-М", "Демо: Ловар-Т2"), the in-process
// device simulator. The exchange engine sees a single PortInterface whatever is behind it.
//
// Threads: window thread only, like every PortInterface.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_interface.h"
#include "serial/window_thread.h"

namespace lovar {

class SimPort;
class TCport;

class PortSwitch : public PortInterface {
 public:
  explicit PortSwitch(WindowThread& window);
  ~PortSwitch() override;

  // The demo entries of the port list, one per known model in the models' order (250, 251,
  // 252): "Демо: " and the model's name.
  static std::vector<std::string> DemoNames();
  static std::string DemoName(int model);
  // The model of a demo entry, or nothing for any other name.
  static std::optional<int> DemoModel(std::string_view name);

  void SetNameDevice(std::string name) override { name_ = std::move(name); }
  const std::string& NameDevice() const override { return name_; }
  bool IsOpen() const override;
  // Opens NameDevice: the demo device of that name (created on first use with a sample image
  // and kept for the program's lifetime, so what was written to it stays) or the serial port.
  bool OpenDevice() override;
  // The same, without holding the window thread while a network port connects.
  void OpenDeviceAsync(std::function<void(bool opened)> done) override;
  bool Opening() const override;
  bool CloseDevice() override;
  void WriteDevice(int32_t Count, std::span<const uint8_t> Buf) override;
  void RaiseRtsDtr() override;
  LinkError LastError() const override;
  std::chrono::milliseconds RoundTrip() const override;

  // The demo device of a model, created when missing (for the tests and the screenshots).
  SimPort& Demo(int model);
  // The serial port component, created on first use.
  TCport& Serial();

 private:
  // The port NameDevice names, made the active one; the one active before lets go of anything
  // still opening.
  PortInterface& Choose();

  WindowThread& window_;
  std::string name_;
  std::unique_ptr<TCport> serial_;
  std::map<int, std::unique_ptr<SimPort>> demos_;
  PortInterface* active_ = nullptr;
};

}  // namespace lovar
