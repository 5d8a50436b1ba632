// A line between lovar-cli and lovar-sim that damages chosen frames: a pseudo-terminal of its
// own that the client opens as its port, and a thread that passes every byte on to the
// simulator's port and back. Requests are cut by their length byte; a chosen write request has
// one bit flipped and its CRC made good again, as a burst on a real line sometimes leaves it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace lovar::e2e {

struct Damage {
  // Which write requests (command 202) after the first read-back: the first'th and, with
  // every, each one after it too.
  int first = 1;
  bool every = false;
  int byte = 7;  // position in the frame (7: the low byte of the offset)
  int bit = 4;
  // Count every write request from the first, not only those after the first read-back.
  bool from_first_write = false;
};

class FrameRelay {
 public:
  // Opens the simulator's port and a pseudo-terminal for the client; relays at once.
  FrameRelay(const std::string& device_port, Damage damage);
  ~FrameRelay();
  FrameRelay(const FrameRelay&) = delete;
  FrameRelay& operator=(const FrameRelay&) = delete;

  // The port the client opens.
  const std::string& port() const { return port_; }
  // Frames damaged so far.
  int damaged() const { return damaged_.load(); }

 private:
  void Run();
  // Takes the client's bytes; passes on every whole frame (damaged when chosen) and whatever
  // lies between frames.
  void FromClient(const uint8_t* bytes, size_t n);
  void ToDevice(const uint8_t* bytes, size_t n);

  Damage damage_;
  int master_ = -1;  // the client's side
  int device_ = -1;  // the simulator's port
  int stop_[2] = {-1, -1};
  std::string port_;
  std::string pending_;     // the client's bytes of a frame not yet whole
  bool written_ = false;    // a write request has passed
  bool read_back_ = false;  // and a read request after it
  int repair_writes_ = 0;
  std::atomic<int> damaged_{0};
  std::thread thread_;
};

}  // namespace lovar::e2e
