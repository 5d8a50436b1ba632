// lovar-cli batch: every device of a checked plan programmed, up to kBatchParallel at once, each
// on its own TCport and session (SessionRunner), all on one event loop (each port's receive
// thread hands its bytes to the loop's thread, so no device waits for another). Per device: open
// the port, identify, check the model against the plan's, read the whole image (kept in the
// archive when asked), build the image from it, the template and the row's values, judge it
// whole (batch_check.h), write it and prove it (VerifiedWrite). A device that fails never stops
// the others; Ctrl-C stops each after its frame in flight, and no further row begins.
//
// Memory is bounded however long the plan: a row's port, session and images exist only while
// it runs, and the rows waiting their turn are the plan's compact rows; a row's result is a few
// numbers and its message, kept once however many rows share it.
//
// Threads: the loop's thread, which RunBatch runs until every device has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "check/check_gate.h"
#include "cli/batch_check.h"
#include "cli/batch_display.h"
#include "cli/session_runner.h"
#include "files/batch_plan.h"
#include "recording/registry_recorder.h"
#include "serial/event_loop.h"

namespace lovar {

// Devices programmed at once; the further rows wait for one of them to end. A station has far
// fewer ports than this; a plan of thousands of rows never opens thousands of ports.
inline constexpr size_t kBatchParallel = 64;

struct BatchOptions {
  int retries = 3;
  std::string archive;  // the folder that keeps each device's image before the write; "" none
  const CheckGate* checks = nullptr;  // the check's errors let pass, the company's rules
  // Records each row's read and write, and a row that failed before its write; null: none.
  SiteRecorder* registry = nullptr;
  size_t parallel = kBatchParallel;
  // Each row's read compared with its site (drift_check.h), for its write: null when nothing is
  // recorded. A row whose write would change a drifted field fails (Status::OverDrift, nothing
  // written) unless over_drift.
  class CliRecording* drift = nullptr;
  bool over_drift = false;
};

struct DeviceResult {
  const PlanRow* row = nullptr;
  uint16_t model = 0;  // as identified; 0 when the device was not identified
  // Ok: the device holds its configuration, proven by a read-back.
  Status status = Status::Ok;
  // When not Ok: the write began (its first block went out), so the device may hold a mix of
  // old and new; false when the device was not changed.
  bool write_began = false;
  float seconds = 0;    // from the port's open to the device's end
  std::time_t ended{};  // when it ended
  // Into BatchResults::texts; after the row's port and ": " when port_first (a message that
  // names its port is kept once for all rows, not once per port). Message() puts it together.
  uint32_t message = 0;
  bool port_first = false;
  uint32_t notes = 0;  // the check's findings at the device's write, into texts ("" none)
  bool ok() const { return status == Status::Ok; }
};

struct BatchResults {
  std::vector<DeviceResult> rows;  // one per row, in the plan's order
  TextPool texts;
  // What the check at the devices added, grouped by rows (FindingGroups::Lines).
  std::vector<std::string> device_notes;

  // A row's message as the device's end said it.
  std::string Message(const DeviceResult& r) const {
    return r.port_first ? r.row->port + ": " + texts[r.message] : texts[r.message];
  }
  void SetMessage(DeviceResult& r, const std::string& message);
};

// Runs until every device has ended.
BatchResults RunBatch(EventLoop& loop, const BatchPlan& plan, const BatchOptions& options,
                      const std::atomic<bool>& interrupted, BatchDisplay& display);

}  // namespace lovar
