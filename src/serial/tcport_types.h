// The Windows records that TCport keeps its settings in, with the Windows layout and meaning
// on every platform, so that a form description reads the same everywhere.
#pragma once

#include <cstdint>

namespace lovar {

enum class TParity : uint8_t { NO = 0, ODD = 1, EVEN = 2, MARK = 3, SPACE = 4 };
enum class TStopBits : uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };
enum class TDTRControl : uint8_t {
  DTR_CONTROL_DISABLE = 0,
  DTR_CONTROL_ENABLE = 1,
  DTR_CONTROL_HANDSHAKE = 2
};
enum class TRTSControl : uint8_t {
  RTS_CONTROL_DISABLE = 0,
  RTS_CONTROL_ENABLE = 1,
  RTS_CONTROL_HANDSHAKE = 2,
  RTS_CONTROL_TOGGLE = 3
};

// The DCB: line settings. Flags is the DCB flag word (bit 0 fBinary, 1 fParity, 2 fOutxCtsFlow,
// 3 fOutxDsrFlow, 4-5 fDtrControl, 6 fDsrSensitivity, 7 fTXContinueOnXoff, 8 fOutX, 9 fInX,
// 10 fErrorChar, 11 fNull, 12-13 fRtsControl, 14 fAbortOnError).
struct TDCB {
  uint32_t DCBlength = 28;
  uint32_t BaudRate = 200;
  uint32_t Flags = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 512;
  uint16_t XoffLim = 2048;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 17;
  char XoffChar = 19;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};

// COMMTIMEOUTS, in milliseconds. The write members are always 0.
struct TCOMMTIMEOUTS {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Line-event bits of the event mask (the Windows EV_ values).
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

// Bits of the modem status word (the Windows MS_ values).
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

}  // namespace lovar
