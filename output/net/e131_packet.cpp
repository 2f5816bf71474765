#include "e131_packet.h"

#include <algorithm>
#include <cstring>

namespace luvrin::e131 {

namespace {

constexpr std::array<std::uint8_t, 12> kAcnIdentifier = {'A', 'S', 'C', '-', 'E', '1',
                                                         '.', '1', '7', 0,   0,   0};
constexpr std::uint32_t kVectorRootData = 0x00000004;
constexpr std::uint32_t kVectorFramingData = 0x00000002;
constexpr std::uint8_t kVectorDmpSetProperty = 0x02;
constexpr std::uint8_t kDmpAddressAndDataType = 0xA1;

// Where each layer starts; its flags-and-length field counts from there to the end.
constexpr std::size_t kRootPdu = 16;
constexpr std::size_t kFramingPdu = 38;
constexpr std::size_t kDmpPdu = 115;

void put16(std::vector<std::uint8_t>& p, std::size_t at, std::uint16_t v) {
  p[at] = static_cast<std::uint8_t>(v >> 8);
  p[at + 1] = static_cast<std::uint8_t>(v);
}

void put32(std::vector<std::uint8_t>& p, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::uint16_t get16(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] << 8 | p[at + 1]);
}

std::uint32_t get32(std::span<const std::uint8_t> p, std::size_t at) {
  return std::uint32_t{p[at]} << 24 | std::uint32_t{p[at + 1]} << 16 |
         std::uint32_t{p[at + 2]} << 8 | p[at + 3];
}

std::uint16_t flagsAndLength(std::size_t total, std::size_t from) {
  return static_cast<std::uint16_t>(0x7000 | (total - from));
}

}  // namespace

std::vector<std::uint8_t> buildDataPacket(const Source& source, std::uint16_t universe,
                                          std::uint8_t sequence,
                                          std::span<const std::uint8_t> levels) {
  const std::size_t slots = std::min(levels.size(), kUniverseSlots);
  const std::size_t total = kHeaderBytes + slots;
  std::vector<std::uint8_t> p(total, 0);

  put16(p, 0, 0x0010);  // preamble size
  put16(p, 2, 0x0000);  // post-amble size
  std::copy(kAcnIdentifier.begin(), kAcnIdentifier.end(), p.begin() + 4);
  put16(p, kRootPdu, flagsAndLength(total, kRootPdu));
  put32(p, 18, kVectorRootData);
  std::copy(source.cid.begin(), source.cid.end(), p.begin() + 22);

  put16(p, kFramingPdu, flagsAndLength(total, kFramingPdu));
  put32(p, 40, kVectorFramingData);
  const std::size_t nameBytes = std::min(source.name.size(), kSourceNameBytes - 1);
  std::memcpy(p.data() + 44, source.name.data(), nameBytes);
  p[108] = source.priority;
  put16(p, 109, 0);  // synchronization address: none
  p[kSequenceAt] = sequence;
  p[112] = 0;  // options: not a preview, not terminated
  put16(p, 113, universe);

  put16(p, kDmpPdu, flagsAndLength(total, kDmpPdu));
  p[117] = kVectorDmpSetProperty;
  p[118] = kDmpAddressAndDataType;
  put16(p, 119, 0x0000);  // first property address
  put16(p, 121, 0x0001);  // address increment
  put16(p, 123, static_cast<std::uint16_t>(slots + 1));
  p[125] = 0;  // start code: levels
  std::copy_n(levels.begin(), slots, p.begin() + kHeaderBytes);
  return p;
}

std::optional<DataPacket> parseDataPacket(std::span<const std::uint8_t> p) {
  if (p.size() < kHeaderBytes || p.size() > kHeaderBytes + kUniverseSlots) return std::nullopt;
  if (get16(p, 0) != 0x0010 || get16(p, 2) != 0) return std::nullopt;
  if (!std::equal(kAcnIdentifier.begin(), kAcnIdentifier.end(), p.begin() + 4)) return std::nullopt;
  if (get16(p, kRootPdu) != flagsAndLength(p.size(), kRootPdu) || get32(p, 18) != kVectorRootData ||
      get16(p, kFramingPdu) != flagsAndLength(p.size(), kFramingPdu) ||
      get32(p, 40) != kVectorFramingData ||
      get16(p, kDmpPdu) != flagsAndLength(p.size(), kDmpPdu) || p[117] != kVectorDmpSetProperty ||
      p[118] != kDmpAddressAndDataType || get16(p, 123) != p.size() - kHeaderBytes + 1)
    return std::nullopt;

  DataPacket d;
  std::copy_n(p.begin() + 22, d.cid.size(), d.cid.begin());
  const auto name = p.subspan(44, kSourceNameBytes);
  const auto end = std::find(name.begin(), name.end(), std::uint8_t{0});
  d.sourceName.assign(name.begin(), end);
  d.priority = p[108];
  d.sequence = p[kSequenceAt];
  d.options = p[112];
  d.universe = get16(p, 113);
  d.startCode = p[125];
  d.levels.assign(p.begin() + kHeaderBytes, p.end());
  return d;
}

std::array<std::uint8_t, 4> multicastGroup(std::uint16_t universe) {
  return {239, 255, static_cast<std::uint8_t>(universe >> 8),
          static_cast<std::uint8_t>(universe & 0xFF)};
}

}  // namespace luvrin::e131
