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

  bool open = true;
  LinkError error = LinkError::None;
  std::vector<Bytes> writes;

 private:
  std::string name_;
};

class RecordingView : public VerifiedWriteView {
 public:
  bool AskContinue() override {
    ++asks;
    if (on_ask) on_ask();
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void SetExchangeButtonsEnabled(bool e) override { buttons = e; }
  void SetProgressMaximum(int m) override { maximum = m; }
  void SetProgressPosition(int p) override { position = p; }
  void AddDeviceLine(const std::string& l) override { lines.push_back(l); }
  void ApplyModelSetup(const ModelSetup& s) override { setups.push_back(s.model); }
  void ShowStartEnableSearch() override { ++start_shown; }
  void ReadEnded(bool complete, bool display) override {
    ++reads_ended;
    read_complete = complete;
    displayed = display;
  }
  void WriteEnded(bool complete) override {
    ++writes_ended;
    write_complete = complete;
  }
  void CheckReadEnded(bool complete) override { check_reads.push_back(complete); }
  void Abandoned(uint8_t command) override { abandoned.push_back(command); }
  void GaveUp(uint8_t command) override { gave_up.push_back(command); }
  void LineLost(uint8_t command) override { lost.push_back(command); }
  void WriteStageChanged(WriteStage stage) override { stages.push_back(stage); }
  void WriteFinished(const WriteReport& r) override { reports.push_back(r); }
  bool PriorImageRead(const ConfigImage& prior) override {
    priors.push_back(prior);
    return prior_answer;
  }
  void SetEditKey(const std::string& t) override { edit_key = t; }
  void KeyPollingStarted() override { key_panel = "polling"; }
  void KeyRead() override { key_panel = "read"; }
  void KeyStopped() override { key_panel = "stopped"; }

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
  std::vector<WriteStage> stages;
  std::vector<WriteReport> reports;
  std::vector<ConfigImage> priors;
  bool prior_answer = true;
  std::string edit_key;
  std::string key_panel;
};

// The engine wired to a simulated device, reporting through a VerifiedWrite to the recording
// view (so everything here also shows that it passes the engine's events on). Pump() hands
// every request written so far to the device and its replies back to the engine until nothing
// more is sent.
struct EngineBench {
  explicit EngineBench(SimConfig config) : sim(std::move(config)) {
    verified.Attach(engine, image);
  }
  EngineBench(SimConfig config, const ConfigImage& device_image)
      : sim(std::move(config), device_image) {
    verified.Attach(engine, image);
  }

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
  VerifiedWrite verified{view};
  Exchange engine{port, image, verified};
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
