// The OS-independent settings of TCport: the bit views of the DCB flag word and of the create
// flags, the error texts and the order of port names. Run in both builds.
#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/event_loop.h"
#include "serial/link_error.h"
#include "serial/port_list.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

// Each view changes only its own bits of the word it sits in.
TEST(TCportFlags, ViewsChangeOnlyTheirOwnBits) {
  const struct {
    const char* what;
    bool create;  // the create flags, else the DCB flag word
    uint32_t before;
    std::function<void(TCport&)> set;
    uint32_t after;
  } rows[] = {
      {"RTScontrol keeps the XON bits", false, 0x00000300,
       [](TCport& p) { p.FlagsForCOM().SetRTScontrol(TRTSControl::RTS_CONTROL_HANDSHAKE); },
       0x00002300},
      {"RTScontrol disable from all ones", false, 0xFFFFFFFF,
       [](TCport& p) { p.FlagsForCOM().SetRTScontrol(TRTSControl::RTS_CONTROL_DISABLE); },
       0xFFFFCFFF},
      {"RTScontrol takes the low two bits", false, 0,
       [](TCport& p) { p.FlagsForCOM().SetRTScontrol(static_cast<TRTSControl>(7)); }, 0x00003000},
      {"DTRcontrol disable from all ones", false, 0xFFFFFFFF,
       [](TCport& p) { p.FlagsForCOM().SetDTRcontrol(TDTRControl::DTR_CONTROL_DISABLE); },
       0xFFFFFFCF},
      {"XONinControl off keeps XONoutControl", false, 0x00000300,
       [](TCport& p) { p.FlagsForCOM().SetXONinControl(false); }, 0x00000100},
      {"fNULL off keeps every other bit", false, 0xFFFFFFFF,
       [](TCport& p) { p.FlagsForCOM().SetfNULL(false); }, 0xFFFFF7FF},
      {"fAbortOnError", false, 0x00010001,
       [](TCport& p) { p.FlagsForCOM().SetfAbortOnError(true); }, 0x00014001},
      {"ATTR_NORMAL clears the other attributes", true, 0xFFFFFFFF,
       [](TCport& p) { p.FlagsForCreate().SetATTR_NORMAL(true); }, 0xFFFFFE80},
      {"ATTR_NORMAL off clears only its bit", true, 0xFFFFFFFF,
       [](TCport& p) { p.FlagsForCreate().SetATTR_NORMAL(false); }, 0xFFFFFF7F},
      {"ATTR_HIDDEN keeps ATTR_NORMAL", true, 0x00000080,
       [](TCport& p) { p.FlagsForCreate().SetATTR_HIDDEN(true); }, 0x00000082},
      {"OVERLAPPED off", true, 0x40000080,
       [](TCport& p) { p.FlagsForCreate().SetOVERLAPPED(false); }, 0x00000080},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EventLoop loop;
    TCport port(loop);
    uint32_t& word = r.create ? port.FlagsForCreate().dwFlagsAndAttributes : port.Dcb().Flags;
    word = r.before;
    r.set(port);
    EXPECT_EQ(word, r.after) << std::hex << word;
  }
}

// The windows and the command line show these texts as they are: none empty, no two alike.
TEST(LinkErrors, EveryErrorHasItsOwnText) {
  std::set<std::string_view> texts;
  for (LinkError e : {LinkError::NoSuchPort, LinkError::PortBusy, LinkError::AccessDenied,
                      LinkError::NotSerial, LinkError::HungUp, LinkError::Io}) {
    EXPECT_FALSE(ErrorText(e).empty());
    texts.insert(ErrorText(e));
  }
  texts.insert(ErrorText(LinkError::None));
  EXPECT_EQ(texts.size(), 7u);
  EXPECT_EQ(ErrorText(LinkError::HungUp), "Связь с портом потеряна");  // the one scripts look for
}

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
