// A test bench for the exchange engine: a recording port, a recording view, and the device
// simulator's logic answering every request synchronously (no threads, no clock).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "model/config_image.h"
#include "protocol/exchange.h"
#include "protocol/verified_write.h"
#include "serial/port_interface.h"
#include "sim/device_sim.h"

namespace lovar {
// The tests set the engine's state to reach a case (a sequence number about to wrap).
struct ExchangeTestAccess {
  static ExchangeState& State(Exchange& engine) { return engine.state_; }
};
}  // namespace lovar

namespace lovar::testing_support {

using Bytes = std::vector<uint8_t>;

class RecordingPort : public PortInterface {
 public:
  void SetNameDevice(std::string name) override { name_ = std::move(name); }
  const std::string& NameDevice() const override { return name_; }
  bool IsOpen() const override { return open; }
  bool OpenDevice() override { return open = true; }
  bool CloseDevice() override {
    open = false;
    return true;
  }
  void WriteDevice(int32_t Count, std::span<const uint8_t> Buf) override {
    if (!open) return;
    const size_t n = std::min<size_t>(static_cast<size_t>(Count), Buf.size());
    writes.emplace_back(Buf.begin(), Buf.begin() + static_cast<long>(n));
  }
  void RaiseRtsDtr() override {}
  LinkError LastError() const override { return error; }
  std::chrono::milliseconds RoundTrip() const override { return round_trip; }

  bool open = true;
  LinkError error = LinkError::None;
  std::chrono::milliseconds round_trip{0};  // a network port's
  std::vector<Bytes> writes;

 private:
  std::string name_;
};

class RecordingView : public ExchangeObserver, public VerifiedWriteObserver {
 public:
  bool AskContinue() override {
    ++asks;
    if (on_ask) on_ask();
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void IdleChanged(bool idle) override { buttons = idle; }
  void Progress(int p) override { position = p; }
  void Identified(int model, int firmware) override {
    lines.push_back(DeviceLine(model, firmware));
    if (IsKnownModel(model)) {
      maximum = ImageLength(model);
      setups.push_back(model);
    }
    ++start_shown;
  }
  void ReadEnded(bool complete, bool display) override {
    ++reads_ended;
    read_complete = complete;
    displayed = display;
  }
  void WriteEnded(bool complete) override {
    ++writes_ended;
    write_complete = complete;
  }
  void Stopped(uint8_t request, StopReason reason) override {
    switch (reason) {
      case StopReason::Abandoned:
        abandoned.push_back(request);
        break;
      case StopReason::GaveUp:
        gave_up.push_back(request);
        break;
      case StopReason::LineLost:
        lost.push_back(request);
        break;
      case StopReason::Disagree:
        disagreed.push_back(request);
        break;
    }
  }
  void WriteStageChanged(WriteStage stage) override { stages.push_back(stage); }
  void WriteFinished(const WriteReport& r) override { reports.push_back(r); }
  bool PriorImageRead(const ConfigImage& prior) override {
    priors.push_back(prior);
    return prior_answer;
  }
  void KeyText(const std::string& t) override { edit_key = t; }
  void KeyPollingStarted() override { key_panel = "polling"; }
  void KeyRead() override { key_panel = "read"; }
  void KeyStopped() override { key_panel = "stopped"; }
  // A read-back's or a lone write range's end, recorded as the steps' ends.
  StepDone CheckRead() {
    return [this](StepEnd end) { check_reads.push_back(end == StepEnd::Complete); };
  }
  StepDone RangeWritten() {
    return [this](StepEnd end) { WriteEnded(end == StepEnd::Complete); };
  }

  std::deque<bool> answers;
  std::function<void()> on_ask;
  int asks = 0;
  bool buttons = false;
  int maximum = 0;
  int position = 0;
  std::vector<std::string> lines;
  std::vector<int> setups;
  int start_shown = 0;
  int reads_ended = 0;
  bool read_complete = false;
  bool displayed = false;
  int writes_ended = 0;
  bool write_complete = false;
  std::vector<uint8_t> abandoned;
  std::vector<bool> check_reads;
  std::vector<uint8_t> gave_up;
  std::vector<uint8_t> lost;
  std::vector<uint8_t> disagreed;
  std::vector<WriteStage> stages;
  std::vector<WriteReport> reports;
  std::vector<ConfigImage> priors;
  bool prior_answer = true;
  std::string edit_key;
  std::string key_panel;
};

// The engine wired to a simulated device, reporting to the recording view, as does the
// VerifiedWrite that drives it. Pump() hands
// every request written so far to the device and its replies back to the engine until nothing
// more is sent.
struct EngineBench {
  explicit EngineBench(SimConfig config) : sim(std::move(config)) {}
  EngineBench(SimConfig config, const ConfigImage& device_image)
      : sim(std::move(config), device_image) {}

  void Pump() {
    while (fed < port.writes.size()) {
      const Bytes request = port.writes[fed++];
      std::vector<SimOutput> out;
      sim.Feed(request, out);
      for (const SimOutput& o : out) {
        if (o.hang_up) {
          port.open = false;
          port.error = LinkError::HungUp;
          return;
        }
        Deliver(o.bytes);
      }
    }
  }
  // Drops what was written but not yet handed to the device (a lost request).
  void LoseWrittenRequests() { fed = port.writes.size(); }

  void Deliver(const Bytes& bytes) {
    for (size_t i = 0; i < bytes.size(); i += 501) {
      TMessageDevice m;
      m.Count = static_cast<int32_t>(std::min<size_t>(501, bytes.size() - i));
      std::copy_n(bytes.begin() + static_cast<long>(i), m.Count, m.Data.begin());
      engine.Cport1Receive(m);
    }
  }
  void Tick(int n) {
    for (int i = 0; i < n; ++i) engine.Timer1Timer();
  }
  void Identify() {
    engine.SendIdentification();
    Pump();
    engine.SetButtonsEnabled(true);  // as the search window does after opening the port
  }

  RecordingPort port;
  ConfigImage image;
  RecordingView view;
  Exchange engine{port, image, view};
  VerifiedWrite verified{engine, image, view};
  DeviceSim sim;
  size_t fed = 0;
};

inline SimConfig Config(int model, int firmware = 12) {
  SimConfig c;
  c.model = model;
  c.firmware = firmware;
  return c;
}

}  // namespace lovar::testing_support
