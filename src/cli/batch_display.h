// What lovar-cli batch shows on stderr while the devices are programmed: one line per device
// (port, object number, phase, progress). On a terminal that takes cursor moves the lines are
// drawn once and then drawn again in place, at most every few tenths of a second; otherwise
// (a file, a pipe, a dumb terminal) a plain line is added at each change of phase, so a log
// stays short and readable.
//
// Threads: the loop's thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace lovar {

class BatchDisplay {
 public:
  // in_place: draw the lines again in place; columns: the terminal's width now (0 unknown),
  // asked at each drawing, since the window may change meanwhile.
  BatchDisplay(std::FILE* out, bool in_place, std::function<int()> columns);

  // A line for a device; returns its number.
  int Add(const std::string& port, const std::string& object);
  void Phase(int line, const std::string& phase);
  void Progress(int line, int position, int maximum);
  // A passing note (a retry): shown until the next progress or phase.
  void Note(int line, const std::string& note);
  // The device's end: the line keeps this text.
  void Finished(int line, bool ok, const std::string& result);

  // In place: draws the lines again when something changed (called from a timer).
  void Refresh();
  // Draws what is left to draw; nothing is drawn after it.
  void Close();

 private:
  struct Line {
    std::string port;
    std::string object;
    std::string phase;
    std::string note;
    int position = 0;
    int maximum = 0;
    bool finished = false;
  };
  std::string Text(const Line& line) const;
  void Plain(const Line& line, const std::string& text);

  std::FILE* out_;
  bool in_place_;
  std::function<int()> columns_;
  std::vector<Line> lines_;
  size_t port_width_ = 0;
  size_t object_width_ = 0;
  int drawn_ = 0;  // lines on the terminal that a redraw goes back over
  bool dirty_ = false;
  bool closed_ = false;
};

}  // namespace lovar
