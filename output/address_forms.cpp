#include "address_forms.h"

#include <QStringList>

#include "artnet_packet.h"
#include "e131_packet.h"
#include "platform.h"

namespace luvrin {

namespace {

constexpr QStringView kOla = u"ola:";
constexpr QStringView kSacn = u"sacn:";
constexpr QStringView kArtNet = u"artnet:";
constexpr QStringView kUsbPro = u"usbpro:";

// Digits only, so that "+1", " 1" or "0x10" never pass for a number.
std::optional<std::uint64_t> digits(QStringView s, int maxDigits) {
  if (s.isEmpty() || s.size() > maxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (QChar c : s) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
  }
  return value;
}

// A dotted IPv4 address of four decimal numbers. Names are refused: looking one up could hold
// the driver up at start-up, and a show should not depend on a name service.
std::optional<QString> ipv4(QStringView s) {
  const auto parts = s.split(u'.');
  if (parts.size() != 4) return std::nullopt;
  QStringList normal;
  for (QStringView part : parts) {
    const auto n = digits(part, 3);
    if (!n || *n > 255) return std::nullopt;
    normal << QString::number(*n);
  }
  QString address = normal.join(u'.');
  if (address == u"0.0.0.0") return std::nullopt;
  return address;
}

struct Endpoint {
  QString host;
  std::optional<std::uint16_t> port;
  // Set when the port after ":" was what was wrong, so the user is told about the right part.
  bool badPort = false;
};

std::optional<Endpoint> endpoint(QStringView s, bool* badPort = nullptr) {
  Endpoint e;
  QStringView host = s;
  if (const auto colon = s.indexOf(u':'); colon >= 0) {
    const auto port = digits(s.mid(colon + 1), 5);
    if (!port || *port < 1 || *port > 65535) {
      if (badPort != nullptr) *badPort = true;
      return std::nullopt;
    }
    e.port = static_cast<std::uint16_t>(*port);
    host = s.left(colon);
  }
  auto address = ipv4(host);
  if (!address) return std::nullopt;
  e.host = *address;
  return e;
}

QString badPortWhy() {
  return QStringLiteral(
      "\":\" 后的 UDP 端口应为 1 到 65535 / the UDP port after \":\" is 1 to 65535");
}

ParsedOutputAddress refuse(QStringView text, const QString& why) {
  return {std::nullopt, QStringLiteral("端口 \"%1\": %2").arg(text, why)};
}

ParsedOutputAddress parseOla(QStringView text, QStringView rest) {
  const auto at = rest.indexOf(u'@');
  const auto universe = digits(at < 0 ? rest : rest.left(at), 10);
  if (!universe || *universe > 0xFFFFFFFFu)
    return refuse(
        text, QStringLiteral("olad 的宇宙应为整数, 如 ola:1 / an OLA universe is a whole number"));
  OutputAddress a{OutputAddress::Kind::Ola, static_cast<std::uint32_t>(*universe),
                  QStringLiteral("127.0.0.1"), kOlaDefaultRpcPort, false};
  if (at >= 0) {
    QString where = rest.mid(at + 1).toString();
    // "localhost" is the one name taken, as it needs no look-up.
    if (where == u"localhost" || where.startsWith(u"localhost:"))
      where.replace(0, 9, QStringLiteral("127.0.0.1"));
    const auto e = endpoint(where);
    if (!e)
      return refuse(text,
                    QStringLiteral("olad 的地址应为 地址:端口, 如 ola:1@127.0.0.1:9010 / the RPC "
                                   "address is host:port"));
    if (e->host != u"127.0.0.1")
      return refuse(
          text,
          QStringLiteral("只能连接本机的 olad (127.0.0.1) / olad is reached on this machine only"));
    a.host = e->host;
    if (e->port) a.port = *e->port;
  }
  return {a, {}};
}

ParsedOutputAddress parseSacn(QStringView text, QStringView rest) {
  const auto at = rest.indexOf(u'@');
  const auto universe = digits(at < 0 ? rest : rest.left(at), 5);
  if (!universe || *universe < e131::kMinUniverse || *universe > e131::kMaxUniverse)
    return refuse(text,
                  QStringLiteral("sACN 宇宙应为 1 到 63999 / an sACN universe is 1 to 63999"));
  OutputAddress a{
      OutputAddress::Kind::Sacn, static_cast<std::uint32_t>(*universe), {}, e131::kPort, false};
  if (at < 0) {
    const auto group = e131::multicastGroup(static_cast<std::uint16_t>(*universe));
    a.host = QStringLiteral("%1.%2.%3.%4").arg(group[0]).arg(group[1]).arg(group[2]).arg(group[3]);
    a.multicast = true;
    return {a, {}};
  }
  bool badPort = false;
  const auto e = endpoint(rest.mid(at + 1), &badPort);
  if (!e)
    return refuse(text, badPort ? badPortWhy()
                                : QStringLiteral("地址应为 IPv4 地址, 如 sacn:1@192.168.1.20 / "
                                                 "the address must be an IPv4 address"));
  a.host = e->host;
  if (e->port) a.port = *e->port;
  return {a, {}};
}

ParsedOutputAddress parseArtNet(QStringView text, QStringView rest) {
  const auto at = rest.indexOf(u'@');
  const auto universe = digits(at < 0 ? rest : rest.left(at), 5);
  if (!universe || *universe > artnet::kMaxPortAddress)
    return refuse(
        text,
        QStringLiteral("Art-Net 端口地址应为 0 到 32767 / an Art-Net port-address is 0 to 32767"));
  if (at < 0)
    return refuse(
        text, QStringLiteral(
                  "Art-Net 需要目的地址, 如 artnet:0@2.255.255.255 / Art-Net needs an address"));
  bool badPort = false;
  const auto e = endpoint(rest.mid(at + 1), &badPort);
  if (!e)
    return refuse(text, badPort ? badPortWhy()
                                : QStringLiteral("地址应为 IPv4 地址, 如 artnet:0@2.255.255.255 / "
                                                 "the address must be an IPv4 address"));
  OutputAddress a{OutputAddress::Kind::ArtNet, static_cast<std::uint32_t>(*universe), e->host,
                  e->port.value_or(artnet::kPort), false};
  return {a, {}};
}

}  // namespace

bool isOutputAddress(QStringView text) {
  return text.startsWith(kOla, Qt::CaseInsensitive) ||
         text.startsWith(kSacn, Qt::CaseInsensitive) ||
         text.startsWith(kArtNet, Qt::CaseInsensitive);
}

ParsedOutputAddress parseOutputAddress(QStringView text) {
  if (text.startsWith(kOla, Qt::CaseInsensitive)) return parseOla(text, text.mid(kOla.size()));
  if (text.startsWith(kSacn, Qt::CaseInsensitive)) return parseSacn(text, text.mid(kSacn.size()));
  if (text.startsWith(kArtNet, Qt::CaseInsensitive))
    return parseArtNet(text, text.mid(kArtNet.size()));
  return refuse(
      text,
      QStringLiteral("不是输出 (ola:宇宙、sacn:宇宙 或 artnet:端口地址@地址) / not an output"));
}

std::optional<int> comPortNumber(QStringView text) {
  if (!text.startsWith(u"COM", Qt::CaseInsensitive)) return std::nullopt;
  const auto n = digits(text.mid(3), 3);
  if (!n || *n < 1 || *n > kMaxSerialPortNumber) return std::nullopt;
  return static_cast<int>(*n);
}

bool isUsbProAddress(QStringView text) { return text.startsWith(kUsbPro, Qt::CaseInsensitive); }

ParsedUsbProAddress parseUsbProAddress(QStringView text) {
  const QStringView rest = isUsbProAddress(text) ? text.mid(kUsbPro.size()) : QStringView();
  // The same device paths the serial box takes: absolute, used as they stand.
  if (rest.size() > 1 && rest.startsWith(u'/')) return {UsbProAddress{0, rest.toString()}, {}};
  if (const auto n = digits(rest, 3); n && *n >= 1 && *n <= kMaxSerialPortNumber)
    return {UsbProAddress{static_cast<int>(*n), {}}, {}};
  if (const auto n = comPortNumber(rest)) return {UsbProAddress{*n, {}}, {}};
  return {std::nullopt,
          QStringLiteral("端口 \"%1\": USB Pro 的端口应为数字 (1 到 %2)、COMn 或设备的绝对路径, "
                         "如 usbpro:1 或 usbpro:%3 / not a USB Pro widget's port")
              .arg(text)
              .arg(kMaxSerialPortNumber)
              .arg(platform::windowsConventions() ? QStringLiteral("COM5")
                                                  : QStringLiteral("/dev/ttyUSB0"))};
}

}  // namespace luvrin
