#pragma once

#include <QString>
#include <cstdint>

#include "frame_output.h"
#include "universe_split.h"
#include "waker.h"

namespace luvrin {

// At most 44 packets a second, the refresh limit of a DMX512 line, which is what the receiving
// node drives. Packets are due on a fixed grid of 1/44 s, so a frame timer that ticks a little
// late does not lower the rate: a send less than one step behind its due time keeps the grid.
class PacketRate {
 public:
  static constexpr std::int64_t kPerSecond = 44;

  bool ready(std::int64_t nowNs) const { return !started_ || nowNs * kPerSecond >= nextDue_; }
  // Nanoseconds until ready() holds; 0 when it holds now.
  std::int64_t nsUntilReady(std::int64_t nowNs) const {
    return ready(nowNs) ? 0 : (nextDue_ - nowNs * kPerSecond + kPerSecond - 1) / kPerSecond;
  }
  void sent(std::int64_t nowNs);

 private:
  static constexpr std::int64_t kSecondNs = 1'000'000'000;
  bool started_ = false;
  // Due time of the next packet in units of 1/44 ns, so the grid never drifts by rounding.
  std::int64_t nextDue_ = 0;
};

// Whole milliseconds to wait for ns to pass: never short, so a timer set to it is never early.
constexpr std::int64_t wholeMsAfter(std::int64_t ns) { return (ns + kNsPerMs - 1) / kNsPerMs; }

// "7" or "7-9": the universes an output sends, for its status.
QString universeRange(std::uint64_t first, std::uint64_t last);

// The status of an interface that could not be opened and is tried again every second.
QString cannotOpenRetrying(const QString& name);

// What an interface said about itself, in the words of its status line ("固件 1.44, 序列号 ..."),
// or why it tells nothing.
QString describeInterface(const InterfaceAbout& about);

}  // namespace luvrin
