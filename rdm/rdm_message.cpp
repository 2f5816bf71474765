#include "rdm_message.h"

#include <algorithm>

#include "pids.h"

namespace luvrin::rdm {

void putBe16(QByteArray& out, std::uint16_t v) {
  out.append(char(v >> 8));
  out.append(char(v & 0xFF));
}
void putBe32(QByteArray& out, std::uint32_t v) {
  putBe16(out, std::uint16_t(v >> 16));
  putBe16(out, std::uint16_t(v));
}
void putUid(QByteArray& out, Uid uid) {
  putBe16(out, uid.manufacturer);
  putBe32(out, uid.device);
}
Uid uidAt(QByteArrayView b, qsizetype at) { return {be16(b, at), be32(b, at + 2)}; }

std::uint16_t checksum(QByteArrayView bytes) {
  std::uint16_t sum = 0;
  for (char c : bytes) sum = std::uint16_t(sum + std::uint8_t(c));
  return sum;
}

namespace {

QByteArray packet(Uid destination, Uid source, std::uint8_t transaction, std::uint8_t portOrType,
                  std::uint8_t messageCount, std::uint16_t subDevice, CommandClass cc,
                  std::uint16_t pid, QByteArrayView data) {
  const QByteArrayView pd = data.first(std::min<qsizetype>(data.size(), kMaxParameterData));
  QByteArray out;
  out.reserve(kHeaderBytes + pd.size() + 2);
  out.append(char(kStartCode));
  out.append(char(kSubStartCode));
  out.append(char(kHeaderBytes + pd.size()));
  putUid(out, destination);
  putUid(out, source);
  out.append(char(transaction));
  out.append(char(portOrType));
  out.append(char(messageCount));
  putBe16(out, subDevice);
  out.append(char(cc));
  putBe16(out, pid);
  out.append(char(pd.size()));
  out.append(pd);
  putBe16(out, checksum(out));
  return out;
}

// The parts both directions share, or the reason they are refused.
struct Frame {
  Uid destination, source;
  std::uint8_t transaction, portOrType, messageCount;
  std::uint16_t subDevice;
  std::uint8_t commandClass;
  std::uint16_t pid;
  QByteArray data;
};

std::optional<Frame> frame(QByteArrayView b, QString* damage) {
  auto refuse = [&](const char* why) {
    if (damage) *damage = QString::fromLatin1(why);
    return std::nullopt;
  };
  if (b.size() < kHeaderBytes + 2) return refuse("shorter than a packet");
  if (std::uint8_t(b[0]) != kStartCode || std::uint8_t(b[1]) != kSubStartCode)
    return refuse("wrong start code");
  const int length = std::uint8_t(b[2]);
  const int dataLength = std::uint8_t(b[23]);
  if (length < kHeaderBytes || length != kHeaderBytes + dataLength)
    return refuse("length fields disagree");
  if (b.size() != length + 2) return refuse("wrong length");
  if (checksum(b.first(length)) != be16(b, length)) return refuse("bad checksum");
  return Frame{
      uidAt(b, 3),         uidAt(b, 9),         std::uint8_t(b[15]),
      std::uint8_t(b[16]), std::uint8_t(b[17]), be16(b, 18),
      std::uint8_t(b[20]), be16(b, 21),         b.sliced(kHeaderBytes, dataLength).toByteArray()};
}

}  // namespace

QByteArray encode(const Request& r) {
  return packet(r.destination, r.source, r.transaction, r.port, 0, r.subDevice, r.commandClass,
                r.pid, r.data);
}

QByteArray encode(const Response& r) {
  return packet(r.destination, r.source, r.transaction, std::uint8_t(r.type), r.messageCount,
                r.subDevice, r.commandClass, r.pid, r.data);
}

Decoded decodeResponse(QByteArrayView bytes, const Request& sent) {
  Decoded out;
  const auto f = frame(bytes, &out.damage);
  if (!f) return out;
  auto refuse = [&](const char* why) {
    out.damage = QString::fromLatin1(why);
    return out;
  };
  if (f->transaction != sent.transaction) return refuse("another transaction number");
  if (f->destination != sent.source) return refuse("addressed to another controller");
  if (!sent.destination.isBroadcast() && f->source != sent.destination)
    return refuse("from another device");
  if (f->commandClass != std::uint8_t(sent.commandClass) + 1) return refuse("wrong command class");
  if (f->portOrType > std::uint8_t(ResponseType::AckOverflow))
    return refuse("unknown response type");
  // A queued message answers with the parameter it holds.
  if (f->pid != sent.pid && sent.pid != kQueuedMessage) return refuse("another parameter");
  if (f->subDevice != sent.subDevice && sent.subDevice != kAllSubDevices &&
      sent.pid != kQueuedMessage)
    return refuse("another sub-device");
  const auto type = ResponseType(f->portOrType);
  if ((type == ResponseType::AckTimer || type == ResponseType::NackReason) && f->data.size() != 2)
    return refuse("timer or reason of the wrong size");
  out.response = Response{f->destination,
                          f->source,
                          f->transaction,
                          type,
                          f->messageCount,
                          f->subDevice,
                          CommandClass(f->commandClass),
                          f->pid,
                          f->data};
  return out;
}

std::optional<Request> decodeRequest(QByteArrayView bytes) {
  const auto f = frame(bytes, nullptr);
  if (!f) return std::nullopt;
  return Request{f->destination, f->source,    f->transaction,
                 f->portOrType,  f->subDevice, CommandClass(f->commandClass),
                 f->pid,         f->data};
}

QByteArray encodeDiscoveryAnswer(Uid uid, int preamble) {
  QByteArray raw;
  putUid(raw, uid);
  QByteArray out(std::clamp(preamble, 0, 7), char(0xFE));
  out.append(char(0xAA));
  QByteArray encoded;
  for (char c : raw) {
    encoded.append(char(std::uint8_t(c) | 0xAA));
    encoded.append(char(std::uint8_t(c) | 0x55));
  }
  const std::uint16_t sum = checksum(encoded);
  for (std::uint8_t c : {std::uint8_t(sum >> 8), std::uint8_t(sum)}) {
    encoded.append(char(c | 0xAA));
    encoded.append(char(c | 0x55));
  }
  return out + encoded;
}

std::optional<Uid> decodeDiscoveryAnswer(QByteArrayView bytes) {
  qsizetype at = 0;
  while (at < bytes.size() && at < 7 && std::uint8_t(bytes[at]) == 0xFE) ++at;
  if (at >= bytes.size() || std::uint8_t(bytes[at]) != 0xAA) return std::nullopt;
  const QByteArrayView encoded = bytes.sliced(at + 1);
  if (encoded.size() != 16) return std::nullopt;
  QByteArray decoded;
  for (int i = 0; i < 16; i += 2) {
    const std::uint8_t a = std::uint8_t(encoded[i]), b = std::uint8_t(encoded[i + 1]);
    // Each half carries its fixed bits; two devices at once clear some of them.
    if ((a & 0xAA) != 0xAA || (b & 0x55) != 0x55) return std::nullopt;
    decoded.append(char(a & b));
  }
  if (checksum(encoded.first(12)) != be16(decoded, 6)) return std::nullopt;
  return uidAt(decoded, 0);
}

QByteArray branchData(std::uint64_t lower, std::uint64_t upper) {
  QByteArray out;
  putUid(out, Uid::fromValue(lower));
  putUid(out, Uid::fromValue(upper));
  return out;
}

QString nackText(std::uint16_t reason) {
  struct Entry {
    std::uint16_t reason;
    const char* words;
    const char* name;
  };
  static constexpr Entry kTable[] = {
      {kUnknownPid, "设备不认识这项参数", "NR_UNKNOWN_PID"},
      {1, "数据格式不对", "NR_FORMAT_ERROR"},
      {2, "设备硬件故障", "NR_HARDWARE_FAULT"},
      {3, "代理设备拒绝", "NR_PROXY_REJECT"},
      {4, "这项参数被设为只读", "NR_WRITE_PROTECT"},
      {5, "设备不支持这种命令", "NR_UNSUPPORTED_COMMAND_CLASS"},
      {6, "数值超出范围", "NR_DATA_OUT_OF_RANGE"},
      {7, "设备缓冲区已满", "NR_BUFFER_FULL"},
      {8, "数据包太长", "NR_PACKET_SIZE_UNSUPPORTED"},
      {9, "没有这个子设备", "NR_SUB_DEVICE_OUT_OF_RANGE"},
      {10, "代理设备缓冲区已满", "NR_PROXY_BUFFER_FULL"},
  };
  for (const Entry& e : kTable)
    if (e.reason == reason)
      return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(e.words), QLatin1String(e.name));
  return QStringLiteral("设备拒绝, 原因 0x%1").arg(reason, 4, 16, QLatin1Char('0'));
}

}  // namespace luvrin::rdm
