#include "usb_pro_message.h"

#include <algorithm>

namespace luvrin::usbpro {

namespace {

std::uint8_t byteAt(QByteArrayView bytes, qsizetype i) {
  return static_cast<std::uint8_t>(bytes[i]);
}

// Whole messages a time, so that a large read never makes the held bytes grow past two of them.
constexpr qsizetype kLongestMessage = kHeaderBytes + kMaxPayload + 1;

}  // namespace

QByteArray header(std::uint8_t label, qsizetype payloadBytes) {
  QByteArray h(kHeaderBytes, '\0');
  h[0] = static_cast<char>(kStart);
  h[1] = static_cast<char>(label);
  h[2] = static_cast<char>(payloadBytes & 0xFF);
  h[3] = static_cast<char>((payloadBytes >> 8) & 0xFF);
  return h;
}

QByteArray encode(std::uint8_t label, QByteArrayView payload) {
  QByteArray m = header(label, payload.size());
  m.append(payload);
  m.append(static_cast<char>(kEnd));
  return m;
}

std::size_t levelsSent(std::size_t levels) { return std::min(levels, kUniverseSlots); }

QByteArray dmxHeader(std::size_t levels) {
  QByteArray h = header(kSendDmx, 1 + static_cast<qsizetype>(levelsSent(levels)));
  h.append('\0');  // start code: dimmer levels
  return h;
}

std::optional<Parameters> parseParameters(QByteArrayView payload) {
  if (payload.size() < 5) return std::nullopt;
  return Parameters{byteAt(payload, 1), byteAt(payload, 0), byteAt(payload, 2), byteAt(payload, 3),
                    byteAt(payload, 4)};
}

std::optional<QString> parseSerialNumber(QByteArrayView payload) {
  if (payload.size() < 4) return std::nullopt;
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | byteAt(payload, i);
  bool bcd = true;
  for (std::uint32_t v = value; v != 0; v >>= 4) bcd = bcd && (v & 0xF) <= 9;
  if (bcd) return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
  return QString::number(value);
}

std::vector<Message> Decoder::feed(QByteArrayView bytes) {
  std::vector<Message> messages;
  while (!bytes.isEmpty()) {
    const qsizetype take = std::min(bytes.size(), kLongestMessage);
    held_.append(bytes.first(take));
    bytes = bytes.sliced(take);
    qsizetype pos = 0;
    const auto skipTo = [&](qsizetype to) {
      skipped_ += to - pos;
      pos = to;
    };
    for (;;) {
      const qsizetype start = held_.indexOf(static_cast<char>(kStart), pos);
      if (start < 0) {
        skipTo(held_.size());
        break;
      }
      skipTo(start);
      if (held_.size() - pos < kHeaderBytes) break;
      const qsizetype length = byteAt(held_, pos + 2) | (qsizetype{byteAt(held_, pos + 3)} << 8);
      // Not a message after all: this 0x7E was a byte of something else.
      if (length > kMaxPayload) {
        skipTo(pos + 1);
        continue;
      }
      const qsizetype total = kHeaderBytes + length + 1;
      if (held_.size() - pos < total) break;
      if (byteAt(held_, pos + total - 1) != kEnd) {
        skipTo(pos + 1);
        continue;
      }
      messages.push_back(Message{byteAt(held_, pos + 1), held_.mid(pos + kHeaderBytes, length)});
      pos += total;
    }
    held_.remove(0, pos);
  }
  return messages;
}

}  // namespace luvrin::usbpro
