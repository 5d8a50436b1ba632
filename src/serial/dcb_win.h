// TDCB <-> the Windows DCB. Both have the same 28-byte layout; the flag word of TDCB is the
// DWORD that holds the DCB's bit fields (fBinary in bit 0 up to fAbortOnError in bit 14), so it
// is copied whole and every bit, named or not, keeps its place. Windows builds only.
//
// tcport_types.h uses the Windows names (ONESTOPBIT, EV_RXCHAR, DTR_CONTROL_ENABLE...) for its
// own constants, which <windows.h> defines as macros: it must be included before <windows.h>,
// as here. Include this header (or the serial headers) before anything that pulls in windows.h.
#pragma once

// clang-format off
#include "serial/tcport_types.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format on

#include <cstddef>
#include <cstring>
#include <string>

namespace lovar {

static_assert(sizeof(DCB) == 28, "the DCB length member is 28");
static_assert(offsetof(DCB, BaudRate) == 4 && offsetof(DCB, wReserved) == 12,
              "the flag word of the DCB is the DWORD at offset 8");
inline constexpr size_t kDcbFlagsOffset = 8;

inline DCB ToWinDcb(const TDCB& t) {
  DCB d;
  std::memset(&d, 0, sizeof d);
  d.DCBlength = sizeof(DCB);
  d.BaudRate = t.BaudRate;
  std::memcpy(reinterpret_cast<char*>(&d) + kDcbFlagsOffset, &t.Flags, sizeof t.Flags);
  d.wReserved = t.wReserved;
  d.XonLim = t.XonLim;
  d.XoffLim = t.XoffLim;
  d.ByteSize = t.ByteSize;
  d.Parity = t.Parity;
  d.StopBits = t.StopBits;
  d.XonChar = t.XonChar;
  d.XoffChar = t.XoffChar;
  d.ErrorChar = t.ErrorChar;
  d.EofChar = t.EofChar;
  d.EvtChar = t.EvtChar;
  d.wReserved1 = t.wReserved1;
  return d;
}

inline TDCB FromWinDcb(const DCB& d) {
  TDCB t;
  t.DCBlength = d.DCBlength;
  t.BaudRate = d.BaudRate;
  std::memcpy(&t.Flags, reinterpret_cast<const char*>(&d) + kDcbFlagsOffset, sizeof t.Flags);
  t.wReserved = d.wReserved;
  t.XonLim = d.XonLim;
  t.XoffLim = d.XoffLim;
  t.ByteSize = d.ByteSize;
  t.Parity = d.Parity;
  t.StopBits = d.StopBits;
  t.XonChar = d.XonChar;
  t.XoffChar = d.XoffChar;
  t.ErrorChar = d.ErrorChar;
  t.EofChar = d.EofChar;
  t.EvtChar = d.EvtChar;
  t.wReserved1 = d.wReserved1;
  return t;
}

// The path handed to CreateFileA for a port name: "COM10" and above open only through the
// device namespace, so "COM<digits>", and the spooler's form "COM<digits>:", become
// "\\.\COM<digits>" (harmless for COM1-COM9). Any other name is used as given.
inline std::string WinDevicePath(const std::string& name) {
  std::string digits = name.size() > 3 && name.compare(0, 3, "COM") == 0 ? name.substr(3) : "";
  if (!digits.empty() && digits.back() == ':') digits.pop_back();
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos) {
    return "\\\\.\\COM" + digits;
  }
  return name;
}

}  // namespace lovar
