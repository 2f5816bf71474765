#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "clock.h"
#include "scheduler.h"

namespace luvrin {

// Virtual time: a clock that only moves when told to.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::int64_t start = 0) : now_(start) {}
  std::int64_t tickCount() const override { return now_; }
  void set(std::int64_t t) { now_ = t; }
  void advance(std::int64_t ms) { now_ += ms; }

 private:
  std::int64_t now_;
};

// A scheduler on a manual clock that walks virtual time: the clock jumps from one due timer or
// wait deadline to the next, and everything due at each instant runs in order there, as the
// pump would run it in real time.
class VirtualScheduler : public Scheduler {
 public:
  explicit VirtualScheduler(ManualClock& clock) : Scheduler(clock), clock_(clock) {}

  // Runs everything up to and including time t.
  void advanceTo(std::int64_t t) {
    int rounds = 0;
    for (;;) {
      if (hasReadyWork()) {
        runOnce();
        // A task that never blocks (a looping script without delays) would keep one instant
        // busy for ever; after this many rounds the clock moves on by 1 ms.
        if (++rounds >= kMaxRoundsPerInstant) {
          if (now() >= t) return;
          clock_.advance(1);
          rounds = 0;
        }
        continue;
      }
      if (now() >= t) return;
      std::int64_t next = t;
      if (auto due = nextDue(); due && *due < next) next = *due;
      clock_.set(std::max(next, now()));
      rounds = 0;
    }
  }
  void advanceBy(std::chrono::milliseconds d) { advanceTo(now() + d.count()); }
  // Runs the work pending at the current instant.
  void settle() { advanceTo(now()); }

 private:
  static constexpr int kMaxRoundsPerInstant = 64;
  ManualClock& clock_;
};

}  // namespace luvrin
