#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace luvrin {

// Where the levels go when 端口 names an engine or a network protocol instead of a serial port:
//   ola:U[@host[:port]]       universe U of olad (its RPC port; olad on this machine)
//   sacn:U[@address[:port]]   E1.31 universe U, multicast to its group or sent to one address
//   artnet:U@address[:port]   Art-Net port-address U, to one address (a broadcast one allowed)
struct OutputAddress {
  enum class Kind { Ola, Sacn, ArtNet };

  Kind kind = Kind::Sacn;
  std::uint32_t universe = 0;
  // Dotted IPv4 address the packets go to (the RPC host for olad).
  QString host;
  std::uint16_t port = 0;
  bool multicast = false;

  bool operator==(const OutputAddress&) const = default;
};

struct ParsedOutputAddress {
  std::optional<OutputAddress> address;
  // Why the value was refused: one line, meant for the user.
  QString error;
};

constexpr std::uint16_t kOlaDefaultRpcPort = 9010;

// usbpro:P, a USB Pro widget on serial port P, which is what 端口 takes for a serial port: a
// number (COMn on Windows; /dev/ttyUSB(n-1), else /dev/ttyS(n-1), on Linux) or an absolute
// device path.
struct UsbProAddress {
  int portNumber = 0;  // 0 when the port is a device path
  QString portDevice;

  bool operator==(const UsbProAddress&) const = default;
};

struct ParsedUsbProAddress {
  std::optional<UsbProAddress> address;
  // Why the value was refused: one line, meant for the user.
  QString error;
};

constexpr int kMaxSerialPortNumber = 256;

}  // namespace luvrin
