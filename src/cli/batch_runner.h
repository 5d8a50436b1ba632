// lovar-cli batch: every device of a checked plan programmed at once, each on its own TCport
// and session (SessionRunner), all on one event loop (each port's receive thread hands its bytes to
// the loop's thread, so no device waits for another). Per device: open the port, identify, check
// the model against the plan's, read the whole image (kept in the archive when asked), build the
// image from it, the template and the row's values, write it and prove it (VerifiedWrite).
// A device that fails never stops the others; Ctrl-C stops each after its frame in flight.
//
// Threads: the loop's thread, which RunBatch runs until every device has ended.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "check/check_gate.h"
#include "cli/batch_display.h"
#include "cli/session_runner.h"
#include "files/batch_plan.h"
#include "recording/registry_recorder.h"
#include "serial/event_loop.h"

namespace lovar {

struct BatchOptions {
  int retries = 3;
  std::string archive;  // the folder that keeps each device's image before the write; "" none
  const CheckGate* checks = nullptr;  // the check's errors let pass, the company's rules
  // Records each row's read and write, and a row that failed before its write; null: none.
  RegistryRecorder* registry = nullptr;
};

struct DeviceResult {
  const PlanRow* row = nullptr;
  int model = 0;    // as identified; 0 when the device was not identified
  Outcome outcome;  // Ok: the device holds its configuration, proven by a read-back
  // When not Ok: the write began (its first block went out), so the device may hold a mix of
  // old and new; false when the device was not changed.
  bool write_began = false;
  double seconds = 0;    // from the port's open to the device's end
  std::string ended_at;  // the local date and time of its end
};

// Runs until every device has ended. One result per row, in the plan's order.
std::vector<DeviceResult> RunBatch(EventLoop& loop, const BatchPlan& plan,
                                   const BatchOptions& options,
                                   const std::atomic<bool>& interrupted, BatchDisplay& display);

}  // namespace lovar
