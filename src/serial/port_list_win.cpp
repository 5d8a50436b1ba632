// The port list on Windows: the print spooler's port enumeration, "COM" names only, each
// probed with an exclusive open. The spooler's "COM3:" is listed as "COM3", the name a user
// types, so that the window and lovar-cli name (and record) one port alike.
// The lovar headers come first: see dcb_win.h.
// clang-format off
#include "serial/port_backend.h"
#include "serial/port_list.h"
#include "serial/dcb_win.h"
// clang-format on
#include <winspool.h>

#include <vector>

namespace lovar {

namespace {
constexpr DWORD kFirstBufferSize = 2004;
}

std::vector<std::string> FillComPorts() {
  std::vector<std::string> names;
  std::vector<BYTE> buffer(kFirstBufferSize);
  DWORD needed = 0;
  DWORD returned = 0;
  // Level 1 records carry only the name. A machine with many ports needs more than the first
  // buffer: the spooler then says how much, and the call is made again with that.
  while (!EnumPortsA(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                     &returned)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return names;
    buffer.resize(needed);
  }
  const auto* ports = reinterpret_cast<const PORT_INFO_1A*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) {
    if (ports[i].pName == nullptr) continue;
    std::string name = ports[i].pName;
    if (name.compare(0, 3, "COM") != 0) continue;
    if (name.ends_with(':')) name.pop_back();
    if (ComPortAvailable(name)) names.push_back(name);
  }
  return names;
}

bool ComPortAvailable(const std::string& name) {
  HANDLE handle = CreateFileA(WinDevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

}  // namespace lovar
