#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include "artnet_packet.h"
#include "artnet_rdm.h"
#include "log_categories.h"

namespace luvrin {

namespace {

// Nodes answer on Art-Net's own port, to this machine's address or to the network's broadcast
// address: the socket is bound to that port on every interface, shared with any other Art-Net
// program here, and sends from it too.
class ArtNetPort final : public DatagramPort {
 public:
  ArtNetPort() {
    QObject::connect(&socket_, &QUdpSocket::readyRead, [this] { readAll(); });
  }

  bool open() override {
    if (socket_.state() == QAbstractSocket::BoundState) return true;
    if (!socket_.bind(QHostAddress(QHostAddress::AnyIPv4), artnet::kPort,
                      QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
      qCWarning(lcNet) << "cannot listen on Art-Net's port:" << socket_.errorString();
      return false;
    }
    return true;
  }

  bool send(std::span<const std::uint8_t> packet, const Destination& to) override {
    const auto size = static_cast<qint64>(packet.size());
    return socket_.writeDatagram(reinterpret_cast<const char*>(packet.data()), size,
                                 QHostAddress(to.ipv4), to.port) == size;
  }

 private:
  void readAll() {
    while (socket_.hasPendingDatagrams()) {
      const QNetworkDatagram d = socket_.receiveDatagram();
      const QByteArray bytes = d.data();
      if (!onReceived) continue;
      onReceived({reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                  static_cast<std::size_t>(bytes.size())},
                 d.senderAddress().toIPv4Address());
    }
  }

  QUdpSocket socket_;
};

}  // namespace

std::unique_ptr<DatagramPort> makeArtNetPort() { return std::make_unique<ArtNetPort>(); }

}  // namespace luvrin
