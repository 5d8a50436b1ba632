// Errors of the serial link, as the core reports them to the CLI and the windows.
#pragma once

#include <string_view>

namespace lovar {

// Why a port could not be used. The serial component itself never shows these; its callers do,
// through ErrorText(), so the command line and the windows say the same thing.
enum class LinkError {
  None,          // no error
  NoSuchPort,    // the name names no device
  PortBusy,      // another program holds the port
  AccessDenied,  // the user may not open the device
  NotSerial,     // the name is not a port name on this platform, or the device is not a serial port
  HungUp,        // the line was hung up, the adapter unplugged or the connection closed while open
  Io,            // any other failure of the operating system
  // A network port (socket://HOST:PORT, rfc2217://HOST:PORT):
  BadAddress,          // the name begins like a network port but is not one
  HostNotFound,        // the host name does not resolve
  ConnectionRefused,   // nothing listens there, or the server turned the connection away
  HostUnreachable,     // no route to the host
  ConnectTimeout,      // the connection was not made in time
  ServerClosed,        // the server closed the connection before the port was open
  NoNegotiation,       // the server never answered the COM port negotiation
  NegotiationRefused,  // the server refused COM port control
};

// The one Russian text for each error, shared by the CLI and the windows.
std::string_view ErrorText(LinkError error);

}  // namespace lovar
