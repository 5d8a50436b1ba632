// The serial port of this OS behind the PortBackend seam: one class, declared once; each OS file
// (port_backend_posix.cpp, port_backend_win.cpp, chosen by CMake) defines SerialOs, the port's
// handles and state, and the members, and makes it in OpenSerialBackend. Private to src/serial.
//
// Threads: as PortBackend says, member by member.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "serial/port_backend.h"

namespace lovar {

// Defined by the OS file.
struct SerialOs;

class SerialBackend final : public PortBackend {
 public:
  explicit SerialBackend(std::unique_ptr<SerialOs> os);
  ~SerialBackend() override;
  void ApplyTimeouts(const TCOMMTIMEOUTS& timeouts) override;
  void ArmRead(uint32_t count) override;
  ReadStart ReadNow(uint8_t* buf, uint32_t count, uint32_t& got) override;
  uint32_t TakeCompletedRead(uint8_t* buf) override;
  WaitResult Wait(uint32_t event_mask, uint32_t& events_out) override;
  LinkError FailureReason() const override;
  void Stop() override;
  void StartWrite(const uint8_t* data, size_t count, bool notify) override;
  uint32_t TakeWritten() override;
  void SetRts() override;
  void SetDtr() override;
  uint32_t ModemStatus() override;
  void ReleasePort() override;
  bool Released() const override;

 private:
  std::unique_ptr<SerialOs> os_;
};

}  // namespace lovar
