#include "frame_ticker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/virtual_time.h"

namespace luvrin {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kMs = 1'000'000;

// Stands in for the system's periodic timer: records every arming, wakes when told.
class ArmLog final : public Waker {
 public:
  explicit ArmLog(std::vector<std::string>& log) : log_(log) {}
  void arm(std::int64_t firstNs, std::int64_t periodNs) override {
    log_.push_back("arm " + std::to_string(firstNs / kMs) + "/" + std::to_string(periodNs / kMs));
    armed_ = true;
  }
  void disarm() override {
    log_.push_back("disarm");
    armed_ = false;
  }
  bool armed() const override { return armed_; }
  void fire() {
    if (armed_ && onWake) onWake(1);
  }

 private:
  std::vector<std::string>& log_;
  bool armed_ = false;
};

// Steps: a number sets the interval, -1 is one wake of the system's timer.
constexpr int kWake = -1;

TEST(FrameTicker, ThePeriodicTimerIsArmedOnlyWhenTheIntervalChanges) {
  struct Case {
    const char* what;
    std::vector<int> steps;
    std::vector<std::string> arms;  // after the one at construction (1 ms)
    int ticks;
  };
  const Case cases[] = {
      {"ticks keep the timer as it is", {kWake, kWake, kWake}, {}, 3},
      {"a new interval arms the same timer with it as the period",
       {25, kWake, kWake},
       {"arm 25/25"},
       2},
      {"the same interval again changes nothing", {25, kWake, 25, kWake}, {"arm 25/25"}, 2},
      {"0 stops it", {25, 0, kWake}, {"arm 25/25", "disarm"}, 0},
      {"started again after 0", {0, 1000, kWake}, {"disarm", "arm 1000/1000"}, 1},
      {"a negative interval is 0", {-5, kWake}, {"disarm"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ManualClock clock;
    VirtualScheduler scheduler(clock);
    std::vector<std::string> log;
    auto owned = std::make_unique<ArmLog>(log);
    ArmLog& waker = *owned;
    FrameTicker ticker(scheduler, 1, std::move(owned));
    int ticks = 0;
    ticker.onTick = [&] { ++ticks; };
    ASSERT_EQ(log, std::vector<std::string>{"arm 1/1"});
    log.clear();
    for (const int step : c.steps) {
      if (step == kWake) {
        waker.fire();
      } else {
        ticker.setInterval(step);
      }
      // The scheduler's own timer must not tick beside the system's.
      scheduler.advanceBy(100ms);
    }
    EXPECT_EQ(log, c.arms);
    EXPECT_EQ(ticks, c.ticks);
  }
}

TEST(FrameTicker, WithoutASystemTimerTheSchedulersTimerTicks) {
  struct Case {
    int interval;
    std::chrono::milliseconds over;
    int ticks;
  };
  const Case cases[] = {{1, 100ms, 100}, {25, 100ms, 4}, {0, 100ms, 0}, {40, 30ms, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.interval);
    ManualClock clock;
    VirtualScheduler scheduler(clock);
    FrameTicker ticker(scheduler, 1, nullptr);
    int ticks = 0;
    ticker.onTick = [&] { ++ticks; };
    ticker.setInterval(c.interval);
    scheduler.advanceBy(c.over);
    EXPECT_EQ(ticks, c.ticks);
    EXPECT_EQ(ticker.interval(), c.interval);
  }
}

}  // namespace
}  // namespace luvrin
