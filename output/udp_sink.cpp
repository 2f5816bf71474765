#include "udp_sink.h"

#include <QLoggingCategory>
#include <QVariant>

Q_LOGGING_CATEGORY(lcNetworkOutput, "luvrin.serial", QtWarningMsg)

namespace luvrin {

UdpSink::UdpSink(const QString& host, quint16 port, bool multicast)
    : address_(host), port_(port), multicast_(multicast) {}

bool UdpSink::open() {
  if (socket_.state() == QAbstractSocket::BoundState) return true;
  if (!socket_.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
    qCDebug(lcNetworkOutput) << "cannot make a UDP socket:" << socket_.errorString();
    return false;
  }
  if (multicast_) {
    // One hop: sACN stays on the lighting network, and a receiver on this machine hears it.
    socket_.setSocketOption(QAbstractSocket::MulticastTtlOption, QVariant(1));
    socket_.setSocketOption(QAbstractSocket::MulticastLoopbackOption, QVariant(1));
  }
  qCDebug(lcNetworkOutput) << "sending to" << address_.toString() << port_;
  return true;
}

bool UdpSink::send(std::span<const std::uint8_t> packet) {
  const auto size = static_cast<qint64>(packet.size());
  const qint64 written =
      socket_.writeDatagram(reinterpret_cast<const char*>(packet.data()), size, address_, port_);
  if (written != size) {
    // A network that is down now may be back at the next frame; the socket stays.
    qCDebug(lcNetworkOutput) << "datagram not sent:" << socket_.errorString();
    return false;
  }
  return true;
}

std::unique_ptr<DatagramSink> makeUdpSink(const QString& host, std::uint16_t port, bool multicast) {
  return std::make_unique<UdpSink>(host, port, multicast);
}

}  // namespace luvrin
