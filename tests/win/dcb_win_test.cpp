// The DCB as the Windows API sees it, the name tests and the port list.
// clang-format off
#include "serial/dcb_win.h"
#include "serial/port_backend.h"
#include "serial/port_list.h"
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "device_line.h"

namespace lovar::wintest {
namespace {

// One row per DCB bit field: where it sits in the flag word, and how Windows reads it.
struct FlagField {
  const char* name;
  int first_bit;
  int width;
  std::function<DWORD(const DCB&)> field;
};

const FlagField kFlagFields[] = {
    {"fBinary", 0, 1, [](const DCB& d) { return DWORD(d.fBinary); }},
    {"fParity", 1, 1, [](const DCB& d) { return DWORD(d.fParity); }},
    {"fOutxCtsFlow", 2, 1, [](const DCB& d) { return DWORD(d.fOutxCtsFlow); }},
    {"fOutxDsrFlow", 3, 1, [](const DCB& d) { return DWORD(d.fOutxDsrFlow); }},
    {"fDtrControl", 4, 2, [](const DCB& d) { return DWORD(d.fDtrControl); }},
    {"fDsrSensitivity", 6, 1, [](const DCB& d) { return DWORD(d.fDsrSensitivity); }},
    {"fTXContinueOnXoff", 7, 1, [](const DCB& d) { return DWORD(d.fTXContinueOnXoff); }},
    {"fOutX", 8, 1, [](const DCB& d) { return DWORD(d.fOutX); }},
    {"fInX", 9, 1, [](const DCB& d) { return DWORD(d.fInX); }},
    {"fErrorChar", 10, 1, [](const DCB& d) { return DWORD(d.fErrorChar); }},
    {"fNull", 11, 1, [](const DCB& d) { return DWORD(d.fNull); }},
    {"fRtsControl", 12, 2, [](const DCB& d) { return DWORD(d.fRtsControl); }},
    {"fAbortOnError", 14, 1, [](const DCB& d) { return DWORD(d.fAbortOnError); }},
};

TEST(DcbWin, EachFlagBitIsItsOwnWindowsField) {
  for (const FlagField& f : kFlagFields) {
    SCOPED_TRACE(f.name);
    for (DWORD value = 1; value < (1u << f.width); ++value) {
      TDCB t;
      t.Flags = value << f.first_bit;
      DCB d = ToWinDcb(t);
      EXPECT_EQ(f.field(d), value);
      for (const FlagField& other : kFlagFields) {
        if (&other != &f) {
          EXPECT_EQ(other.field(d), 0u) << other.name;
        }
      }
      EXPECT_EQ(FromWinDcb(d).Flags, t.Flags);
    }
  }
}

TEST(DcbWin, EveryMemberSurvivesTheRoundTrip) {
  TDCB t;
  t.BaudRate = 9600;
  t.Flags = 0xA5A5F00Fu;  // bits without a property keep their value too
  t.wReserved = 0x1234;
  t.XonLim = 512;
  t.XoffLim = 2048;
  t.ByteSize = 7;
  t.Parity = 2;
  t.StopBits = 2;
  t.XonChar = 17;
  t.XoffChar = 19;
  t.ErrorChar = '?';
  t.EofChar = 26;
  t.EvtChar = '\n';
  t.wReserved1 = 0xBEEF;
  DCB d = ToWinDcb(t);
  EXPECT_EQ(d.DCBlength, 28u);
  EXPECT_EQ(d.Parity, EVENPARITY);
  EXPECT_EQ(d.StopBits, TWOSTOPBITS);
  TDCB back = FromWinDcb(d);
  EXPECT_EQ(std::memcmp(&back, &t, sizeof t), 0);
}

TEST(DcbWin, DevicePathOfAPortName) {
  struct Row {
    const char* name;
    const char* path;
  };
  const Row rows[] = {
      {"COM5", "\\\\.\\COM5"},        {"COM12", "\\\\.\\COM12"}, {"COM", "COM"},
      {"COM1:", "\\\\.\\COM1"},       {"COMx", "COMx"},          {"COM1::", "COM1::"},
      {"\\\\.\\COM3", "\\\\.\\COM3"}, {"C:\\file", "C:\\file"},
  };
  for (const Row& r : rows) EXPECT_EQ(WinDevicePath(r.name), r.path) << r.name;
}

TEST(PortNamesWin, ComAndCPrefixes) {
  struct Row {
    const char* name;
    bool port;
    bool com;
  };
  const Row rows[] = {
      {"COM5", true, true},   {"CO", true, true},
      {"CNCA0", true, false}, {"C", true, false},
      {"com5", false, false}, {"LPT1", false, false},
      {"", false, false},     {"\\\\.\\COM5", false, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(IsPortName(r.name), r.port) << r.name;
    EXPECT_EQ(IsComPortName(r.name), r.com) << r.name;
  }
}

TEST(OsErrorsWin, MapToLinkErrors) {
  struct Row {
    DWORD code;
    LinkError error;
  };
  const Row rows[] = {
      {ERROR_SUCCESS, LinkError::None},
      {ERROR_FILE_NOT_FOUND, LinkError::NoSuchPort},
      {ERROR_PATH_NOT_FOUND, LinkError::NoSuchPort},
      {ERROR_SHARING_VIOLATION, LinkError::PortBusy},
      {ERROR_ACCESS_DENIED, LinkError::AccessDenied},
      {ERROR_INVALID_FUNCTION, LinkError::NotSerial},
      {ERROR_DEVICE_NOT_CONNECTED, LinkError::HungUp},
      {ERROR_OPERATION_ABORTED, LinkError::HungUp},
      {ERROR_NOT_ENOUGH_MEMORY, LinkError::Io},
  };
  for (const Row& r : rows) EXPECT_EQ(MapOsError(int(r.code)), r.error) << r.code;
}

TEST(PortListWin, ListsOnlyComPortsThatOpen) {
  std::vector<std::string> ports = FillComPorts();
  for (const std::string& p : ports) {
    EXPECT_EQ(p.rfind("COM", 0), 0u) << p;
    EXPECT_TRUE(ComPortAvailable(p)) << p;
  }
  // The run registers the data port with the spooler as "COM5:"; it is listed as users name it.
  EXPECT_NE(std::find(ports.begin(), ports.end(), DataCom()), ports.end());
  EXPECT_FALSE(ComPortAvailable("COM77"));
}

}  // namespace
}  // namespace lovar::wintest
