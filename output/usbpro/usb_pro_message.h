#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "universe_split.h"

namespace luvrin::usbpro {

// A USB Pro message: 0x7E, label, payload length (LSB, MSB), payload, 0xE7. The length alone
// says where the payload ends, so payload bytes may be 0x7E or 0xE7.
constexpr std::uint8_t kStart = 0x7E;
constexpr std::uint8_t kEnd = 0xE7;
constexpr qsizetype kHeaderBytes = 4;
// The longest payload a widget takes or sends: a start code, 512 slots and room for the
// parameter reply's user configuration.
constexpr qsizetype kMaxPayload = 600;

enum Label : std::uint8_t {
  kGetParameters = 3,  // ask: user configuration size (2 bytes); reply: the widget's parameters
  kReceived = 5,       // from the widget: a status byte, then what the line brought
  kSendDmx = 6,        // "output only send DMX": start code, then the slots
  kRdmRequest = 7,     // an RDM packet for the line; the answer comes as kReceived or kRdmTimeout
  kGetSerialNumber = 10,
  kRdmDiscovery = 11,  // a DISC_UNIQUE_BRANCH, answered with the raw bytes heard
  kRdmTimeout = 12,    // nothing came back, or not all of an answer
};

struct Message {
  std::uint8_t label = 0;
  QByteArray payload;
  bool operator==(const Message&) const = default;
};

// The bytes before a payload of this many bytes.
QByteArray header(std::uint8_t label, qsizetype payloadBytes);
QByteArray encode(std::uint8_t label, QByteArrayView payload);
// The header of a send-DMX message for these levels, start code 0 included: followed by the
// first levelsSent(count) levels and kEnd, it is the whole message.
QByteArray dmxHeader(std::size_t levels);
std::size_t levelsSent(std::size_t levels);

// What the widget says about itself in its reply to kGetParameters. Times are in the widget's
// units: 10.67 us for the break and the mark after break, packets a second for the refresh rate.
struct Parameters {
  int firmwareMajor = 0;
  int firmwareMinor = 0;
  int breakTime = 0;
  int markAfterBreakTime = 0;
  int refreshRate = 0;
  bool operator==(const Parameters&) const = default;
};
std::optional<Parameters> parseParameters(QByteArrayView payload);
// The reply to kGetSerialNumber: 4 bytes, little endian, nearly always BCD digits, shown as such
// ("12345678"); a number that is not BCD is shown in decimal.
std::optional<QString> parseSerialNumber(QByteArrayView payload);

// Takes the messages out of a byte stream that arrives in pieces of any size. Bytes that do not
// make a whole message (noise, a message cut short by a replug, a wrong length or end byte) are
// skipped: decoding starts again at the next 0x7E after the start of the broken one. At most
// one longest message is held between calls.
class Decoder {
 public:
  std::vector<Message> feed(QByteArrayView bytes);
  qsizetype heldBytes() const { return held_.size(); }
  // Bytes skipped because they did not belong to a whole message.
  std::int64_t skippedBytes() const { return skipped_; }

 private:
  QByteArray held_;
  std::int64_t skipped_ = 0;
};

}  // namespace luvrin::usbpro
