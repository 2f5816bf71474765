#include "precise_ticker.h"

#include <algorithm>

namespace luvrin {

PreciseTicker::PreciseTicker(const Clock& clock, std::unique_ptr<Waker> waker)
    : clock_(clock), waker_(std::move(waker)) {
  waker_->onWake = [this](std::uint64_t expirations) {
    if (active_ && expirations > 0 && onTick) onTick();
  };
}

void PreciseTicker::start(std::int64_t periodNs, std::int64_t phaseNs) {
  periodNs = std::max<std::int64_t>(1, periodNs);
  const std::int64_t now = clock_.tickCountNs();
  const std::int64_t first = (now / periodNs + 1) * periodNs + phaseNs - now;
  active_ = true;
  waker_->arm(std::max<std::int64_t>(1, first), periodNs);
}

void PreciseTicker::stop() {
  active_ = false;
  waker_->disarm();
}

}  // namespace luvrin
