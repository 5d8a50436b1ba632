#include "serial/telnet_codec.h"

namespace lovar {
namespace {

using namespace telnet;

// A subnegotiation longer than this is not one of ours; it is read to its end and ignored.
constexpr size_t kMaxSubnegotiation = 64;

// The options this client performs itself, and those it wants the server to perform.
bool WeDo(uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool ServerMayDo(uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead;
}

void Put(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
  out.insert(out.end(), {kIac, verb, option});
}

}  // namespace

void AppendTelnetData(std::vector<uint8_t>& out, std::span<const uint8_t> data) {
  for (uint8_t b : data) {
    out.push_back(b);
    if (b == kIac) out.push_back(kIac);
  }
}

std::vector<uint8_t> ComPortClient::Start() {
  std::vector<uint8_t> out;
  for (uint8_t option : {kBinary, kSuppressGoAhead}) {
    us_[option] = Side::Asked;
    him_[option] = Side::Asked;
    Put(out, kWill, option);
    Put(out, kDo, option);
  }
  us_[kComPort] = Side::Asked;
  Put(out, kWill, kComPort);
  return out;
}

std::vector<uint8_t> ComPortClient::Command(uint8_t code, std::span<const uint8_t> value) {
  std::vector<uint8_t> out{kIac, kSb, kComPort, code};
  AppendTelnetData(out, value);
  out.insert(out.end(), {kIac, kSe});
  return out;
}

std::vector<uint8_t> ComPortClient::SetControl(uint8_t value) {
  return Command(kSetControl, std::array<uint8_t, 1>{value});
}

std::vector<uint8_t> ComPortClient::SetLine(const ComPortLine& line) {
  answered_ = 0;
  taken_ = {};
  const std::array<uint8_t, 4> baud{
      static_cast<uint8_t>(line.baud >> 24), static_cast<uint8_t>(line.baud >> 16),
      static_cast<uint8_t>(line.baud >> 8), static_cast<uint8_t>(line.baud)};
  std::vector<uint8_t> out = Command(kSetBaudRate, baud);
  for (const auto& [code, value] :
       {std::pair{kSetDataSize, line.data_size}, std::pair{kSetParity, line.parity},
        std::pair{kSetStopSize, line.stop_size}}) {
    const std::vector<uint8_t> command = Command(code, std::array<uint8_t, 1>{value});
    out.insert(out.end(), command.begin(), command.end());
  }
  return out;
}

void ComPortClient::Feed(std::span<const uint8_t> in, std::vector<uint8_t>& data,
                         std::vector<uint8_t>& reply) {
  for (size_t i = 0; i < in.size(); ++i) {
    const uint8_t b = in[i];
    switch (state_) {
      case State::Data:
        if (b == kIac)
          state_ = State::Iac;
        else
          data.push_back(b);
        break;
      case State::Iac:
        if (b == kIac) {
          data.push_back(kIac);
          state_ = State::Data;
        } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSb) {
          sub_.clear();
          sub_overflow_ = false;
          state_ = State::Sub;
        } else {
          state_ = State::Data;  // NOP, go-ahead, data mark and the like: nothing to do
        }
        break;
      case State::Option:
        OnOption(verb_, b, reply);
        state_ = State::Data;
        break;
      case State::Sub:
        if (b == kIac) {
          state_ = State::SubIac;
        } else if (sub_.size() < kMaxSubnegotiation) {
          sub_.push_back(b);
        } else {
          sub_overflow_ = true;
        }
        break;
      case State::SubIac:
        if (b == kIac) {
          if (sub_.size() < kMaxSubnegotiation)
            sub_.push_back(kIac);
          else
            sub_overflow_ = true;
          state_ = State::Sub;
        } else if (b == kSe) {
          if (!sub_overflow_) OnSubnegotiation();
          state_ = State::Data;
        } else {
          // A command inside a subnegotiation ends it unfinished; the command still counts.
          state_ = State::Iac;
          --i;
        }
        break;
    }
  }
}

void ComPortClient::OnOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply) {
  Side& us = us_[option];
  Side& him = him_[option];
  switch (verb) {
    case kDo:
      if (!WeDo(option)) {
        Put(reply, kWont, option);
        return;
      }
      if (us == Side::No) Put(reply, kWill, option);
      us = Side::Yes;
      if (option == kComPort) com_port_ = ComPort::Agreed;
      return;
    case kDont:
      if (option == kComPort) com_port_ = ComPort::Refused;
      if (us == Side::Yes) Put(reply, kWont, option);
      us = Side::No;
      return;
    case kWill:
      if (!ServerMayDo(option)) {
        Put(reply, kDont, option);
        return;
      }
      if (him == Side::No) Put(reply, kDo, option);
      him = Side::Yes;
      return;
    case kWont:
      if (him == Side::Yes) Put(reply, kDont, option);
      him = Side::No;
      return;
  }
}

void ComPortClient::OnSubnegotiation() {
  if (sub_.size() < 3 || sub_[0] != kComPort) return;
  const uint8_t code = sub_[1];
  const std::span<const uint8_t> value(sub_.data() + 2, sub_.size() - 2);
  switch (code) {
    case kServerOffset + kSetBaudRate:
      if (value.size() < 4) return;
      taken_.baud = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 |
                    uint32_t{value[3]};
      answered_ |= 1;
      return;
    case kServerOffset + kSetDataSize:
      taken_.data_size = value[0];
      answered_ |= 2;
      return;
    case kServerOffset + kSetParity:
      taken_.parity = value[0];
      answered_ |= 4;
      return;
    case kServerOffset + kSetStopSize:
      taken_.stop_size = value[0];
      answered_ |= 8;
      return;
    case kServerOffset + kNotifyModemState:
      modem_state_ = value[0];
      return;
    default:
      return;
  }
}

}  // namespace lovar
