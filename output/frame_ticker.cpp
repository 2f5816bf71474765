#include "frame_ticker.h"

#include <algorithm>

namespace luvrin {

namespace {}

FrameTicker::FrameTicker(Scheduler& scheduler, int intervalMs, std::unique_ptr<Waker> periodic)
    : timer_(scheduler, std::max(0, intervalMs), periodic == nullptr),
      periodic_(std::move(periodic)) {
  timer_.onTimer = [this] {
    if (onTick) onTick();
  };
  if (periodic_) {
    periodic_->onWake = [this](std::uint64_t) {
      if (onTick) onTick();
    };
    arm();
  }
}

void FrameTicker::setInterval(int ms) {
  ms = std::max(0, ms);
  if (ms == timer_.interval()) return;
  // The Timer keeps the interval even while the waker does the ticking.
  timer_.setInterval(ms);
  if (periodic_) arm();
}

void FrameTicker::arm() {
  const std::int64_t periodNs = timer_.interval() * kNsPerMs;
  if (periodNs == 0) {
    periodic_->disarm();
    return;
  }
  periodic_->arm(periodNs, periodNs);
}

}  // namespace luvrin
