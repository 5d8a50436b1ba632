// TCport: the serial port component. It owns one port: the line settings written to it when it
// is opened, open and close, a write that never waits, and the receive thread TDevThread that
// hands received bytes to the window thread as OnReceive deliveries. The port is a serial port,
// or a network port ("socket://HOST:PORT", "rfc2217://HOST:PORT") reached through a serial
// device server: the same component and thread, another backend (port_backend.h). Opening a
// network port waits for the connection (at most a few seconds, see net_backend.cpp);
// OpenDeviceAsync waits for it on a thread of its own.
//
// Threads: every member is called on the window thread, and every event is raised there (via
// the WindowThread given to the constructor). The receive thread only waits on the port and
// blocks while its completion handler runs on the window thread. CloseDevice (also from inside
// an event handler) cancels a hand-off that has not run yet, so it never waits on the window
// thread; a receive thread that does not finish within 1200 ms is left to end by itself and
// touches nothing of this object when it does.
//
// Read time-outs (TimeOutsForCOM) on POSIX: a read in progress ends with what it has once
// ReadTotalTimeoutMultiplier * bytes + ReadTotalTimeoutConstant ms have passed (when that is
// nonzero), or ReadIntervalTimeout ms after its last byte (when nonzero and a byte came). The
// main window keeps all three at 0: a read ends only when its bytes have come.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "serial/port_interface.h"
#include "serial/tcport_types.h"
#include "serial/window_thread.h"

namespace lovar {

class TCport;
class PortBackend;
struct TDevThreadShared;
struct TPendingOpen;

// The DCB flag word as named properties. Stores nothing: every access reads or writes the DCB
// of its port. Bit 0 (fBinary) and bits 15 to 31 have no property and keep their value.
class Tflags {
 public:
  explicit Tflags(TCport& port) : port_(port) {}

  // The indexed accessor pair behind the Boolean views: index is the bit number.
  bool GetFlag(int index) const;
  void SetFlag(int index, bool value);

  bool ParityCheckEn() const { return GetFlag(1); }
  void SetParityCheckEn(bool v) { SetFlag(1, v); }
  bool CTScontrol() const { return GetFlag(2); }
  void SetCTScontrol(bool v) { SetFlag(2, v); }
  bool DSRcontrol() const { return GetFlag(3); }
  void SetDSRcontrol(bool v) { SetFlag(3, v); }
  TDTRControl DTRcontrol() const;
  void SetDTRcontrol(TDTRControl v);  // replaces bits 4-5 with the low two bits of v
  bool DSRsensitiv() const { return GetFlag(6); }
  void SetDSRsensitiv(bool v) { SetFlag(6, v); }
  bool XOFFconTX() const { return GetFlag(7); }
  void SetXOFFconTX(bool v) { SetFlag(7, v); }
  bool XONoutControl() const { return GetFlag(8); }
  void SetXONoutControl(bool v) { SetFlag(8, v); }
  bool XONinControl() const { return GetFlag(9); }
  void SetXONinControl(bool v) { SetFlag(9, v); }
  bool ERRORen() const { return GetFlag(10); }
  void SetERRORen(bool v) { SetFlag(10, v); }
  bool fNULL() const { return GetFlag(11); }
  void SetfNULL(bool v) { SetFlag(11, v); }
  TRTSControl RTScontrol() const;
  void SetRTScontrol(TRTSControl v);  // replaces bits 12-13 with the low two bits of v
  bool fAbortOnError() const { return GetFlag(14); }
  void SetfAbortOnError(bool v) { SetFlag(14, v); }

 private:
  TCport& port_;
};

// The three words of a CreateFileA call, stored here, with single-bit views of the
// flags-and-attributes word. The open does not consult them; they are kept for the form.
class TflagsForCreate {
 public:
  explicit TflagsForCreate(TCport& port) : port_(port) {}

  uint32_t dwDesiredAccess = 0;
  uint32_t dwShareMode = 0;
  uint32_t dwFlagsAndAttributes = 1073741952;  // OVERLAPPED | ATTR_NORMAL

  // Setting a view sets its bit; setting ATTR_NORMAL first clears bits 0-6 and 8 (0x17F).
  // Clearing a view clears only its bit.
  bool GetBit(int bit) const { return (dwFlagsAndAttributes >> bit) & 1u; }
  void SetBit(int bit, bool value);

  bool OVERLAPPED() const { return GetBit(30); }
  void SetOVERLAPPED(bool v) { SetBit(30, v); }
  bool WRITE_THROUGH() const { return GetBit(31); }
  void SetWRITE_THROUGH(bool v) { SetBit(31, v); }
  bool NO_BUFFERING() const { return GetBit(29); }
  void SetNO_BUFFERING(bool v) { SetBit(29, v); }
  bool RANDOM_ACCESS() const { return GetBit(28); }
  void SetRANDOM_ACCESS(bool v) { SetBit(28, v); }
  bool SEQUENTIAL_SCAN() const { return GetBit(27); }
  void SetSEQUENTIAL_SCAN(bool v) { SetBit(27, v); }
  bool DELETE_ON_CLOSE() const { return GetBit(26); }
  void SetDELETE_ON_CLOSE(bool v) { SetBit(26, v); }
  bool BACKUP_SEMANTICS() const { return GetBit(25); }
  void SetBACKUP_SEMANTICS(bool v) { SetBit(25, v); }
  bool POSIX_SEMANTICS() const { return GetBit(24); }
  void SetPOSIX_SEMANTICS(bool v) { SetBit(24, v); }
  bool ATTR_READONLY() const { return GetBit(0); }
  void SetATTR_READONLY(bool v) { SetBit(0, v); }
  bool ATTR_HIDDEN() const { return GetBit(1); }
  void SetATTR_HIDDEN(bool v) { SetBit(1, v); }
  bool ATTR_SYSTEM() const { return GetBit(2); }
  void SetATTR_SYSTEM(bool v) { SetBit(2, v); }
  bool ATTR_ARCHIVE() const { return GetBit(5); }
  void SetATTR_ARCHIVE(bool v) { SetBit(5, v); }
  bool ATTR_NORMAL() const { return GetBit(7); }
  void SetATTR_NORMAL(bool v) { SetBit(7, v); }
  bool ATTR_TEMPORARY() const { return GetBit(8); }
  void SetATTR_TEMPORARY(bool v) { SetBit(8, v); }
  bool ATTR_COMPRESSED() const { return GetBit(11); }
  void SetATTR_COMPRESSED(bool v) { SetBit(11, v); }
  bool ATTR_OFFLINE() const { return GetBit(12); }
  void SetATTR_OFFLINE(bool v) { SetBit(12, v); }

 private:
  TCport& port_;
};

// The three read time-outs of COMMTIMEOUTS, stored in the port.
class TTimeOuts {
 public:
  explicit TTimeOuts(TCport& port) : port_(port) {}
  uint32_t TimeOutsReadInterval() const;
  void SetTimeOutsReadInterval(uint32_t v);
  uint32_t TimeOutsReadTotalMultiplier() const;
  void SetTimeOutsReadTotalMultiplier(uint32_t v);
  uint32_t TimeOutsReadTotalConstant() const;
  void SetTimeOutsReadTotalConstant(uint32_t v);

 private:
  TCport& port_;
};

using TOnRXCHAR = std::function<void(uint32_t EVENTmask)>;
using TOnChangeFl = std::function<void(uint32_t EVENTmask, uint32_t Status)>;
using TOnRX80FULL = std::function<void(uint32_t EVENTmask)>;
using TOnTransmit = std::function<void(int32_t Count)>;
using TonTimeOutReceive = std::function<void()>;

class TCport : public PortInterface {
 public:
  // Constructor values: BaudRate 200, 8 data bits, no parity, one stop bit, all flags 0,
  // ReadDevice true, WaitCountByte 1, all time-outs 0. No port is opened.
  explicit TCport(WindowThread& window);
  ~TCport() override;  // closes the port
  TCport(const TCport&) = delete;
  TCport& operator=(const TCport&) = delete;

  // PortInterface. OpenDevice sets Connect (unless set) and starts the receive thread; after a
  // hang-up it first cleans up the lost port, so no CloseDevice is needed to open again.
  // CloseDevice may be called from inside any event handler of this port. IsOpen is false
  // once reception has ended by a hang-up, while Connect keeps its value until CloseDevice.
  // LastError: why the last open failed, HungUp after a hang-up (also after the CloseDevice
  // that follows it), None after a successful open.
  void SetNameDevice(std::string name) override { name_device_ = std::move(name); }
  const std::string& NameDevice() const override { return name_device_; }
  bool IsOpen() const override;
  bool OpenDevice() override;
  // A network port connects on a thread of its own (PortBackend::Open, bounded by its
  // time-outs); the rest of the open runs on the window thread when it is done. Any other name
  // opens at once, as OpenDevice.
  void OpenDeviceAsync(std::function<void(bool opened)> done) override;
  bool Opening() const override { return pending_ != nullptr; }
  bool CloseDevice() override;
  void WriteDevice(int32_t Count, std::span<const uint8_t> Buf) override;
  void RaiseRtsDtr() override;
  LinkError LastError() const override;
  std::chrono::milliseconds RoundTrip() const override;
  bool InputPending() const override;

  // Published properties, in declaration order.
  uint32_t WaitEvent() const { return wait_event_; }
  void SetWaitEvent(uint32_t v);  // an open port's receive thread takes it at its next pass
  bool ReadDevice() const { return read_device_; }
  void SetReadDevice(bool v) { read_device_ = v; }
  uint32_t DCBLength() const { return dcb_.DCBlength; }
  uint32_t BaudRate() const { return dcb_.BaudRate; }
  void SetBaudRate(uint32_t v) { dcb_.BaudRate = v; }
  TStopBits StopBits() const { return static_cast<TStopBits>(dcb_.StopBits); }
  void SetStopBits(TStopBits v) { dcb_.StopBits = static_cast<uint8_t>(v); }
  TParity Parity() const { return static_cast<TParity>(dcb_.Parity); }
  void SetParity(TParity v) { dcb_.Parity = static_cast<uint8_t>(v); }
  Tflags& FlagsForCOM() { return flags_; }
  const Tflags& FlagsForCOM() const { return flags_; }
  uint16_t wReserved() const { return dcb_.wReserved; }
  void SetwReserved(uint16_t v) { dcb_.wReserved = v; }
  uint16_t XonLim() const { return dcb_.XonLim; }
  void SetXonLim(uint16_t v) { dcb_.XonLim = v; }
  uint16_t XoffLim() const { return dcb_.XoffLim; }
  void SetXoffLim(uint16_t v) { dcb_.XoffLim = v; }
  uint8_t ByteSize() const { return dcb_.ByteSize; }
  void SetByteSize(uint8_t v) { dcb_.ByteSize = v; }
  char XonChar() const { return dcb_.XonChar; }
  void SetXonChar(char v) { dcb_.XonChar = v; }
  char XoffChar() const { return dcb_.XoffChar; }
  void SetXoffChar(char v) { dcb_.XoffChar = v; }
  char ErrorChar() const { return dcb_.ErrorChar; }
  void SetErrorChar(char v) { dcb_.ErrorChar = v; }
  char EofChar() const { return dcb_.EofChar; }
  void SetEofChar(char v) { dcb_.EofChar = v; }
  char EvtChar() const { return dcb_.EvtChar; }
  void SetEvtChar(char v) { dcb_.EvtChar = v; }
  uint16_t wReserved1() const { return dcb_.wReserved1; }
  void SetwReserved1(uint16_t v) { dcb_.wReserved1 = v; }
  // Setting Connect true opens the port handle without starting the receive thread; false
  // calls CloseDevice. Reading it returns the stored value, not whether a handle is held.
  bool Connect() const { return connected_; }
  void SetConnect(bool v);
  TflagsForCreate& FlagsForCreate() { return flags_for_create_; }
  TTimeOuts& TimeOutsForCOM() { return time_outs_; }
  // Bytes per read. Reads ask for at least 1 and at most PortBackend::kMaxRead (504) bytes,
  // whatever is set here, so a delivery (kDeliveryEndsAfter + one read) always fits
  // TMessageDevice.
  uint32_t WaitCountByte() const { return wait_count_byte_; }
  void SetWaitCountByte(uint32_t v) { wait_count_byte_ = v; }

  // The whole DCB and time-out records, for the settings classes and the tests.
  TDCB& Dcb() { return dcb_; }
  const TDCB& Dcb() const { return dcb_; }
  TCOMMTIMEOUTS& TimeOuts() { return timeouts_; }
  // Set once a port name that takes the DCB has been used (IsComPortName); never cleared.
  bool IsComPort() const { return is_com_port_; }

  // Events; each is called only when assigned, always on the window thread. OnReceive is
  // inherited from PortInterface. The line events (OnBREAK ... OnRX80FULL) come only from a
  // backend that reports line events for a nonzero WaitEvent; the POSIX backend reports none
  // (the main window sets WaitEvent 0 and assigns none of them). OnTransmit gets the byte count
  // of completed writes; it should be assigned before the WriteDevice whose completion it is
  // to see. OnTimeOutReceive is raised when a read ended by a read time-out with no bytes.
  TOnRXCHAR OnRXCHAR;
  TOnChangeFl OnBREAK, OnCTSchange, OnDSRchange, OnERR, OnRING, OnRLSDchange, OnRXFLAG, OnTXEMPTY,
      OnEVENT1, OnEVENT2;
  TOnRX80FULL OnRX80FULL;
  TOnTransmit OnTransmit;
  TonTimeOutReceive OnTimeOutReceive;

 private:
  friend class TDevThread;
  // Completion handlers, run on the window thread while the receive thread waits for them.
  // DoTransfer looks at last_wait_result_: a completed read becomes one OnReceive delivery
  // (or OnTimeOutReceive), a completed write one OnTransmit. DoCommEvent raises the line
  // events of evt_mask_ in their fixed order.
  void DoTransfer(PortBackend& backend);
  void DoCommEvent(PortBackend& backend);
  // The bytes each read asks for: WaitCountByte kept within 1..PortBackend::kMaxRead.
  uint32_t ReadSize() const;
  // Window thread: runs when the receive thread ended on its own (hang-up, failed wait).
  void ReapThread(const std::shared_ptr<TDevThreadShared>& shared);
  // Takes an opened backend as the port's handle (Connect true), or the error of a failed open.
  void Adopt(std::unique_ptr<PortBackend> backend, LinkError error);
  // Starts the receive thread on the held handle; false (port closed) when it cannot start.
  bool StartReceiving();
  // Window thread: the open of OpenDeviceAsync has ended on its thread.
  void FinishOpen(const std::shared_ptr<TPendingOpen>& pending);
  // Forgets an open still in progress: its backend is closed by its thread, done never runs.
  void AbandonOpen();

  WindowThread& window_;
  std::string name_device_;
  uint32_t wait_event_ = 0;
  bool read_device_ = true;
  TDCB dcb_;
  TCOMMTIMEOUTS timeouts_;
  Tflags flags_{*this};
  TflagsForCreate flags_for_create_{*this};
  TTimeOuts time_outs_{*this};
  bool connected_ = false;  // the Connect property; true exactly while shared_ is held
  uint32_t wait_count_byte_ = 1;
  bool is_com_port_ = false;
  LinkError last_error_ = LinkError::None;

  // Set by the hand-off just before DoTransfer or DoCommEvent runs.
  int32_t last_wait_result_ = 0;
  uint32_t bytes_written_ = 0;
  uint32_t evt_mask_ = 0;
  uint32_t modem_status_ = 0;
  TMessageDevice message_;
  // The open port and the state shared with the receive thread. The thread holds its own
  // reference, so it never touches a TCport or a backend that has gone.
  std::shared_ptr<TDevThreadShared> shared_;
  // The open of OpenDeviceAsync in progress, or null.
  std::shared_ptr<TPendingOpen> pending_;
};

}  // namespace lovar
