// The check before a write, one way for write and batch (and the same input as check): a
// configuration is judged as check.h's FileCheckInput and DeviceCheckInput build it, first as
// its file holds it, before the device is touched, then as the device will hold it (a model
// 251's keys are the device's, its firmware is known once it is identified), before anything
// is sent. An error stops the write (exit 15, its rule named) unless --allow-check lets its
// rule pass; warnings, and the errors let pass, are said and the write goes on. The session
// asks the same of the image it writes (SessionRunner answers from the same gate).
//
// Threads: the caller's.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "check/check_gate.h"
#include "session/outcome.h"

namespace lovar {

// --rules FILE and --allow-check ID (repeatable), for write and batch.
void AddCheckOptions(CLI::App& command, std::string& rules, std::vector<std::string>& allowed);

// The gate of --rules FILE and --allow-check ID…: 0 when made; else the exit status, after the
// fault is said on stderr: 5 for a rules file that cannot be taken, a command-line mistake's
// status (CLI11's) for an id that names no rule.
int MakeCheckGate(const std::string& rules, std::vector<std::string> allowed, CheckGate& gate);

struct Judgement {
  std::vector<Finding> findings;  // every finding, errors first
  std::vector<Finding> let_pass;  // the errors --allow-check lets pass
  std::vector<Finding> blocking;  // the errors that stop the write
  bool ok() const { return blocking.empty(); }
};
Judgement Judge(const CheckInput& input, const CheckGate& gate);

// The findings of later that earlier did not have (the same rule and text): what the device's
// whole image adds to its file's check, so that nothing is said twice.
std::vector<Finding> NotAmong(const std::vector<Finding>& earlier,
                              const std::vector<Finding>& later);

// "предупреждение [key-duplicate] …", and " (пропущено: --allow-check)" for an error let pass.
std::string JudgedLine(const Finding& finding, const CheckGate& gate);

// The write refused: exit 15, every rule that stops it named, and what the device holds.
Outcome CheckRefusal(const std::vector<Finding>& blocking, std::string_view device_now);

// lovar-cli write: says these findings on stderr ("Проверка: …"; an error that stops the write
// with its fix), and returns the refusal when there are errors not let pass.
Outcome SayJudgement(const Judgement& judged, const std::vector<Finding>& said,
                     const CheckGate& gate, std::string_view device_now);

}  // namespace lovar
