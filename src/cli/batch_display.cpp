#include "cli/batch_display.h"

#include <algorithm>
#include <utility>

#include "model/cp1251.h"

namespace lovar {
namespace {

constexpr int kBarWidth = 20;
constexpr size_t kPhaseWidth = 18;  // "Исправление записи"

}  // namespace

BatchDisplay::BatchDisplay(std::FILE* out, bool in_place, std::function<int()> columns)
    : out_(out), in_place_(in_place), columns_(std::move(columns)) {}

int BatchDisplay::Add(const std::string& port, const std::string& object) {
  Line& line = lines_[next_];
  line.port = port;
  line.object = object.empty() ? "—" : object;
  port_width_ = std::max(port_width_, Utf8Length(port));
  object_width_ = std::max(object_width_, Utf8Length(line.object));
  dirty_ = true;
  return next_++;
}

void BatchDisplay::Phase(int n, const std::string& phase) {
  const auto found = lines_.find(n);
  if (found == lines_.end()) return;  // ended
  Line& line = found->second;
  if (line.finished || line.phase == phase) return;
  line.phase = phase;
  line.note.clear();
  line.position = line.maximum = 0;
  dirty_ = true;
  Plain(line, phase);
}

void BatchDisplay::Progress(int n, int position, int maximum) {
  const auto found = lines_.find(n);
  if (found == lines_.end()) return;  // ended
  Line& line = found->second;
  line.position = position;
  line.maximum = maximum;
  line.note.clear();
  dirty_ = true;
}

void BatchDisplay::Note(int n, const std::string& note) {
  const auto found = lines_.find(n);
  if (found == lines_.end()) return;  // ended
  Line& line = found->second;
  line.note = note;
  dirty_ = true;
  Plain(line, note);
}

void BatchDisplay::Finished(int n, bool ok, const std::string& result) {
  const auto found = lines_.find(n);
  if (found == lines_.end()) return;
  Line& line = found->second;
  line.phase = (ok ? "готово: " : "ОШИБКА: ") + result;
  line.note.clear();
  line.finished = true;
  Plain(line, line.phase);
  if (in_place_ && !closed_) ended_.push_back(Text(line));
  lines_.erase(found);
  dirty_ = true;
}

std::string BatchDisplay::Text(const Line& line) const {
  std::string text =
      Utf8Padded(line.port, port_width_) + "  " + Utf8Padded(line.object, object_width_);
  if (line.finished) return text + "  " + line.phase;
  text += "  " + Utf8Padded(line.phase, kPhaseWidth);
  if (line.maximum > 0) {
    const int filled = std::clamp(line.position * kBarWidth / line.maximum, 0, kBarWidth);
    text += " [" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
            std::to_string(std::clamp(line.position * 100 / line.maximum, 0, 100)) + "%";
  }
  if (!line.note.empty()) text += "  " + line.note;
  return text;
}

void BatchDisplay::Plain(const Line& line, const std::string& text) {
  if (in_place_ || closed_) return;
  std::fprintf(out_, "%s [%s]: %s\n", line.port.c_str(), line.object.c_str(), text.c_str());
  std::fflush(out_);
}

void BatchDisplay::Refresh() {
  if (!in_place_ || closed_ || !dirty_) return;
  const int columns = columns_();
  std::string frame;
  if (drawn_ > 0) frame += "\x1b[" + std::to_string(drawn_) + "A";
  const auto put = [&](std::string text) {
    // A line the terminal wraps would throw the cursor moves off.
    if (columns > 1) text = Utf8Prefix(text, static_cast<size_t>(columns - 1));
    frame += "\r\x1b[2K" + text + "\n";
  };
  // The ended devices' lines for good, the devices at work below them.
  for (std::string& text : ended_) put(std::move(text));
  ended_.clear();
  for (const auto& [n, line] : lines_) put(Text(line));
  // What is left below of a longer block before goes.
  frame += "\x1b[J";
  std::fputs(frame.c_str(), out_);
  std::fflush(out_);
  drawn_ = static_cast<int>(lines_.size());
  dirty_ = false;
}

void BatchDisplay::Close() {
  dirty_ = true;
  Refresh();
  closed_ = true;
}

}  // namespace lovar
