#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "universe_split.h"

// Art-Net ArtDmx packets (protocol revision 14).
namespace luvrin::artnet {

constexpr std::uint16_t kPort = 6454;
constexpr std::uint16_t kMaxPortAddress = 32767;
constexpr std::size_t kHeaderBytes = 18;
// Where the sequence number sits, for a packet built once and sent again with new levels.
constexpr std::size_t kSequenceAt = 12;

// Levels channel 1 first, at most 512; the data field is padded with a 0 to an even length of
// at least 2, as receivers require. Sequence 0 tells receivers not to reorder.
std::vector<std::uint8_t> buildDmxPacket(std::uint16_t portAddress, std::uint8_t sequence,
                                         std::span<const std::uint8_t> levels,
                                         std::uint8_t physical = 0);

struct DmxPacket {
  std::uint8_t sequence = 0;
  std::uint8_t physical = 0;
  std::uint16_t portAddress = 0;
  std::vector<std::uint8_t> levels;
};

std::optional<DmxPacket> parseDmxPacket(std::span<const std::uint8_t> bytes);

// The sequence after s: 1 to 255, never 0, which would switch reordering off.
constexpr std::uint8_t nextSequence(std::uint8_t s) {
  return s == 255 ? std::uint8_t{1} : static_cast<std::uint8_t>(s + 1);
}

}  // namespace luvrin::artnet
