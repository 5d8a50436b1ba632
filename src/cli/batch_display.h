// What lovar-cli batch shows on stderr while the devices are programmed: one line per device
// (port, object number, phase, progress). On a terminal that takes cursor moves the lines of
// the devices at work are drawn once and then drawn again in place, at most every few tenths
// of a second, and a device's line, once it has ended, is written above them for good;
// otherwise (a file, a pipe, a dumb terminal) a plain line is added at each change of phase,
// so a log stays short and readable. Only the devices at work are held: a plan of any length
// costs the display the same.
//
// Threads: the loop's thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lovar {

class BatchDisplay {
 public:
  // in_place: draw the lines again in place; columns: the terminal's width now (0 unknown),
  // asked at each drawing, since the window may change meanwhile.
  BatchDisplay(std::FILE* out, bool in_place, std::function<int()> columns);

  // A line for a device at work; returns its number.
  int Add(const std::string& port, const std::string& object);
  void Phase(int line, const std::string& phase);
  void Progress(int line, int position, int maximum);
  // A passing note (a retry): shown until the next progress or phase.
  void Note(int line, const std::string& note);
  // The device's end: its line is written with this text, and the line is forgotten.
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
  std::map<int, Line> lines_;       // the devices at work, by number
  std::vector<std::string> ended_;  // in place: lines of ended devices not yet written
  int next_ = 0;
  size_t port_width_ = 0;
  size_t object_width_ = 0;
  int drawn_ = 0;  // lines on the terminal that a redraw goes back over
  bool dirty_ = false;
  bool closed_ = false;
};

}  // namespace lovar
