#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "driver_playback.h"
#include "support/virtual_time.h"

using namespace std::chrono_literals;
using namespace luvrin;

namespace {

// The driver's engine with its window reduced to what it touches: the script box, the channel
// data box, the countdown label, the free-running delay timer, an intake counter.
struct DriverEngine {
  explicit DriverEngine(double n = 2) : channels(n) {
    timdelay.onTimer = [this] { engine.timdelay_Timer(); };
    data.Change = [this] { frames.push_back({clock.tickCount(), data.text()}); };
  }
  void play(const QString& script) {
    box.setText(script);
    engine.Command5_Click();
  }

  ManualClock clock;
  VirtualScheduler scheduler{clock};
  TextBox box, data;
  Label label{countdownText(0)};
  Timer timdelay{scheduler, 100, true};
  double channels;
  int intakes = 0;
  std::int64_t frameMs = 1;
  std::vector<std::pair<std::int64_t, QString>> frames;
  DriverPlayback engine{scheduler, DriverPlayback::Window{{&box, &data, &label, &timdelay,
                                                           [this] { return channels; }},
                                                          [this] { ++intakes; },
                                                          [this] { return frameMs; }}};
};

QString lines(std::initializer_list<const char*> parts) {
  QString s;
  for (const char* p : parts) s += QString::fromUtf8(p) + QStringLiteral("\r\n");
  return s;
}

}  // namespace

TEST(DriverPlayback, TenTickDelayEndsWhenTheCountdownShowsOne) {
  DriverEngine e;
  e.clock.set(30);  // the run starts between two ticks of the free-running timer
  e.play(lines({"DMX001,002,", "!T000010'100mS", "DMX003,004,"}));
  std::int64_t resumed = -1;
  QString labelAtResume;
  e.data.Change = [&] {
    if (e.data.text().startsWith(u"DMX003")) {
      resumed = e.clock.tickCount();
      labelAtResume = e.label.caption();
    }
  };
  e.scheduler.advanceBy(1200ms);
  EXPECT_EQ(labelAtResume, QStringLiteral("乘余时间:1"));
  EXPECT_GT(resumed - 30, 800);
  EXPECT_LE(resumed - 30, 900);
  EXPECT_EQ(e.label.caption(), QStringLiteral("乘余时间:0"));
  EXPECT_FALSE(e.engine.running());
}

TEST(DriverPlayback, CountsOfZeroAndOneDoNotWait) {
  for (const char* count : {"000000", "000001"}) {
    DriverEngine e;
    e.clock.set(50);
    e.play(QStringLiteral("!T%1\r\nDMX009,").arg(QString::fromLatin1(count)));
    e.scheduler.settle();
    ASSERT_FALSE(e.frames.empty()) << count;
    EXPECT_EQ(e.frames.back().first, 50) << count;
    e.scheduler.advanceBy(100ms);
    // A count of 1 leaves one tick to run: it lowers the countdown and runs intake once.
    EXPECT_EQ(e.intakes, count[5] == '1' ? 1 : 0) << count;
    EXPECT_EQ(e.engine.countdown(), 0);
  }
}

TEST(DriverPlayback, ElapsedTimeEndsADelayWhenTicksFallBehind) {
  DriverEngine e;
  e.timdelay.setEnabled(false);  // no ticks at all
  e.play(lines({"!T000003", "DMX007,"}));
  e.scheduler.advanceBy(300ms);
  EXPECT_TRUE(e.frames.empty());
  e.scheduler.advanceBy(1ms);  // 301 ms: exceeds 3 x 100
  ASSERT_EQ(e.frames.size(), 1u);
  EXPECT_EQ(e.intakes, 1);  // the tick run once at once
}

TEST(DriverPlayback, LoopPlaysForeverWithTheLooksAlternating) {
  DriverEngine e(1);
  e.play(lines({"", "DMX255,", "!T000005'100mS", "DMX000,", "!T000005'100mS", "!GT000"}));
  e.scheduler.advanceBy(5000ms);
  ASSERT_GE(e.frames.size(), 9u);
  for (std::size_t i = 1; i < e.frames.size(); ++i)
    EXPECT_NE(e.frames[i].second, e.frames[i - 1].second);
  EXPECT_TRUE(e.engine.running());
  // Each look holds four ticks (a delay of 5 ends when the countdown shows 1).
  const auto gap = e.frames[5].first - e.frames[4].first;
  EXPECT_GE(gap, 300);
  EXPECT_LE(gap, 400);
}

TEST(DriverPlayback, EndBoundIsTakenWhenTheRunStarts) {
  DriverEngine e(1);
  e.play(QStringLiteral("!T000003DMX001,"));
  e.scheduler.settle();
  // The box grows while the run waits; the run's end bound does not.
  e.box.setText(e.box.text() + QStringLiteral("\r\nDMX002,"));
  e.scheduler.advanceBy(1000ms);
  // "DMX001" right after the delay's eight characters is passed over; the later frame lies
  // beyond the end bound.
  EXPECT_TRUE(e.frames.empty());
  EXPECT_FALSE(e.engine.running());
}

TEST(DriverPlayback, ShortFrameLineSwallowsTheFollowingText) {
  DriverEngine e(4);
  e.play(lines({"DMX010,020,", "!T000010'100mS", "DMX030,"}));
  e.scheduler.advanceBy(100ms);
  ASSERT_FALSE(e.frames.empty());
  // 3 + 4*4 = 19 characters from the "D": the line break and the delay line's start.
  EXPECT_EQ(e.frames.front().second, QStringLiteral("DMX010,020,\r\n!T0000"));
  // The delay instruction was swallowed, so the next frame follows at once.
  EXPECT_EQ(e.frames.size(), 2u);
}

TEST(DriverPlayback, InstructionRightAfterADelayIsPassedOverButALoopIsFound) {
  DriverEngine e(1);
  e.play(QStringLiteral("!T000002DMX001,\r\n!T000002!T000002"));
  e.scheduler.advanceBy(1000ms);
  EXPECT_TRUE(e.frames.empty());

  DriverEngine loop(1);
  loop.play(QStringLiteral("\r\nDMX001,!T000003!GT000"));
  loop.scheduler.advanceBy(1000ms);
  // The loop instruction right after the delay works: the delay keeps coming back, and each of
  // its ticks runs an intake pass (a single pass would have run three at most).
  EXPECT_GE(loop.intakes, 8);
}

// After a frame the driver tests d + 4N (d: the frame's "D") for a delay or a loop and goes on
// from d + 4N + 1, so with N = 2 a one-group frame takes the next eight characters with it.
TEST(DriverPlayback, AfterAFrameTheScanTestsItsLastCharacterAndGoesOnPastIt) {
  // The second frame starts at d + 8: tested there, not played, and passed over.
  DriverEngine swallowed(2);
  swallowed.play(QStringLiteral("DMX001,\nDMX002,003,"));
  swallowed.scheduler.advanceBy(500ms);
  ASSERT_EQ(swallowed.frames.size(), 1u);
  EXPECT_EQ(swallowed.frames[0].second, QStringLiteral("DMX001,\nDMX"));

  // The delay's "!" lies inside the frame and its "T" at d + 8 starts nothing: no delay.
  DriverEngine passed(2);
  passed.play(QStringLiteral("DMX001,!T000010'100mS\r\nDMX002,003,"));
  passed.scheduler.advanceBy(1500ms);
  ASSERT_EQ(passed.frames.size(), 2u);
  EXPECT_EQ(passed.frames[1].second, QStringLiteral("DMX002,003,"));
  EXPECT_LT(passed.frames[1].first - passed.frames[0].first, 100);
}

TEST(DriverPlayback, ShortCountResumesInsideTheNextLine) {
  DriverEngine e(1);
  e.play(QStringLiteral("!T5\r\nDMX001,\r\nDMX002,"));
  e.scheduler.advanceBy(1000ms);
  // "!T5\r\nDMX" is the eight-character span: the first frame is not played.
  ASSERT_EQ(e.frames.size(), 1u);
  EXPECT_EQ(e.frames[0].second, QStringLiteral("DMX002,"));
}

TEST(DriverPlayback, NewRunReplacesTheOldOneCompletely) {
  DriverEngine e(1);
  e.play(lines({"DMX100,", "!T000005", "DMX101,", "!T000005", "!GT000"}));
  e.scheduler.advanceBy(250ms);
  e.play(lines({"DMX200,", "!T000002", "DMX201,"}));
  e.scheduler.advanceBy(3000ms);
  EXPECT_EQ(e.data.text(), QStringLiteral("DMX201,"));  // the new scene's last look holds
  EXPECT_FALSE(e.engine.running());
  EXPECT_EQ(e.scheduler.taskCount(), 0u);
}

TEST(DriverPlayback, ManySceneChangesLeaveOneRun) {
  DriverEngine e(1);
  for (int i = 0; i < 10000; ++i) {
    e.play(lines({i % 2 ? "DMX001," : "DMX002,", "!T000003", "!GT000"}));
    e.scheduler.advanceBy(1ms);
    ASSERT_LE(e.scheduler.taskCount(), 1u);
  }
  EXPECT_EQ(e.engine.runDepth(), 1u);
}

TEST(DriverPlayback, LoopWithoutWorkStepsInsteadOfSpinning) {
  DriverEngine e;
  int passes = 0;
  e.box.changed().subscribe([&] { ++passes; });  // the caret moves once per pass
  e.play(QStringLiteral("!GT000"));
  e.scheduler.advanceBy(1000ms);
  EXPECT_TRUE(e.engine.running());
  EXPECT_LE(passes, 1000 / 5 + 2);
}

// Looks that wait no tick: the loop runs once per frame tick (per intake tick with no frame
// timer), its looks still in their order, instead of as fast as a core allows.
TEST(DriverPlayback, LoopOfLooksThatDoNotWaitRunsOncePerFrameTick) {
  struct Case {
    const char* script;
    std::int64_t frameMs;
    int passes;  // in one second
  };
  const Case cases[] = {
      {"DMX001,\r\n!T000001'100mS\r\nDMX002,\r\n!T000001'100mS\r\n!GT000", 1, 1000},
      {"DMX001,\r\nDMX002,\r\n!GT000", 1, 1000},
      {"DMX001,\r\n!T000000\r\nDMX002,\r\n!GT000", 25, 40},
      {"DMX001,\r\nDMX002,\r\n!GT000", 0, 10},
  };
  for (const Case& c : cases) {
    DriverEngine e(1);
    e.frameMs = c.frameMs;
    e.play(QString::fromUtf8(c.script));
    e.scheduler.advanceBy(1000ms);
    ASSERT_FALSE(e.frames.empty()) << c.script;
    for (std::size_t i = 0; i < e.frames.size(); ++i)
      ASSERT_EQ(e.frames[i].second, i % 2 ? QStringLiteral("DMX002,") : QStringLiteral("DMX001,"))
          << c.script << " look " << i;
    const int passes = static_cast<int>((e.frames.size() + 1) / 2);
    EXPECT_GE(passes, c.passes - 1) << c.script << " frame " << c.frameMs;
    EXPECT_LE(passes, c.passes + 1) << c.script << " frame " << c.frameMs;
  }
}

TEST(DriverPlayback, LoopOfDelaysThatDoNotWaitStepsInsteadOfHanging) {
  DriverEngine e;
  int steps = 0;
  // The caret moves at every delay. Past any sane number of steps the script is taken away,
  // which ends a run that never lets time pass, so this fails instead of hanging.
  e.box.changed().subscribe([&] {
    if (++steps > 100000) e.box.setText(QString());
  });
  // Zero, one, too many milliseconds for 32 bits, too many ticks for 32 bits.
  e.play(QStringLiteral("!T000000 !T000001 !T2e9    !T9e99   !GT000"));
  e.scheduler.advanceBy(1000ms);
  EXPECT_TRUE(e.engine.running());
  EXPECT_LE(steps, 4 * (1000 / 5 + 2) + 1);
}

TEST(DriverPlayback, EmptyScriptChangesNothing) {
  DriverEngine e;
  e.data.setText(QStringLiteral("DMX050,"));
  e.frames.clear();
  e.play(QString());
  e.scheduler.settle();
  EXPECT_FALSE(e.engine.running());
  EXPECT_EQ(e.data.text(), QStringLiteral("DMX050,"));
}

TEST(DriverPlayback, FrameNearTheEndHandsOnWhatRemains) {
  DriverEngine e(4);
  e.play(QStringLiteral("xxDMX001,2"));
  e.scheduler.settle();
  ASSERT_EQ(e.frames.size(), 1u);
  EXPECT_EQ(e.frames[0].second, QStringLiteral("DMX001,2"));
}

TEST(DriverPlayback, OverflowingCountEndsTheDelayAtOnce) {
  DriverEngine e(1);
  e.play(QStringLiteral("!T2e9    DMX009,"));
  e.scheduler.settle();
  // 2e9 ticks cannot be timed in 32-bit milliseconds; the run goes on after the delay.
  ASSERT_EQ(e.frames.size(), 1u);
}

TEST(DriverPlayback, LoopStartingWithAFrameAtTheFirstCharacterPlaysItEveryPass) {
  DriverEngine e(1);
  e.play(QStringLiteral("DMX001,\r\n!T000003'100mS\r\nDMX002,\r\n!T000003'100mS\r\n!GT000"));
  e.scheduler.advanceBy(3000ms);
  ASSERT_GE(e.frames.size(), 10u);
  for (std::size_t i = 0; i < e.frames.size(); ++i)
    EXPECT_EQ(e.frames[i].second, i % 2 ? QStringLiteral("DMX002,") : QStringLiteral("DMX001,"))
        << i;
  EXPECT_TRUE(e.engine.running());
}

TEST(DriverPlayback, FractionalLengthHandsOnWholeGroupsOnly) {
  // 3.5 channels: "For k = 0 To N - 1" parses 3 groups, so a frame is 3 groups long and the
  // delay line after it is not swallowed.
  DriverEngine e(3.5);
  e.play(lines({"DMX001,002,003,", "!T000003'100mS", "DMX004,005,006,"}));
  e.scheduler.advanceBy(100ms);
  ASSERT_EQ(e.frames.size(), 1u);
  EXPECT_EQ(e.frames[0].second, QStringLiteral("DMX001,002,003,"));
  e.scheduler.advanceBy(300ms);
  ASSERT_EQ(e.frames.size(), 2u);
  EXPECT_EQ(e.frames[1].second, QStringLiteral("DMX004,005,006,"));
}

TEST(DriverPlayback, ReplacedRunStopsItsCountdown) {
  DriverEngine e(1);
  e.play(lines({"DMX001,", "!T999999'100mS"}));
  e.scheduler.advanceBy(3500ms);
  ASSERT_EQ(e.label.caption(), QStringLiteral("乘余时间:999964"));
  const int intakes = e.intakes;
  e.play(QString());  // an inline scene empties the script box
  EXPECT_EQ(e.label.caption(), QStringLiteral("乘余时间:0"));
  e.scheduler.advanceBy(1000ms);
  EXPECT_EQ(e.label.caption(), QStringLiteral("乘余时间:0"));
  EXPECT_EQ(e.engine.countdown(), 0);
  EXPECT_EQ(e.intakes, intakes);  // no delay left to run intake passes for
}

TEST(DriverPlayback, RunEndedByElapsedTimeStopsItsCountdown) {
  DriverEngine e;
  e.timdelay.setEnabled(false);  // the ticks fall behind completely
  e.play(lines({"!T000003", "DMX007,"}));
  e.scheduler.advanceBy(301ms);
  ASSERT_FALSE(e.engine.running());
  e.timdelay.setEnabled(true);
  e.scheduler.advanceBy(500ms);
  EXPECT_EQ(e.intakes, 1);  // only the tick the elapsed time ran
  EXPECT_EQ(e.label.caption(), QStringLiteral("乘余时间:0"));
}
