#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace luvrin {

// A frame longer than one DMX512 universe goes out as several: slots 1-512 (frame bytes 0-511)
// in the first universe, 513-1024 in the next, and so on, the last one carrying what is left.
constexpr std::size_t kUniverseSlots = 512;

// The universes a frame of N + 1 level bytes fills: those its N channels need, at least one. The
// frame's spare last byte rides along where it fits, but opens no universe of its own: with
// 发送数据长度 512 it would otherwise send a second universe of one level that intake never sets,
// and zero whatever another console drives there.
constexpr std::size_t universeCount(std::size_t frameBytes) {
  if (frameBytes <= 1) return 1;
  return (frameBytes - 1 + kUniverseSlots - 1) / kUniverseSlots;
}

// The levels of universe i (0: the first) of a frame; empty past the frame's end.
inline std::span<const std::uint8_t> universeLevels(std::span<const std::uint8_t> frame,
                                                    std::size_t i) {
  const std::size_t from = i * kUniverseSlots;
  if (from >= frame.size()) return {};
  return frame.subspan(from, std::min(kUniverseSlots, frame.size() - from));
}

}  // namespace luvrin
