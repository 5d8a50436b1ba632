// The port list on POSIX: the tty devices of real serial ports under /dev.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "serial/port_backend.h"
#include "serial/port_list.h"

namespace lovar {

namespace {

// ttyS, ttyUSB, ttyACM or ttyAMA followed by a number.
bool IsSerialTtyName(std::string_view name) {
  for (std::string_view prefix : {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"}) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
    const std::string_view number = name.substr(prefix.size());
    if (std::all_of(number.begin(), number.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
      return true;
    }
  }
  return false;
}

// The kernel makes ttyS0 to ttyS3 (and more) whether or not a UART is there: keep those with a
// device behind them whose UART type is known.
bool HasUart(const std::string& name) {
  struct stat st {};
  if (stat(("/sys/class/tty/" + name + "/device").c_str(), &st) != 0) return false;
  const int fd = open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct ss{};
  const bool known = ioctl(fd, TIOCGSERIAL, &ss) != 0 || ss.type != PORT_UNKNOWN;
  close(fd);
  return known;
}

}  // namespace

std::vector<std::string> FillComPorts() {
  std::vector<std::string> ports;
  DIR* dir = opendir("/dev");
  if (!dir) return ports;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsSerialTtyName(name)) continue;
    if (name.starts_with("ttyS") && std::isdigit(static_cast<unsigned char>(name[4])) &&
        !HasUart(name)) {
      continue;
    }
    const std::string path = "/dev/" + name;
    if (ComPortAvailable(path)) ports.push_back(path);
  }
  closedir(dir);
  std::sort(ports.begin(), ports.end(), PortNameLess);
  return ports;
}

bool ComPortAvailable(const std::string& name) {
  TDCB dcb;
  LinkError error = LinkError::None;
  return PortBackend::Open(name, dcb, /*apply_dcb=*/false, error) != nullptr;
}

}  // namespace lovar
