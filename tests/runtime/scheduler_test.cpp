#include "scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "support/virtual_time.h"

using namespace std::chrono_literals;
using namespace luvrin;

namespace {

struct Fixture {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
};

}  // namespace

TEST(SchedulerTimers, FireOnTheirGridInDueOrder) {
  Fixture f;
  std::vector<std::pair<std::int64_t, char>> log;
  Timer a(f.scheduler, 100, true, [&] { log.emplace_back(f.clock.tickCount(), 'a'); });
  Timer b(f.scheduler, 30, true, [&] { log.emplace_back(f.clock.tickCount(), 'b'); });
  f.scheduler.advanceBy(100ms);
  const std::vector<std::pair<std::int64_t, char>> expected{
      {30, 'b'}, {60, 'b'}, {90, 'b'}, {100, 'a'}};
  EXPECT_EQ(log, expected);
}

TEST(SchedulerTimers, SameDueTimeFiresInCreationOrder) {
  Fixture f;
  std::string order;
  Timer first(f.scheduler, 50, true, [&] { order += '1'; });
  Timer second(f.scheduler, 50, true, [&] { order += '2'; });
  f.scheduler.advanceBy(100ms);
  EXPECT_EQ(order, "1212");
}

TEST(SchedulerTimers, EnablingOrNewIntervalRestartsThePeriod) {
  Fixture f;
  std::vector<std::int64_t> at;
  Timer t(f.scheduler, 100, false, [&] { at.push_back(f.clock.tickCount()); });
  f.scheduler.advanceBy(250ms);
  EXPECT_TRUE(at.empty());
  t.setEnabled(true);  // at 250
  f.scheduler.advanceBy(120ms);
  t.setInterval(40);  // at 370
  f.scheduler.advanceBy(90ms);
  EXPECT_EQ(at, (std::vector<std::int64_t>{350, 410, 450}));
  // The same interval again is no change and does not shift the grid.
  t.setInterval(40);  // at 460
  f.scheduler.advanceBy(29ms);
  EXPECT_EQ(at.back(), 450);
  f.scheduler.advanceBy(1ms);
  EXPECT_EQ(at.back(), 490);
}

TEST(SchedulerTimers, IntervalZeroNeverFiresAndDisabledStaysQuiet) {
  Fixture f;
  int zero = 0, off = 0;
  Timer z(f.scheduler, 0, true, [&] { ++zero; });
  Timer d(f.scheduler, 10, false, [&] { ++off; });
  f.scheduler.advanceBy(1000ms);
  EXPECT_EQ(zero, 0);
  EXPECT_EQ(off, 0);
  EXPECT_FALSE(f.scheduler.nextDue().has_value());
}

TEST(SchedulerTimers, LateTickIsNotRepeatedInABurst) {
  Fixture f;
  int ticks = 0;
  Timer t(f.scheduler, 10, true, [&] { ++ticks; });
  f.clock.advance(1000);  // the thread was held up for a second
  f.scheduler.runOnce();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(t.due(), 1010);
}

TEST(SchedulerTimers, TickLessThanTwoPeriodsLateIsMadeUpOnceOnTheGrid) {
  Fixture f;
  int ticks = 0;
  Timer t(f.scheduler, 10, true, [&] { ++ticks; });
  f.clock.set(25);  // the tick due at 10 and the one due at 20 are both late
  f.scheduler.runOnce();
  f.scheduler.runOnce();
  f.scheduler.runOnce();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(t.due(), 30);
}

TEST(SchedulerTimers, HandlerMayDestroyAnotherTimer) {
  Fixture f;
  int second = 0;
  auto victim = std::make_unique<Timer>(f.scheduler, 10, true, [&] { ++second; });
  Timer killer(f.scheduler, 10, true, [&] { victim.reset(); });
  // killer was created later, so victim fires first at 10, then killer removes it.
  f.scheduler.advanceBy(50ms);
  EXPECT_EQ(second, 1);
}

TEST(SchedulerTimers, SixtyFourBitClockDoesNotWrapAfterMonths) {
  ManualClock clock(std::int64_t{60} * 24 * 3600 * 1000);  // 60 days of uptime
  VirtualScheduler scheduler(clock);
  int ticks = 0;
  Timer t(scheduler, 100, true, [&] { ++ticks; });
  scheduler.advanceBy(1000ms);
  EXPECT_EQ(ticks, 10);
}

namespace {

Task yieldingTask(Scheduler& s, std::vector<std::string>& log, std::string name, int steps) {
  for (int i = 0; i < steps; ++i) {
    log.push_back(name + std::to_string(i));
    co_await s.yield();
  }
  log.push_back(name + "end");
}

Task waitingTask(Scheduler& s, const bool& flag, std::vector<std::string>& log) {
  co_await s.waitUntil([&] { return flag; });
  log.push_back("woke@" + std::to_string(s.now()));
}

struct Tracker {
  int* destroyed;
  ~Tracker() { ++*destroyed; }
};

Task trackedTask(Scheduler& s, int* destroyed, int* steps) {
  Tracker t{destroyed};
  for (;;) {
    ++*steps;
    co_await s.yield();
  }
}

}  // namespace

TEST(SchedulerTasks, YieldingTasksInterleaveAndFinish) {
  Fixture f;
  std::vector<std::string> log;
  f.scheduler.spawn(yieldingTask(f.scheduler, log, "a", 2));
  f.scheduler.spawn(yieldingTask(f.scheduler, log, "b", 1));
  f.scheduler.settle();
  EXPECT_EQ(log, (std::vector<std::string>{"a0", "b0", "a1", "bend", "aend"}));
  EXPECT_EQ(f.scheduler.taskCount(), 0u);
}

TEST(SchedulerTasks, PendingTimersRunWhileATaskYields) {
  Fixture f;
  int ticks = 0;
  Timer t(f.scheduler, 1, true, [&] { ++ticks; });
  bool flag = false;
  std::vector<std::string> log;
  f.scheduler.spawn(waitingTask(f.scheduler, flag, log));
  Timer setter(f.scheduler, 250, true, [&] { flag = true; });
  f.scheduler.advanceBy(300ms);
  EXPECT_EQ(log, (std::vector<std::string>{"woke@250"}));
  EXPECT_EQ(ticks, 300);
}

TEST(SchedulerTasks, DeadlineEndsAWaitWithoutATimer) {
  Fixture f;
  std::int64_t woke = -1;
  auto task = [](Scheduler& s, std::int64_t& out) -> Task {
    co_await s.waitUntil([] { return false; }, 1234);
    out = s.now();
  };
  f.scheduler.spawn(task(f.scheduler, woke));
  f.scheduler.advanceBy(2000ms);
  EXPECT_EQ(woke, 1234);
}

TEST(SchedulerTasks, CancelDestroysASuspendedTaskAndItsLocals) {
  Fixture f;
  int destroyed = 0, steps = 0;
  TaskId id = f.scheduler.spawn(trackedTask(f.scheduler, &destroyed, &steps));
  f.scheduler.runOnce();
  EXPECT_EQ(steps, 1);
  f.scheduler.cancel(id);
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(f.scheduler.alive(id));
  f.scheduler.advanceBy(10ms);
  EXPECT_EQ(steps, 1);
}

TEST(SchedulerTasks, TaskCancellingItselfStopsAtItsNextSuspension) {
  Fixture f;
  int after = 0;
  TaskId self = 0;
  auto task = [](Scheduler& s, TaskId& me, int& afterCount) -> Task {
    s.cancel(me);  // runs on: cancelling a running task takes effect when it suspends
    ++afterCount;
    co_await s.yield();
    ++afterCount;
  };
  self = f.scheduler.spawn(task(f.scheduler, self, after));
  f.scheduler.settle();
  EXPECT_EQ(after, 1);
  EXPECT_EQ(f.scheduler.taskCount(), 0u);
}

TEST(SchedulerTasks, ABusyTaskDoesNotFreezeVirtualTime) {
  Fixture f;
  long spins = 0;
  auto spinner = [](Scheduler& s, long& n) -> Task {
    for (;;) {
      ++n;
      co_await s.yield();
    }
  };
  int ticks = 0;
  Timer t(f.scheduler, 100, true, [&] { ++ticks; });
  f.scheduler.spawn(spinner(f.scheduler, spins));
  f.scheduler.advanceBy(1000ms);
  EXPECT_EQ(ticks, 10);
  EXPECT_GT(spins, 1000);
}

TEST(SchedulerTasks, PostedEventsRunInOrderAfterTheCurrentHandler) {
  Fixture f;
  std::string order;
  f.scheduler.post([&] {
    order += 'a';
    f.scheduler.post([&] { order += 'c'; });
  });
  f.scheduler.post([&] { order += 'b'; });
  f.scheduler.settle();
  EXPECT_EQ(order, "abc");
}
