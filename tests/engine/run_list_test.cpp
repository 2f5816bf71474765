#include <gtest/gtest.h>

#include "playback.h"
#include "support/virtual_time.h"

using namespace luvrin;

namespace {

// A run that lives until its flag is set, then ends by itself.
Task holdingRun(Scheduler& s, RunList& runs, RunList::Run run, const bool& done, int& ended) {
  RunList::Guard guard{runs, run};
  co_await s.waitUntil([&done] { return done; });
  ++ended;
}

struct Rig {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  RunList runs{scheduler};
  int ended = 0;
  RunList::Run start(const bool& done) {
    const RunList::Run run = runs.next();
    runs.start(run, holdingRun(scheduler, runs, run, done, ended));
    return run;
  }
};

}  // namespace

TEST(RunList, NewestRunIsOnTopAndARunThatEndsLeavesTheList) {
  Rig r;
  bool firstDone = false, secondDone = false;
  const auto first = r.start(firstDone);
  const auto second = r.start(secondDone);
  EXPECT_NE(first, second);
  r.scheduler.settle();
  EXPECT_EQ(r.runs.size(), 2u);
  EXPECT_TRUE(r.runs.isTop(second));
  EXPECT_FALSE(r.runs.isTop(first));
  EXPECT_EQ(r.runs.top(), second);

  // The lower run ends first: the top one stays on top.
  firstDone = true;
  r.scheduler.settle();
  EXPECT_FALSE(r.runs.contains(first));
  EXPECT_TRUE(r.runs.isTop(second));

  secondDone = true;
  r.scheduler.settle();
  EXPECT_TRUE(r.runs.empty());
  EXPECT_EQ(r.runs.top(), 0u);
  EXPECT_EQ(r.ended, 2);
  EXPECT_EQ(r.scheduler.taskCount(), 0u);
}

TEST(RunList, StopAllEndsEveryRunWithoutLettingItGoOn) {
  Rig r;
  bool done = false;
  const auto a = r.start(done);
  const auto b = r.start(done);
  r.scheduler.settle();
  r.runs.stopAll();
  EXPECT_TRUE(r.runs.empty());
  EXPECT_FALSE(r.runs.contains(a) || r.runs.contains(b));
  EXPECT_EQ(r.scheduler.taskCount(), 0u);
  done = true;
  r.scheduler.settle();
  EXPECT_EQ(r.ended, 0);
}

TEST(RunList, GoingAwayEndsItsRuns) {
  ManualClock clock;
  VirtualScheduler scheduler{clock};
  bool done = false;
  int ended = 0;
  {
    RunList runs{scheduler};
    const auto run = runs.next();
    runs.start(run, holdingRun(scheduler, runs, run, done, ended));
    scheduler.settle();
    ASSERT_EQ(scheduler.taskCount(), 1u);
  }
  EXPECT_EQ(scheduler.taskCount(), 0u);
  done = true;
  scheduler.settle();
  EXPECT_EQ(ended, 0);
}
