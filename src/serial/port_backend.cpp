#include "serial/port_backend.h"

#include "serial/net_address.h"

namespace lovar {

std::unique_ptr<PortBackend> PortBackend::Open(const std::string& name, TDCB& dcb, bool apply_dcb,
                                               LinkError& error) {
  if (IsNetworkPortName(name)) return OpenNetworkBackend(name, dcb, error);
  return OpenSerialBackend(name, dcb, apply_dcb, error);
}

}  // namespace lovar
