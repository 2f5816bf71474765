#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "universe_split.h"

// E1.31 (streaming DMX over ACN) data packets: the root, framing and DMP layers in one datagram.
namespace luvrin::e131 {

constexpr std::uint16_t kPort = 5568;
constexpr std::uint16_t kMinUniverse = 1;
constexpr std::uint16_t kMaxUniverse = 63999;
// Bytes before the first level: the layers' headers and the start code.
constexpr std::size_t kHeaderBytes = 126;
constexpr std::size_t kSourceNameBytes = 64;
// Where the sequence number sits, for a packet built once and sent again with new levels.
constexpr std::size_t kSequenceAt = 111;

using Cid = std::array<std::uint8_t, 16>;

struct Source {
  Cid cid{};
  // UTF-8; cut to 63 bytes so the field always ends in a NUL.
  std::string name;
  std::uint8_t priority = 100;
};

// A data packet with start code 0 and the levels given, channel 1 first; levels past 512 are
// not sent.
std::vector<std::uint8_t> buildDataPacket(const Source& source, std::uint16_t universe,
                                          std::uint8_t sequence,
                                          std::span<const std::uint8_t> levels);

struct DataPacket {
  Cid cid{};
  std::string sourceName;
  std::uint8_t priority = 0;
  std::uint8_t sequence = 0;
  std::uint8_t options = 0;
  std::uint16_t universe = 0;
  std::uint8_t startCode = 0;
  std::vector<std::uint8_t> levels;
};

// Reads a data packet; nullopt for anything else (a discovery packet, a wrong vector or length).
std::optional<DataPacket> parseDataPacket(std::span<const std::uint8_t> bytes);

// 239.255.(U >> 8).(U & 255), the group of universe U.
std::array<std::uint8_t, 4> multicastGroup(std::uint16_t universe);

}  // namespace luvrin::e131
