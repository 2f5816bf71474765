#include "udp_sink.h"

#include <QVariant>

#include "log_categories.h"

namespace luvrin {

UdpSink::UdpSink(bool multicast) : multicast_(multicast) {}

bool UdpSink::open() {
  if (socket_.state() == QAbstractSocket::BoundState) return true;
  if (!socket_.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
    qCDebug(lcNet) << "cannot make a UDP socket:" << socket_.errorString();
    return false;
  }
  if (multicast_) {
    // One hop: sACN stays on the lighting network, and a receiver on this machine hears it.
    socket_.setSocketOption(QAbstractSocket::MulticastTtlOption, QVariant(1));
    socket_.setSocketOption(QAbstractSocket::MulticastLoopbackOption, QVariant(1));
  }
  return true;
}

const QHostAddress& UdpSink::address(std::uint32_t ipv4) {
  auto it = addresses_.find(ipv4);
  if (it == addresses_.end()) {
    it = addresses_.emplace(ipv4, QHostAddress(ipv4)).first;
    qCDebug(lcNet) << "sending to" << it->second.toString();
  }
  return it->second;
}

bool UdpSink::send(std::span<const std::uint8_t> packet, const Destination& to) {
  const auto size = static_cast<qint64>(packet.size());
  const qint64 written = socket_.writeDatagram(reinterpret_cast<const char*>(packet.data()), size,
                                               address(to.ipv4), to.port);
  if (written != size) {
    // A network that is down now may be back at the next frame; the socket stays.
    qCDebug(lcNet) << "datagram not sent:" << socket_.errorString();
    return false;
  }
  return true;
}

std::unique_ptr<DatagramSink> makeUdpSink(bool multicast) {
  return std::make_unique<UdpSink>(multicast);
}

}  // namespace luvrin
