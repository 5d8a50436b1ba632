// How an operation on a device or a file ended, at the core's boundary: a small status (the
// exit status of lovar-cli) and its one line in Russian. The windows say the same failures in
// words of their own around it (status line, message box), from the session's end.
#pragma once

#include <string>

namespace lovar {

enum class Status : int {
  Ok = 0,
  PortError = 2,       // no such port, port busy, no access, the port server unreachable
  NoAnswer = 3,        // "Прибор не отвечает"
  WrongModel = 4,      // "Неверный тип УО"
  FileError = 5,       // unreadable, damaged or unwritable file; a record that could not be kept
  WriteStopped = 6,    // the write ended before its last block (no answer, the line lost)
  VerifyMismatch = 7,  // the read-back after the write differs, or could not be finished
  LineLost = 8,        // the line hung up, the adapter was unplugged, the connection dropped
  KeyTimeout = 9,      // no key was held to the reader in time
  Interrupted = 10,    // Ctrl-C, SIGTERM or "Отмена": stopped
  GaveUp = 11,         // the device answers, but never to the request
  PlanRefused = 12,    // batch: the plan has faults; no device was touched
  NotAllWritten = 13,  // batch: some devices do not hold their configuration
  CheckWarnings = 14,  // check: the configuration has warnings, no errors
  CheckErrors = 15,    // check: the configuration has at least one error
  RegistryError = 16,  // the registry of sites cannot be opened, read or written
  NotInRegistry = 17,  // sites: no such site, or no configuration of it at that time
  NotRecorded = 18,    // the work is done, but a record of it was kept neither in the registry
                       // nor beside it
  OverDrift = 19,      // write, batch: the write would change fields changed on the device not
                       // through this program (drift) and --over-drift was not given
  ChangeNotApplied = 20,  // change apply: the plan's change not applied at this device (a
                          // conflict, the plan closed or paused, the site not waiting for it)
  InternalError = 70,  // a fault of the program itself: an exception nothing expected
};

struct Outcome {
  Status status = Status::Ok;
  std::string message;  // the one line for stderr when status is not Ok; may say Ok's result
  bool ok() const { return status == Status::Ok; }
};

}  // namespace lovar
