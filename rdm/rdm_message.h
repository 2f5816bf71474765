#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

#include "uid.h"

namespace luvrin::rdm {

constexpr std::uint8_t kStartCode = 0xCC;
constexpr std::uint8_t kSubStartCode = 0x01;
// Start code to the end of the parameter data; the checksum's two bytes follow.
constexpr int kHeaderBytes = 24;
constexpr int kMaxParameterData = 231;
constexpr std::uint16_t kRootDevice = 0;
constexpr std::uint16_t kAllSubDevices = 0xFFFF;

enum class CommandClass : std::uint8_t {
  Discovery = 0x10,
  DiscoveryResponse = 0x11,
  Get = 0x20,
  GetResponse = 0x21,
  Set = 0x30,
  SetResponse = 0x31,
};

enum class ResponseType : std::uint8_t { Ack = 0, AckTimer = 1, NackReason = 2, AckOverflow = 3 };

struct Request {
  Uid destination;
  Uid source;
  std::uint8_t transaction = 0;
  std::uint8_t port = 1;
  std::uint16_t subDevice = kRootDevice;
  CommandClass commandClass = CommandClass::Get;
  std::uint16_t pid = 0;
  QByteArray data;
  bool operator==(const Request&) const = default;
};

struct Response {
  Uid destination;
  Uid source;
  std::uint8_t transaction = 0;
  ResponseType type = ResponseType::Ack;
  std::uint8_t messageCount = 0;
  std::uint16_t subDevice = kRootDevice;
  CommandClass commandClass = CommandClass::GetResponse;
  std::uint16_t pid = 0;
  QByteArray data;
  bool operator==(const Response&) const = default;
};

// The whole packet from the start code to the checksum. Data beyond kMaxParameterData is cut.
QByteArray encode(const Request& request);
QByteArray encode(const Response& response);
std::uint16_t checksum(QByteArrayView bytes);

// A packet that came back, checked against what was sent. Anything wrong with it (start codes,
// length, checksum, a different transaction, source, destination, command class or parameter)
// makes it damaged: it is then a collision or an error, never a device's answer.
struct Decoded {
  std::optional<Response> response;
  QString damage;  // why it was refused, in English, for the log
};
Decoded decodeResponse(QByteArrayView bytes, const Request& sent);
// A packet on its own, without a request to check it against (a responder's view).
std::optional<Request> decodeRequest(QByteArrayView bytes);

// The answer to DISC_UNIQUE_BRANCH: up to 7 x 0xFE, 0xAA, then the UID and its checksum with
// each byte sent twice, once ORed with 0xAA and once with 0x55, so that a line where several
// devices talk at once shows up as damage.
QByteArray encodeDiscoveryAnswer(Uid uid, int preamble = 7);
std::optional<Uid> decodeDiscoveryAnswer(QByteArrayView bytes);
// The 12 bytes of a DISC_UNIQUE_BRANCH request: lowest and highest UID of the branch.
QByteArray branchData(std::uint64_t lower, std::uint64_t upper);

// A NACK reason in words for the user, with its standard name after them.
QString nackText(std::uint16_t reason);

// Big-endian fields of parameter data.
inline std::uint16_t be16(QByteArrayView b, qsizetype at) {
  return static_cast<std::uint16_t>(std::uint8_t(b[at]) << 8 | std::uint8_t(b[at + 1]));
}
inline std::uint32_t be32(QByteArrayView b, qsizetype at) {
  return std::uint32_t{be16(b, at)} << 16 | be16(b, at + 2);
}
void putBe16(QByteArray& out, std::uint16_t v);
void putBe32(QByteArray& out, std::uint32_t v);
void putUid(QByteArray& out, Uid uid);
Uid uidAt(QByteArrayView b, qsizetype at);

}  // namespace luvrin::rdm
