// The serial ports that can be opened right now, for the search window and `lovar-cli ports`.
#pragma once

#include <string>
#include <vector>

namespace lovar {

// Names accepted as TCport::NameDevice, in a stable order, each probed with an exclusive open:
// a port held by another program at this moment is not listed. On POSIX the tty device paths
// of real serial devices (ttyS with hardware behind it, ttyUSB, ttyACM, ttyAMA); on Windows the
// spooler's "COM" ports.
std::vector<std::string> FillComPorts();

// Opens name exclusively and closes it at once: true when that worked. Does not change the
// port's line settings.
bool ComPortAvailable(const std::string& name);

// The list's order: names compared with their digit runs taken as numbers, so that ttyS2 comes
// before ttyS10 and COM2 before COM10.
bool PortNameLess(const std::string& a, const std::string& b);

}  // namespace lovar
