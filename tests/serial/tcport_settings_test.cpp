// The settings of TCport: the flag-word views, the create flags, the constructor values, the
// DCB written to and read back from a real pseudo-terminal, and the error and name rules.
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pty.h"
#include "serial/event_loop.h"
#include "serial/link_error.h"
#include "serial/port_backend.h"
#include "serial/port_list.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

using test::Pty;

TEST(TCportSettings, ConstructorValues) {
  EventLoop loop;
  TCport port(loop);
  EXPECT_EQ(port.NameDevice(), "");
  EXPECT_EQ(port.WaitEvent(), 0u);
  EXPECT_TRUE(port.ReadDevice());
  EXPECT_EQ(port.DCBLength(), 28u);
  EXPECT_EQ(port.BaudRate(), 200u);
  EXPECT_EQ(port.StopBits(), TStopBits::ONESTOPBIT);
  EXPECT_EQ(port.Parity(), TParity::NO);
  EXPECT_EQ(port.Dcb().Flags, 0u);
  EXPECT_EQ(port.XonLim(), 512);
  EXPECT_EQ(port.XoffLim(), 2048);
  EXPECT_EQ(port.ByteSize(), 8);
  EXPECT_EQ(port.XonChar(), 17);
  EXPECT_EQ(port.XoffChar(), 19);
  EXPECT_FALSE(port.Connect());
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.FlagsForCreate().dwFlagsAndAttributes, 1073741952u);
  EXPECT_TRUE(port.FlagsForCreate().OVERLAPPED());
  EXPECT_TRUE(port.FlagsForCreate().ATTR_NORMAL());
  EXPECT_EQ(port.TimeOutsForCOM().TimeOutsReadInterval(), 0u);
  EXPECT_EQ(port.WaitCountByte(), 1u);
  EXPECT_FALSE(port.IsComPort());
}

struct FlagCase {
  const char* what;
  uint32_t before;
  std::function<void(Tflags&)> set;
  uint32_t after;
};

class FlagView : public ::testing::TestWithParam<FlagCase> {};

TEST_P(FlagView, ChangesOnlyItsOwnBits) {
  EventLoop loop;
  TCport port(loop);
  port.Dcb().Flags = GetParam().before;
  GetParam().set(port.FlagsForCOM());
  EXPECT_EQ(port.Dcb().Flags, GetParam().after) << std::hex << port.Dcb().Flags;
}

INSTANTIATE_TEST_SUITE_P(
    Bits, FlagView,
    ::testing::Values(
        FlagCase{"RTScontrol keeps the XON bits", 0x00000300,
                 [](Tflags& f) { f.SetRTScontrol(TRTSControl::RTS_CONTROL_HANDSHAKE); },
                 0x00002300},
        FlagCase{"RTScontrol disable from all ones", 0xFFFFFFFF,
                 [](Tflags& f) { f.SetRTScontrol(TRTSControl::RTS_CONTROL_DISABLE); }, 0xFFFFCFFF},
        FlagCase{"RTScontrol takes the low two bits", 0,
                 [](Tflags& f) { f.SetRTScontrol(static_cast<TRTSControl>(7)); }, 0x00003000},
        FlagCase{"DTRcontrol enable", 0,
                 [](Tflags& f) { f.SetDTRcontrol(TDTRControl::DTR_CONTROL_ENABLE); }, 0x00000010},
        FlagCase{"DTRcontrol disable from all ones", 0xFFFFFFFF,
                 [](Tflags& f) { f.SetDTRcontrol(TDTRControl::DTR_CONTROL_DISABLE); }, 0xFFFFFFCF},
        FlagCase{"ParityCheckEn", 0, [](Tflags& f) { f.SetParityCheckEn(true); }, 0x00000002},
        FlagCase{"CTScontrol", 0, [](Tflags& f) { f.SetCTScontrol(true); }, 0x00000004},
        FlagCase{"XONinControl off keeps XONoutControl", 0x00000300,
                 [](Tflags& f) { f.SetXONinControl(false); }, 0x00000100},
        FlagCase{"fNULL off keeps every other bit", 0xFFFFFFFF,
                 [](Tflags& f) { f.SetfNULL(false); }, 0xFFFFF7FF},
        FlagCase{"fAbortOnError", 0x00010001, [](Tflags& f) { f.SetfAbortOnError(true); },
                 0x00014001}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(TCportSettings, EnumViewsReadTheirTwoBits) {
  EventLoop loop;
  TCport port(loop);
  port.Dcb().Flags = 0x00002010;
  EXPECT_EQ(port.FlagsForCOM().RTScontrol(), TRTSControl::RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(port.FlagsForCOM().DTRcontrol(), TDTRControl::DTR_CONTROL_ENABLE);
  EXPECT_FALSE(port.FlagsForCOM().XONoutControl());
}

struct CreateCase {
  const char* what;
  uint32_t before;
  std::function<void(TflagsForCreate&)> set;
  uint32_t after;
};

class CreateView : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateView, SetsItsBitWithTheNormalRule) {
  EventLoop loop;
  TCport port(loop);
  port.FlagsForCreate().dwFlagsAndAttributes = GetParam().before;
  GetParam().set(port.FlagsForCreate());
  EXPECT_EQ(port.FlagsForCreate().dwFlagsAndAttributes, GetParam().after)
      << std::hex << port.FlagsForCreate().dwFlagsAndAttributes;
}

INSTANTIATE_TEST_SUITE_P(
    Bits, CreateView,
    ::testing::Values(CreateCase{"ATTR_NORMAL clears the other attributes", 0xFFFFFFFF,
                                 [](TflagsForCreate& f) { f.SetATTR_NORMAL(true); }, 0xFFFFFE80},
                      CreateCase{"ATTR_NORMAL from nothing", 0,
                                 [](TflagsForCreate& f) { f.SetATTR_NORMAL(true); }, 0x00000080},
                      CreateCase{"ATTR_NORMAL off clears only its bit", 0xFFFFFFFF,
                                 [](TflagsForCreate& f) { f.SetATTR_NORMAL(false); }, 0xFFFFFF7F},
                      CreateCase{"ATTR_HIDDEN keeps ATTR_NORMAL", 0x00000080,
                                 [](TflagsForCreate& f) { f.SetATTR_HIDDEN(true); }, 0x00000082},
                      CreateCase{"OVERLAPPED off", 0x40000080,
                                 [](TflagsForCreate& f) { f.SetOVERLAPPED(false); }, 0x00000080},
                      CreateCase{"WRITE_THROUGH", 0,
                                 [](TflagsForCreate& f) { f.SetWRITE_THROUGH(true); }, 0x80000000},
                      CreateCase{"ATTR_OFFLINE", 0,
                                 [](TflagsForCreate& f) { f.SetATTR_OFFLINE(true); }, 0x00001000}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

struct BaudCase {
  uint32_t set;
  uint32_t taken;
};

class BaudReadBack : public ::testing::TestWithParam<BaudCase> {};

// The pseudo-terminal keeps any standard rate; rates between them become the standard one below.
TEST_P(BaudReadBack, BaudRateShowsWhatTheDriverTook) {
  Pty pty;
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice(pty.Path());
  port.SetBaudRate(GetParam().set);
  ASSERT_TRUE(port.OpenDevice());
  EXPECT_TRUE(port.IsComPort());
  EXPECT_EQ(port.BaudRate(), GetParam().taken);
  termios t{};
  ASSERT_EQ(tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), cfgetispeed(&t));
}

INSTANTIATE_TEST_SUITE_P(Rates, BaudReadBack,
                         ::testing::Values(BaudCase{9600, 9600}, BaudCase{200, 200},
                                           BaudCase{115200, 115200}, BaudCase{9601, 9600},
                                           BaudCase{14400, 9600}, BaudCase{10, 50}));

TEST(TCportSettings, LineSettingsAreWrittenRawAndReadBack) {
  Pty pty;
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice(pty.Path());
  port.SetBaudRate(9600);
  port.SetByteSize(7);
  port.SetParity(TParity::EVEN);
  port.SetStopBits(TStopBits::TWOSTOPBITS);
  port.FlagsForCOM().SetXONoutControl(true);
  port.FlagsForCOM().SetXONinControl(true);
  port.SetXonChar(0x05);
  port.SetXoffChar(0x06);
  ASSERT_TRUE(port.OpenDevice());

  termios t{};
  ASSERT_EQ(tcgetattr(pty.SlaveFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_FALSE(t.c_cflag & HUPCL);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_EQ(t.c_cc[VSTART], 0x05);
  EXPECT_EQ(t.c_cc[VSTOP], 0x06);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  // The DCB shows what the line really has: a pseudo-terminal may force 8 bits, no parity.
  const int bits = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS8 ? 8 : 0;
  EXPECT_EQ(port.ByteSize(), bits);
  EXPECT_EQ(port.Parity(), (t.c_cflag & PARENB) ? TParity::EVEN : TParity::NO);
  EXPECT_EQ(port.StopBits(), TStopBits::TWOSTOPBITS);
  EXPECT_TRUE(port.FlagsForCOM().XONoutControl());
  EXPECT_TRUE(port.FlagsForCOM().XONinControl());
  EXPECT_EQ(port.XonChar(), 0x05);
}

// A name that is not a port name on this platform opens the same way, but gets no DCB.
TEST(TCportSettings, RelativeNameGetsNoDcb) {
  EventLoop loop;
  TCport port(loop);
  port.SetNameDevice("lovar-no-such-relative-port");
  EXPECT_FALSE(port.OpenDevice());
  EXPECT_FALSE(port.IsComPort());
  EXPECT_EQ(port.LastError(), LinkError::NoSuchPort);
}

struct ErrnoCase {
  int code;
  LinkError error;
};

class OsError : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(OsError, MapsToTheLinkError) {
  EXPECT_EQ(MapOsError(GetParam().code), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Codes, OsError,
                         ::testing::Values(ErrnoCase{0, LinkError::None},
                                           ErrnoCase{ENOENT, LinkError::NoSuchPort},
                                           ErrnoCase{ENXIO, LinkError::NoSuchPort},
                                           ErrnoCase{ENODEV, LinkError::NoSuchPort},
                                           ErrnoCase{EBUSY, LinkError::PortBusy},
                                           ErrnoCase{EWOULDBLOCK, LinkError::PortBusy},
                                           ErrnoCase{EACCES, LinkError::AccessDenied},
                                           ErrnoCase{EPERM, LinkError::AccessDenied},
                                           ErrnoCase{ENOTTY, LinkError::NotSerial},
                                           ErrnoCase{EIO, LinkError::Io},
                                           ErrnoCase{ENOMEM, LinkError::Io}));

TEST(LinkErrors, EveryErrorHasItsOwnRussianText) {
  EXPECT_EQ(ErrorText(LinkError::NoSuchPort), "Порт не найден");
  EXPECT_EQ(ErrorText(LinkError::PortBusy), "Порт занят другой программой");
  EXPECT_EQ(ErrorText(LinkError::AccessDenied), "Нет доступа к порту");
  EXPECT_EQ(ErrorText(LinkError::NotSerial), "Это не последовательный порт");
  EXPECT_EQ(ErrorText(LinkError::HungUp), "Связь с портом потеряна");
  EXPECT_EQ(ErrorText(LinkError::Io), "Ошибка порта");
  std::set<std::string_view> texts;
  for (LinkError e :
       {LinkError::None, LinkError::NoSuchPort, LinkError::PortBusy, LinkError::AccessDenied,
        LinkError::NotSerial, LinkError::HungUp, LinkError::Io}) {
    texts.insert(ErrorText(e));
  }
  EXPECT_EQ(texts.size(), 7u);
}

struct NameCase {
  std::string name;
  bool port_name;
};

class PortName : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortName, IsAnAbsolutePath) {
  EXPECT_EQ(IsPortName(GetParam().name), GetParam().port_name);
  EXPECT_EQ(IsComPortName(GetParam().name), GetParam().port_name);
}

INSTANTIATE_TEST_SUITE_P(Names, PortName,
                         ::testing::Values(NameCase{"/dev/ttyUSB0", true},
                                           NameCase{"/dev/pts/3", true}, NameCase{"ttyS0", false},
                                           NameCase{"COM1", false}, NameCase{"", false}));

TEST(PortList, NaturalOrder) {
  std::vector<std::string> names = {"/dev/ttyS10", "/dev/ttyUSB0",  "/dev/ttyS2",  "/dev/ttyACM0",
                                    "/dev/ttyS1",  "/dev/ttyUSB10", "/dev/ttyUSB9"};
  std::sort(names.begin(), names.end(), PortNameLess);
  EXPECT_EQ(names,
            (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10",
                                      "/dev/ttyUSB0", "/dev/ttyUSB9", "/dev/ttyUSB10"}));
  EXPECT_TRUE(PortNameLess("COM2", "COM10"));
  EXPECT_FALSE(PortNameLess("COM10", "COM2"));
  EXPECT_FALSE(PortNameLess("COM2", "COM2"));
  EXPECT_TRUE(PortNameLess("COM2", "COM02"));  // equal numbers: a total order all the same
}

}  // namespace
}  // namespace lovar
