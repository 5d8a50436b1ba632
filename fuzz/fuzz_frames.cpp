// Fuzzes the reassembler together with the engine's frame handler: arbitrary bytes from the
// line, cut into deliveries, while a read, a verified write (write, read-back, repairs) or a
// key poll is under way. The engine must never store past the image length nor write a request
// longer than the send buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "serial/port_interface.h"

namespace {

using namespace lovar;

class NullPort : public PortInterface {
 public:
  void SetNameDevice(std::string n) override { name_ = std::move(n); }
  const std::string& NameDevice() const override { return name_; }
  bool IsOpen() const override { return true; }
  bool OpenDevice() override { return true; }
  bool CloseDevice() override { return true; }
  void WriteDevice(int32_t count, std::span<const uint8_t> buf) override {
    if (count < 0 || static_cast<size_t>(count) > buf.size() || buf.size() > 101) std::abort();
  }
  void RaiseRtsDtr() override {}
  LinkError LastError() const override { return LinkError::None; }

 private:
  std::string name_;
};

class QuietView : public ExchangeObserver, public VerifiedWriteObserver {
 public:
  bool AskContinue() override { return true; }
  void WriteFinished(const WriteReport&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  NullPort port;
  ConfigImage image;
  QuietView view;
  Exchange engine(port, image, view);
  VerifiedWrite verified(engine, image, view);
  engine.SetButtonsEnabled(true);
  // The first byte picks what is under way and how the rest is cut into deliveries.
  switch (data[0] % 4) {
    case 0: engine.SendIdentification(); break;
    case 1: engine.ButtonReadClick(); break;
    case 2: verified.Start(); break;
    default: engine.ButtonKeyClick(); break;
  }
  const size_t chunk = 1 + data[1] % 64;
  for (size_t i = 2; i < size; i += chunk) {
    TMessageDevice m;
    m.Count = static_cast<int32_t>(std::min(chunk, size - i));
    std::copy_n(data + i, m.Count, m.Data.begin());
    engine.Cport1Receive(m);
    if (data[i] == 0x55) engine.Timer1Timer();
    if (engine.state().offset > kImageCapacity + 16) std::abort();
  }
  return 0;
}
