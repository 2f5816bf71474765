#include "scheduler_pump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "precise_ticker.h"
#include "scheduler.h"

using namespace luvrin;

namespace {

constexpr std::int64_t kMs = 1'000'000;

// Virtual time with the nanoseconds the pump places its wake-ups by.
class NsClock final : public Clock {
 public:
  std::int64_t tickCount() const override { return ns / kMs; }
  std::int64_t tickCountNs() const override { return ns; }
  std::int64_t ns = 0;
};

// Wakers on virtual time, late by what the real ones are late by: the event loop gets round to a
// zero timer within microseconds, to an expired timer within a tenth of a millisecond. A periodic
// waker stays on its grid and folds the periods the thread missed into one wake.
class VirtualWakers {
 public:
  static constexpr std::int64_t kSoonLatencyNs = 20'000;
  static constexpr std::int64_t kTimerLatencyNs = 80'000;

  WakerFactory factory() {
    return [this](WakerKind kind) {
      auto w = std::make_unique<VirtualWaker>(*this, kind);
      wakers_.push_back(w.get());
      return w;
    };
  }

  // Runs every wake in time order up to endNs.
  void runUntil(std::int64_t endNs) {
    for (;;) {
      VirtualWaker* next = nullptr;
      for (VirtualWaker* w : wakers_)
        if (w->armed_ && (next == nullptr || w->wakeAt() < next->wakeAt())) next = w;
      if (next == nullptr || next->wakeAt() > endNs) break;
      clock.ns = std::max(clock.ns, next->wakeAt());
      std::uint64_t expirations = 1;
      if (next->period_ > 0) {
        const std::int64_t missed = (clock.ns - next->wakeAt()) / next->period_;
        expirations += static_cast<std::uint64_t>(missed);
        next->due_ += static_cast<std::int64_t>(expirations) * next->period_;
      } else {
        next->armed_ = false;
      }
      ++wakes;
      if (next->onWake) next->onWake(expirations);
    }
    clock.ns = std::max(clock.ns, endNs);
  }

  bool anyArmed() const {
    return std::any_of(wakers_.begin(), wakers_.end(), [](auto* w) { return w->armed_; });
  }

  NsClock clock;
  int wakes = 0;

 private:
  class VirtualWaker final : public Waker {
   public:
    VirtualWaker(VirtualWakers& owner, WakerKind kind) : owner_(owner), kind_(kind) {}
    ~VirtualWaker() override { std::erase(owner_.wakers_, this); }
    void arm(std::int64_t firstNs, std::int64_t periodNs) override {
      // A single shot is a Qt timer, placed to the nearest millisecond.
      if (kind_ == WakerKind::Once) firstNs = (firstNs + kMs / 2) / kMs * kMs;
      due_ = owner_.clock.ns + firstNs;
      period_ = periodNs;
      armed_ = true;
    }
    void disarm() override { armed_ = false; }
    bool armed() const override { return armed_; }
    std::int64_t wakeAt() const {
      return due_ + (kind_ == WakerKind::Soon ? kSoonLatencyNs : kTimerLatencyNs);
    }

    VirtualWakers& owner_;
    WakerKind kind_;
    std::int64_t due_ = 0;
    std::int64_t period_ = 0;
    bool armed_ = false;
  };

  std::vector<VirtualWaker*> wakers_;
};

// A timer of the pumped scheduler that records when it fired and how late, and takes the time
// its work takes (writing a frame to the port).
struct TimedTimer {
  TimedTimer(Scheduler& scheduler, NsClock& clock, int intervalMs, std::int64_t workNs)
      : timer(scheduler, intervalMs, true, [this, &clock, intervalMs, workNs] {
          ++fires;
          lateMs = std::max(lateMs, clock.tickCount() - std::int64_t{intervalMs} * fires);
          clock.ns += workNs;
        }) {}
  Timer timer;
  std::int64_t fires = 0;
  std::int64_t lateMs = 0;  // the latest a tick came after its place on the grid
};

struct PumpRig {
  VirtualWakers wakers;
  Scheduler scheduler{wakers.clock};
};

// Fakes the system's waker for one ticker, recording how it was armed.
class RecordingWaker final : public Waker {
 public:
  void arm(std::int64_t firstNs, std::int64_t periodNs) override {
    first = firstNs;
    period = periodNs;
    armed_ = true;
  }
  void disarm() override { armed_ = false; }
  bool armed() const override { return armed_; }
  std::int64_t first = -1;
  std::int64_t period = -1;
  bool armed_ = false;
};

}  // namespace

TEST(SchedulerPump, OneMillisecondTimerFiresEveryMillisecondOnItsGrid) {
  PumpRig rig;
  // A frame that takes a third of the interval to write.
  TimedTimer frames(rig.scheduler, rig.wakers.clock, 1, 330'000);
  SchedulerPump pump(rig.scheduler, rig.wakers.factory());
  rig.wakers.runUntil(1000 * kMs + kMs / 2);
  EXPECT_EQ(frames.fires, 1000);
  EXPECT_EQ(frames.lateMs, 0);
  // One wake for each tick, none wasted.
  EXPECT_LE(rig.wakers.wakes, 1002);
}

TEST(SchedulerPump, LongerIntervalsWakeOnlyWhenSomethingIsDue) {
  for (const int interval : {2, 10, 20, 100}) {
    PumpRig rig;
    TimedTimer frames(rig.scheduler, rig.wakers.clock, interval, 400'000);
    TimedTimer meter(rig.scheduler, rig.wakers.clock, 1000, 0);
    SchedulerPump pump(rig.scheduler, rig.wakers.factory());
    rig.wakers.runUntil(3001 * kMs);
    EXPECT_EQ(frames.fires, 3000 / interval) << interval;
    EXPECT_EQ(frames.lateMs, 0) << interval;
    EXPECT_EQ(meter.fires, 3) << interval;
    // No ticking in between. A single shot that lands just before its millisecond (it is placed
    // to the nearest one) costs one more wake.
    EXPECT_LE(rig.wakers.wakes, 2 * (3000 / interval + 3)) << interval;
  }
}

TEST(SchedulerPump, HeldUpThreadCatchesUpWithoutABurst) {
  PumpRig rig;
  int fires = 0;
  Timer frames(rig.scheduler, 1, true, [&] {
    // One frame write hangs for 5.5 ms (a port that blocks).
    if (++fires == 10) rig.wakers.clock.ns += 5'500'000;
  });
  SchedulerPump pump(rig.scheduler, rig.wakers.factory());
  rig.wakers.runUntil(100 * kMs);
  // The ticks lost during the hang are gone; one late tick is made up; the rest are on time.
  EXPECT_GE(fires, 94);
  EXPECT_LE(fires, 96);
}

TEST(SchedulerPump, PostedWorkRunsAtOnceAndAnIdleSchedulerArmsNothing) {
  PumpRig rig;
  SchedulerPump pump(rig.scheduler, rig.wakers.factory());
  EXPECT_FALSE(rig.wakers.anyArmed());  // nothing to do: nothing armed, nothing spins
  rig.wakers.clock.ns = 7 * kMs + 500'000;
  std::int64_t ranAt = -1;
  rig.scheduler.post([&] { ranAt = rig.wakers.clock.ns; });
  rig.wakers.runUntil(20 * kMs);
  EXPECT_EQ(ranAt, 7 * kMs + 500'000 + VirtualWakers::kSoonLatencyNs);
  EXPECT_FALSE(rig.wakers.anyArmed());
  EXPECT_EQ(rig.wakers.wakes, 1);
}

TEST(SchedulerPump, TimerEnabledLaterWakesAtItsFirstDueTime) {
  PumpRig rig;
  Timer later(rig.scheduler, 250, false);
  int fires = 0;
  later.onTimer = [&] { ++fires; };
  SchedulerPump pump(rig.scheduler, rig.wakers.factory());
  rig.wakers.runUntil(100 * kMs);
  EXPECT_EQ(rig.wakers.wakes, 0);
  later.setEnabled(true);  // due at 350 ms
  rig.wakers.runUntil(349 * kMs);
  EXPECT_EQ(fires, 0);
  rig.wakers.runUntil(351 * kMs);
  EXPECT_EQ(fires, 1);
}

TEST(PreciseTicker, FirstTickFallsOnThePhaseOfTheNextPeriod) {
  NsClock clock;
  auto waker = std::make_unique<RecordingWaker>();
  RecordingWaker& w = *waker;
  PreciseTicker ticker(clock, std::move(waker));
  clock.ns = 5 * kMs + 250'000;
  ticker.start(kMs, kMs / 3);
  EXPECT_TRUE(ticker.active());
  EXPECT_EQ(w.first, 6 * kMs + kMs / 3 - clock.ns);
  EXPECT_EQ(w.period, kMs);
  clock.ns = 40 * kMs;  // exactly on a period's start: still the next one
  ticker.stop();
  ticker.start(10 * kMs, 2 * kMs);
  EXPECT_EQ(w.first, 12 * kMs);
  EXPECT_EQ(w.period, 10 * kMs);
}

TEST(PreciseTicker, MissedPeriodsMakeOneTickAndAStoppedTickerIsSilent) {
  NsClock clock;
  auto waker = std::make_unique<RecordingWaker>();
  RecordingWaker& w = *waker;
  PreciseTicker ticker(clock, std::move(waker));
  int ticks = 0;
  ticker.onTick = [&] { ++ticks; };
  ticker.start(kMs, 0);
  w.onWake(1);
  w.onWake(7);  // the thread was held up for seven periods
  EXPECT_EQ(ticks, 2);
  ticker.stop();
  EXPECT_FALSE(w.armed());
  EXPECT_FALSE(ticker.active());
  w.onWake(1);  // a wake already on its way when it stopped
  EXPECT_EQ(ticks, 2);
}
