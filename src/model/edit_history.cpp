#include "model/edit_history.h"

#include <algorithm>

namespace lovar {
namespace {

// The runs of bytes that differ between before and after in [0, length).
std::vector<ByteRange> Differing(const ConfigImage& before, const ConfigImage& after, int length) {
  std::vector<ByteRange> ranges;
  for (int i = 0; i < length; ++i) {
    if (before[i] == after[i]) continue;
    if (!ranges.empty() && ranges.back().last == i - 1)
      ranges.back().last = i;
    else
      ranges.push_back({i, i});
  }
  return ranges;
}

bool Touches(const EditStep& step, const std::vector<ByteRange>& ranges) {
  for (const ByteRun& run : step.runs) {
    const int last = run.offset + static_cast<int>(run.before.size()) - 1;
    for (const ByteRange& r : ranges)
      if (run.offset <= r.last && r.first <= last) return true;
  }
  return false;
}

void Put(ConfigImage& image, const ByteRun& run, bool after) {
  const std::vector<uint8_t>& bytes = after ? run.after : run.before;
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin() + run.offset);
}

}  // namespace

std::string ChangeLabel(int model, const ConfigImage& before, const ConfigImage& after, int length,
                        const Field** first) {
  const Field* found = nullptr;
  int count = 0;
  for (const Field& f : Fields(model)) {
    if (f.offset >= length) continue;
    bool changed = false;
    for (int at = f.offset; at <= f.last() && at < length && !changed; ++at)
      changed = ((before[at] ^ after[at]) & f.BitsAt(at)) != 0;
    if (!changed) continue;
    if (found == nullptr) found = &f;
    ++count;
  }
  if (first != nullptr) *first = found;
  if (found == nullptr) return "байты " + RangesText(Differing(before, after, length));
  if (count == 1) return found->caption;
  return found->caption + " и ещё " + std::to_string(count - 1);
}

void EditHistory::Reset(const ConfigImage& image) {
  snapshot_ = image;
  undo_.clear();
  redo_.clear();
}

bool EditHistory::Capture(const ConfigImage& image, int model, int length) {
  const std::vector<ByteRange> changed = Differing(snapshot_, image, length);
  if (changed.empty()) return false;
  EditStep step;
  step.label = ChangeLabel(model, snapshot_, image, length, &step.field);
  for (const ByteRange& r : changed) {
    ByteRun run;
    run.offset = r.first;
    const auto from = static_cast<size_t>(r.first), to = static_cast<size_t>(r.last) + 1;
    run.before.assign(snapshot_.bytes().begin() + from, snapshot_.bytes().begin() + to);
    run.after.assign(image.bytes().begin() + from, image.bytes().begin() + to);
    step.runs.push_back(std::move(run));
  }
  undo_.push_back(std::move(step));
  if (undo_.size() > kMaxSteps) undo_.erase(undo_.begin());
  redo_.clear();
  snapshot_ = image;
  return true;
}

std::vector<ByteRange> EditHistory::Absorb(const ConfigImage& image, int length) {
  const std::vector<ByteRange> changed = Differing(snapshot_, image, length);
  if (changed.empty()) return changed;
  for (std::vector<EditStep>* steps : {&undo_, &redo_})
    std::erase_if(*steps, [&](const EditStep& s) { return Touches(s, changed); });
  snapshot_ = image;
  return changed;
}

EditStep EditHistory::Undo(ConfigImage& image) {
  return Move(undo_, redo_, image, /*after=*/false);
}

EditStep EditHistory::Redo(ConfigImage& image) {
  return Move(redo_, undo_, image, /*after=*/true);
}

EditStep EditHistory::Move(std::vector<EditStep>& from, std::vector<EditStep>& to,
                           ConfigImage& image, bool after) {
  if (from.empty()) return {};
  EditStep step = std::move(from.back());
  from.pop_back();
  for (const ByteRun& run : step.runs) {
    Put(image, run, after);
    Put(snapshot_, run, after);
  }
  to.push_back(step);
  return step;
}

}  // namespace lovar
