#include "port_switch.h"

#include "model/model_setup.h"
#include "serial/tcport.h"
#include "sim/device_sim.h"
#include "sim/sim_port.h"

namespace lovar {
namespace {
constexpr std::string_view kDemoPrefix = "Демо: ";
}  // namespace

PortSwitch::PortSwitch(WindowThread& window) : window_(window) {}

PortSwitch::~PortSwitch() {
  // Close before the members go, so no delivery reaches a half-destroyed object.
  CloseDevice();
}

std::vector<std::string> PortSwitch::DemoNames() {
  std::vector<std::string> names;
  for (const ModelSetup& setup : KnownModelSetups()) names.push_back(DemoName(setup.model));
  return names;
}

std::string PortSwitch::DemoName(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? std::string(kDemoPrefix) + std::string(setup->name) : std::string();
}

std::optional<int> PortSwitch::DemoModel(std::string_view name) {
  if (!name.starts_with(kDemoPrefix)) return std::nullopt;
  for (const ModelSetup& setup : KnownModelSetups())
    if (DemoName(setup.model) == name) return setup.model;
  return std::nullopt;
}

bool PortSwitch::IsOpen() const {
  return active_ != nullptr && active_->IsOpen();
}

SimPort& PortSwitch::Demo(int model) {
  auto& slot = demos_[model];
  if (!slot) {
    SimConfig config;
    config.model = model;
    slot = std::make_unique<SimPort>(window_, config, SampleImage(model));
    slot->OnReceive = [this](const TMessageDevice& message) {
      if (OnReceive) OnReceive(message);
    };
  }
  return *slot;
}

TCport& PortSwitch::Serial() {
  if (!serial_) {
    serial_ = std::make_unique<TCport>(window_);
    serial_->OnReceive = [this](const TMessageDevice& message) {
      if (OnReceive) OnReceive(message);
    };
  }
  return *serial_;
}

PortInterface& PortSwitch::Choose() {
  if (active_ != nullptr) active_->CloseDevice();  // not open: only an open in progress ends
  if (std::optional<int> model = DemoModel(name_)) {
    active_ = &Demo(*model);
  } else {
    active_ = &Serial();
  }
  active_->SetNameDevice(name_);
  return *active_;
}

bool PortSwitch::OpenDevice() {
  if (IsOpen()) return true;
  return Choose().OpenDevice();
}

void PortSwitch::OpenDeviceAsync(std::function<void(bool opened)> done) {
  if (IsOpen()) {
    done(true);
    return;
  }
  Choose().OpenDeviceAsync(std::move(done));
}

bool PortSwitch::Opening() const {
  return active_ != nullptr && active_->Opening();
}

std::chrono::milliseconds PortSwitch::RoundTrip() const {
  return active_ != nullptr ? active_->RoundTrip() : std::chrono::milliseconds{0};
}

bool PortSwitch::CloseDevice() {
  if (active_ != nullptr) active_->CloseDevice();
  return true;
}

void PortSwitch::WriteDevice(int32_t Count, std::span<const uint8_t> Buf) {
  if (active_ != nullptr) active_->WriteDevice(Count, Buf);
}

void PortSwitch::RaiseRtsDtr() {
  if (active_ != nullptr) active_->RaiseRtsDtr();
}

LinkError PortSwitch::LastError() const {
  return active_ != nullptr ? active_->LastError() : LinkError::None;
}

}  // namespace lovar
