#pragma once

#include <QHostAddress>
#include <QUdpSocket>

#include "network_output.h"

namespace luvrin {

// Datagrams to one address and port over Qt Network.
class UdpSink final : public DatagramSink {
 public:
  UdpSink(const QString& host, quint16 port, bool multicast);
  bool open() override;
  bool send(std::span<const std::uint8_t> packet) override;

 private:
  QUdpSocket socket_;
  QHostAddress address_;
  quint16 port_;
  bool multicast_;
};

}  // namespace luvrin
