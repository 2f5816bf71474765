#pragma once

#include <memory>

#include "precise_ticker.h"
#include "scheduler.h"

namespace luvrin {

// Drives a Scheduler in real time from the event loop, through the wakers it is given (the
// system's in production, virtual ones in tests). Nothing spins: with nothing due it arms nothing.
//  - While something is due every millisecond (the frame timer at its shortest interval) a
//    PreciseTicker wakes it in the middle of every millisecond of its clock: re-arming a timer
//    after every wake loses a fraction of a millisecond each time and so would drop a frame every
//    dozen ticks.
//  - Otherwise a single shot wakes it at the next due time.
//  - Ready tasks and posted events run as soon as the event loop's pending events have run.
class SchedulerPump {
 public:
  explicit SchedulerPump(Scheduler& scheduler, const WakerFactory& wakers = makeSystemWaker);
  ~SchedulerPump();
  SchedulerPump(const SchedulerPump&) = delete;
  SchedulerPump& operator=(const SchedulerPump&) = delete;

 private:
  void arm();
  void onWake();

  Scheduler& scheduler_;
  std::unique_ptr<Waker> soon_;
  std::unique_ptr<Waker> once_;
  PreciseTicker ticker_;
  bool running_ = false;
};

}  // namespace luvrin
