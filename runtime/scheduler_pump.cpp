#include "scheduler_pump.h"

#include <algorithm>

namespace luvrin {

SchedulerPump::SchedulerPump(Scheduler& scheduler, QObject* parent)
    : QObject(parent), scheduler_(scheduler) {
  tick_.setTimerType(Qt::PreciseTimer);
  tick_.setSingleShot(true);
  kick_.setSingleShot(true);
  connect(&ticker_, &PreciseTicker::timeout, this, &SchedulerPump::onTimeout);
  connect(&tick_, &QTimer::timeout, this, &SchedulerPump::onTimeout);
  connect(&kick_, &QTimer::timeout, this, &SchedulerPump::onTimeout);
  scheduler_.onWorkScheduled = [this] {
    if (!running_) arm();
  };
  arm();
}

SchedulerPump::~SchedulerPump() { scheduler_.onWorkScheduled = nullptr; }

void SchedulerPump::arm() {
  if (scheduler_.hasReadyWork() && !kick_.isActive()) kick_.start(0);
  const auto due = scheduler_.nextDue();
  if (!due) {
    tick_.stop();
    ticker_.stop();
    return;
  }
  const std::int64_t wait = std::max<std::int64_t>(0, *due - scheduler_.now());
  if (wait <= 1) {
    if (!ticker_.active()) {
      constexpr std::int64_t kMs = 1'000'000;
      const std::int64_t ns = scheduler_.clock().tickCountNs();
      // A third into the next millisecond: the wake-up's own delay then never carries it over
      // the edge into the millisecond after.
      ticker_.start((ns / kMs + 1) * kMs + kMs / 3 - ns, kMs);
    }
    tick_.stop();
    return;
  }
  ticker_.stop();
  tick_.start(static_cast<int>(std::min<std::int64_t>(wait, 60'000)));
}

void SchedulerPump::onTimeout() {
  running_ = true;
  scheduler_.runOnce();
  running_ = false;
  arm();
}

}  // namespace luvrin
