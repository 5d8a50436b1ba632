// The client's side of Telnet with COM Port Control (RFC 2217), as the network link speaks it to
// a serial device server: data bytes with 255 doubled, the option negotiation, and the commands
// that set the line and the control lines and learn what the server took. No I/O: bytes in,
// data and replies out. One connection's state; used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace lovar {

namespace telnet {
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;
// Options.
inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPort = 44;
// COM Port Control commands from the client; the server answers each with the code + 100.
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kNotifyModemState = 7;
inline constexpr uint8_t kServerOffset = 100;
// Values of SET-CONTROL.
inline constexpr uint8_t kNoFlowControl = 1;
inline constexpr uint8_t kXonXoffFlowControl = 2;
inline constexpr uint8_t kHardwareFlowControl = 3;
inline constexpr uint8_t kDtrOn = 8;
inline constexpr uint8_t kDtrOff = 9;
inline constexpr uint8_t kRtsOn = 11;
inline constexpr uint8_t kRtsOff = 12;
}  // namespace telnet

// Appends data as it goes to a Telnet peer: each 255 doubled.
void AppendTelnetData(std::vector<uint8_t>& out, std::span<const uint8_t> data);

// The line settings in COM Port Control's own values: parity 1 none, 2 odd, 3 even, 4 mark,
// 5 space; stop size 1 one, 2 two, 3 one and a half.
struct ComPortLine {
  uint32_t baud = 0;
  uint8_t data_size = 0;
  uint8_t parity = 0;
  uint8_t stop_size = 0;
  bool operator==(const ComPortLine&) const = default;
};

class ComPortClient {
 public:
  // How the server stands to COM Port Control.
  enum class ComPort { Asked, Agreed, Refused };

  // What the client sends first: it will and wants the server to use binary mode and to
  // suppress go-ahead, and it offers COM Port Control.
  std::vector<uint8_t> Start();

  // Takes bytes from the server: data bytes (255 undoubled) are appended to data, and what the
  // negotiation answers to reply. Commands may be split anywhere between calls.
  void Feed(std::span<const uint8_t> in, std::vector<uint8_t>& data, std::vector<uint8_t>& reply);

  // The four commands that set the line; the answers are counted from here on.
  std::vector<uint8_t> SetLine(const ComPortLine& line);
  // One SET-CONTROL command (telnet::kDtrOn ...).
  static std::vector<uint8_t> SetControl(uint8_t value);
  // One command: IAC SB COM-PORT-OPTION code value IAC SE, with 255 doubled in the value.
  static std::vector<uint8_t> Command(uint8_t code, std::span<const uint8_t> value);

  ComPort com_port() const { return com_port_; }
  // Whether the server has answered any, and all four, of the commands of the last SetLine.
  bool LineAnswered() const { return answered_ != 0; }
  bool LineTaken() const { return answered_ == 0x0F; }
  // The line as the server last said it took it (fields it has not answered are 0).
  const ComPortLine& line() const { return taken_; }
  // The modem state the server last notified (its bits are the Windows MS_ bits).
  uint8_t modem_state() const { return modem_state_; }

 private:
  enum class State { Data, Iac, Option, Sub, SubIac };
  // One side of an option: RFC 1143's states without the queue, enough for a client that asks
  // once and never changes its mind.
  enum class Side : uint8_t { No, Asked, Yes };

  void OnOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply);
  void OnSubnegotiation();

  State state_ = State::Data;
  uint8_t verb_ = 0;
  std::vector<uint8_t> sub_;
  bool sub_overflow_ = false;
  std::array<Side, 256> us_{};   // options this side performs (WILL / WONT)
  std::array<Side, 256> him_{};  // options the server performs (DO / DONT)
  ComPort com_port_ = ComPort::Asked;
  uint8_t answered_ = 0;  // bit per answered SetLine command (baud, data size, parity, stop size)
  ComPortLine taken_;
  uint8_t modem_state_ = 0;
};

}  // namespace lovar
