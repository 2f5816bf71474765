#include "scheduler_pump.h"

#include <algorithm>

namespace luvrin {

namespace {
// Longest single sleep; the pump re-arms after it, so a clock that jumps is caught up with.
constexpr std::int64_t kLongestWaitMs = 60'000;
// Wakes come a third into the due millisecond: the wake-up's own delay then never carries them
// over the edge into the millisecond after.
constexpr std::int64_t kWakePhaseNs = kNsPerMs / 3;
}  // namespace

SchedulerPump::SchedulerPump(Scheduler& scheduler, const WakerFactory& wakers)
    : scheduler_(scheduler),
      soon_(wakers(WakerKind::Soon)),
      once_(wakers(WakerKind::Once)),
      ticker_(scheduler.clock(), wakers(WakerKind::Grid)) {
  soon_->onWake = [this](std::uint64_t) { onWake(); };
  once_->onWake = [this](std::uint64_t) { onWake(); };
  ticker_.onTick = [this] { onWake(); };
  scheduler_.onWorkScheduled = [this] {
    if (!running_) arm();
  };
  arm();
}

SchedulerPump::~SchedulerPump() { scheduler_.onWorkScheduled = nullptr; }

void SchedulerPump::arm() {
  if (scheduler_.hasReadyWork() && !soon_->armed()) soon_->arm(0, 0);
  const auto due = scheduler_.nextDue();
  if (!due) {
    once_->disarm();
    ticker_.stop();
    return;
  }
  const std::int64_t wait = std::max<std::int64_t>(0, *due - scheduler_.now());
  if (wait <= 1) {
    if (!ticker_.active()) ticker_.start(kNsPerMs, kWakePhaseNs);
    once_->disarm();
    return;
  }
  ticker_.stop();
  // Counted from now to the due millisecond's wake phase, not in whole milliseconds from now:
  // the part of a millisecond already gone would otherwise carry the wake into the next one.
  const std::int64_t waitNs = *due * kNsPerMs + kWakePhaseNs - scheduler_.clock().tickCountNs();
  once_->arm(std::clamp<std::int64_t>(waitNs, 0, kLongestWaitMs * kNsPerMs), 0);
}

void SchedulerPump::onWake() {
  running_ = true;
  scheduler_.runOnce();
  running_ = false;
  arm();
}

}  // namespace luvrin
