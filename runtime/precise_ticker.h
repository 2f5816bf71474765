#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "clock.h"
#include "waker.h"

namespace luvrin {

// Ticks at a fixed phase of every period of the clock. Several periods that passed while the
// thread was busy still make one tick: the scheduler decides what a late tick means, and a burst
// would only send stale frames.
class PreciseTicker {
 public:
  PreciseTicker(const Clock& clock, std::unique_ptr<Waker> waker);
  PreciseTicker(const PreciseTicker&) = delete;
  PreciseTicker& operator=(const PreciseTicker&) = delete;

  // First tick phaseNs into the clock's next period, then one every periodNs.
  void start(std::int64_t periodNs, std::int64_t phaseNs);
  void stop();
  bool active() const { return active_; }

  std::function<void()> onTick;

 private:
  const Clock& clock_;
  std::unique_ptr<Waker> waker_;
  bool active_ = false;
};

}  // namespace luvrin
