#include "scheduler_pump.h"

#include <algorithm>

namespace luvrin {

SchedulerPump::SchedulerPump(Scheduler& scheduler, QObject* parent)
    : QObject(parent), scheduler_(scheduler) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &SchedulerPump::onTimeout);
  scheduler_.onWorkScheduled = [this] {
    if (!running_) arm();
  };
  arm();
}

SchedulerPump::~SchedulerPump() { scheduler_.onWorkScheduled = nullptr; }

void SchedulerPump::arm() {
  if (scheduler_.hasReadyWork()) {
    timer_.start(0);
    return;
  }
  if (auto due = scheduler_.nextDue()) {
    const std::int64_t wait = std::max<std::int64_t>(0, *due - scheduler_.now());
    timer_.start(static_cast<int>(std::min<std::int64_t>(wait, 60'000)));
  } else {
    timer_.stop();
  }
}

void SchedulerPump::onTimeout() {
  running_ = true;
  scheduler_.runOnce();
  running_ = false;
  arm();
}

}  // namespace luvrin
