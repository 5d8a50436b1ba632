// lovar-cli batch: the check of every device's configuration, before any device is touched and
// again at each device before its write. Each row's image is built as its device will get it
// (the template, then the row's values) and checked as write_check.h checks a file, with the
// template at hand, so that an object number or a code left as the template's is found; two
// rows that give their devices one object number are an error too (object-number-duplicate,
// naming both rows). An error not let pass (--allow-check) refuses the plan as a fault of it;
// the rest (warnings, errors let pass) go into the report. At the device, once its image is read,
// the whole image is judged as write judges it (its keys, its firmware): what that adds is said
// with the row, and an error not let pass leaves the device as it was, naming its rule.
//
// A plan of a hundred thousand rows with one warning each is said in one line: findings of the
// same words are grouped by their rows, and every text is kept once (TextPool).
//
// Threads: pure functions.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "check/check_gate.h"
#include "cli/write_check.h"
#include "files/batch_plan.h"

namespace lovar {

// Texts kept once however many rows share them. Id 0 is "".
class TextPool {
 public:
  uint32_t Intern(std::string_view text);
  const std::string& operator[](uint32_t id) const { return texts_[id]; }

 private:
  std::deque<std::string> texts_{std::string()};  // a deque: the map's keys point into it
  std::unordered_map<std::string_view, uint32_t> ids_;
};

// Findings of the same words, by the rows that have them (kept as ranges of rows: rows come
// in ascending order).
class FindingGroups {
 public:
  void Add(const std::string& line, const PlanRow& row);
  // One line per group: a single row with its port, several by their numbers ("строки 2–40 и
  // 45: …").
  std::vector<std::string> Lines() const;

 private:
  struct Group {
    std::string line;
    std::vector<std::pair<int, int>> ranges;
    const PlanRow* first;
  };
  std::vector<Group> groups_;
  std::unordered_map<std::string, size_t> index_;
};

struct PlanFindings {
  // "строка 3, порт /dev/ttyUSB2: ошибка [object-number-from-template] …", or for several
  // rows with the same finding "строки 2–40 и 45: ошибка […] …": the errors that stop the plan.
  std::vector<std::string> faults;
  // The same for the findings that do not stop it, to be said before the devices run.
  std::vector<std::string> notes;
  // Per row of the plan (in its order): its notes joined by "; ", for the report.
  std::vector<uint32_t> row_notes;
  TextPool texts;
};

PlanFindings CheckPlanImages(const BatchPlan& plan, const CheckGate& gate);

// A row's device at its write: the image it will hold (device_image: the device's image with
// the template and the row's values over it) judged whole, with its firmware and template; and
// of its findings those the check before the run did not have.
struct DeviceJudgement {
  Judgement judged;
  std::vector<Finding> added;
};
DeviceJudgement JudgeRowDevice(const BatchPlan& plan, const PlanRow& row,
                               const ConfigImage& device_image, int firmware,
                               const CheckGate& gate);

}  // namespace lovar
