#pragma once

#include <QHostAddress>
#include <QUdpSocket>
#include <unordered_map>

#include "network_output.h"

namespace luvrin {

// Datagrams to any address over Qt Network, from one socket.
class UdpSink final : public DatagramSink {
 public:
  explicit UdpSink(bool multicast);
  bool open() override;
  bool send(std::span<const std::uint8_t> packet, const Destination& to) override;

 private:
  const QHostAddress& address(std::uint32_t ipv4);

  QUdpSocket socket_;
  bool multicast_;
  // Each address made once: an output sends to the same few (one group per sACN universe) 44
  // times a second.
  std::unordered_map<std::uint32_t, QHostAddress> addresses_;
};

}  // namespace luvrin
