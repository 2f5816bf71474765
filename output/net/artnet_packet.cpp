#include "artnet_packet.h"

#include <algorithm>
#include <array>

namespace luvrin::artnet {

namespace {

constexpr std::array<std::uint8_t, 8> kId = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr std::uint16_t kOpDmx = 0x5000;
constexpr std::uint16_t kProtocolVersion = 14;

}  // namespace

std::vector<std::uint8_t> buildDmxPacket(std::uint16_t portAddress, std::uint8_t sequence,
                                         std::span<const std::uint8_t> levels,
                                         std::uint8_t physical) {
  const std::size_t slots = std::min(levels.size(), kUniverseSlots);
  const std::size_t length = std::max<std::size_t>(2, slots + (slots & 1));
  std::vector<std::uint8_t> p(kHeaderBytes + length, 0);
  std::copy(kId.begin(), kId.end(), p.begin());
  p[8] = static_cast<std::uint8_t>(kOpDmx & 0xFF);  // the op code alone is little-endian
  p[9] = static_cast<std::uint8_t>(kOpDmx >> 8);
  p[10] = static_cast<std::uint8_t>(kProtocolVersion >> 8);
  p[11] = static_cast<std::uint8_t>(kProtocolVersion & 0xFF);
  p[kSequenceAt] = sequence;
  p[13] = physical;
  p[14] = static_cast<std::uint8_t>(portAddress & 0xFF);         // sub-net and universe
  p[15] = static_cast<std::uint8_t>((portAddress >> 8) & 0x7F);  // net
  p[16] = static_cast<std::uint8_t>(length >> 8);
  p[17] = static_cast<std::uint8_t>(length & 0xFF);
  std::copy_n(levels.begin(), slots, p.begin() + kHeaderBytes);
  return p;
}

std::optional<DmxPacket> parseDmxPacket(std::span<const std::uint8_t> p) {
  if (p.size() < kHeaderBytes + 2) return std::nullopt;
  if (!std::equal(kId.begin(), kId.end(), p.begin())) return std::nullopt;
  if ((p[8] | p[9] << 8) != kOpDmx) return std::nullopt;
  if ((p[10] << 8 | p[11]) < kProtocolVersion) return std::nullopt;
  const std::size_t length = static_cast<std::size_t>(p[16] << 8 | p[17]);
  if (length < 2 || length > kUniverseSlots || length % 2 != 0 || p.size() < kHeaderBytes + length)
    return std::nullopt;
  DmxPacket d;
  d.sequence = p[kSequenceAt];
  d.physical = p[13];
  d.portAddress = static_cast<std::uint16_t>((p[15] & 0x7F) << 8 | p[14]);
  d.levels.assign(p.begin() + kHeaderBytes, p.begin() + kHeaderBytes + length);
  return d;
}

}  // namespace luvrin::artnet
