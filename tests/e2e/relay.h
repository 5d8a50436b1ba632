// A line between lovar-cli (or the window) and lovar-sim that damages chosen frames: a
// pseudo-terminal of its own that the client opens as its port, and a thread that passes every
// byte on to the simulator's port and back. Frames are cut by their length byte both ways; a
// chosen frame has one bit flipped and its CRC made good again, as a burst on a real line
// sometimes leaves it, or is held back and handed over late. Behind one port there may be two
// simulators, switched in the middle of a session: another device on the same adapter.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace lovar::e2e {

struct Damage {
  // Which write requests (command 202) after the first read-back: the first'th and, with
  // every, each one after it too; 0: none.
  int first = 1;
  bool every = false;
  int byte = 7;  // position in the frame (7: the low byte of the offset)
  int bit = 4;
  // Count every write request from the first, not only those after the first read-back.
  bool from_first_write = false;
  // Which read reply (command 201) from the device, counted from the first (0: none), has a
  // bit of one data byte (0: the first) flipped.
  int reply = 0;
  int reply_byte = 0;
  int reply_bit = 0;
  // Which read reply (0: none) is held back: the client asks again and is answered, and the
  // reply held is handed to it when its sequence number comes round again (256 requests on),
  // just before the answer to that request.
  int late = 0;
  // With a second device: switched to it as the first write request arrives (the request
  // goes to it).
  bool switch_at_write = false;
};

class FrameRelay {
 public:
  // Opens the simulator's port (and the second device's, if named) and a pseudo-terminal for
  // the client; relays at once.
  FrameRelay(const std::string& device_port, Damage damage, const std::string& second_port = {});
  ~FrameRelay();
  FrameRelay(const FrameRelay&) = delete;
  FrameRelay& operator=(const FrameRelay&) = delete;

  // The port the client opens.
  const std::string& port() const { return port_; }
  // Frames damaged so far (requests and replies).
  int damaged() const { return damaged_.load(); }
  // Replies handed over late so far.
  int late_handed() const { return late_handed_.load(); }
  // From the next request on, the second device answers.
  void SwitchDevice() { switch_ = true; }
  bool switched() const { return active_.load() == second_; }

 private:
  void Run();
  // Takes the client's bytes; passes on every whole frame (damaged when chosen) and whatever
  // lies between frames.
  void FromClient(const uint8_t* bytes, size_t n);
  void FromDevice(const uint8_t* bytes, size_t n);
  void ToDevice(const uint8_t* bytes, size_t n);

  Damage damage_;
  int master_ = -1;  // the client's side
  int device_ = -1;  // the simulator's port
  int second_ = -1;  // the second simulator's, or -1
  std::atomic<int> active_{-1};
  std::atomic<bool> switch_{false};
  int stop_[2] = {-1, -1};
  std::string port_;
  std::string pending_;     // the client's bytes of a frame not yet whole
  std::string replies_;     // the device's bytes of a frame not yet whole
  bool written_ = false;    // a write request has passed
  bool read_back_ = false;  // and a read request after it
  int repair_writes_ = 0;
  int read_replies_ = 0;
  int last_read_offset_ = -1;  // of the last read request passed on
  std::string held_;           // a read reply held back
  int held_sequence_ = -1;
  int held_offset_ = -1;
  std::atomic<int> damaged_{0};
  std::atomic<int> late_handed_{0};
  std::thread thread_;
};

}  // namespace lovar::e2e
