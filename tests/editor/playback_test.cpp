#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "editor_rig.h"
#include "editor_window.h"

using namespace std::chrono_literals;
// Not the whole namespace: the suite below shares its name with the editor's playback class.
using luvrin::Form3;
using namespace luvrin::testing;

namespace {

QString countdown(int n) { return QStringLiteral("乘余时间:%1").arg(n); }

}  // namespace

// The channel count comes from the driver's length box, set here through the settings.
// Fader 1 is parked at 77 so that live output is told apart from the script's frames.
class EditorPlayback : public ::testing::Test {
 protected:
  EditorPlayback() : rig({{QStringLiteral("发送数据长度"), QStringLiteral("1")}}) {
    ed().Show();
    rig.fader(0).setValue(77);
    rig.scheduler.advanceBy(100ms);
  }
  Form3& ed() { return rig.editor(); }
  void play(const QString& script) {
    ed().Text5.setText(script);
    ed().Command5_Click();
    rig.scheduler.settle();
  }
  bool liveOutputOn() { return ed().Timer3.enabled() && !ed().Timer4.enabled(); }

  EditorRig rig;
};

TEST_F(EditorPlayback, TenTickDelayCountsNineToZeroThenGoesOn) {
  play(QStringLiteral("!T000010'100mS\r\nDMX001,"));
  EXPECT_EQ(ed().Label2.caption(), countdown(0));
  for (int shown = 9; shown >= 1; --shown) {
    rig.scheduler.advanceBy(100ms);
    EXPECT_EQ(ed().Label2.caption(), countdown(shown));
    EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX077,")) << shown;  // still waiting
  }
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed().Label2.caption(), countdown(0));
  EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX001,"));
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX001,"));
}

TEST_F(EditorPlayback, LiveOutputPausesDuringARunAndResumesAfter) {
  play(QStringLiteral("DMX005,\r\n!T000005'100mS"));
  EXPECT_FALSE(ed().Timer3.enabled());
  EXPECT_TRUE(ed().Timer4.enabled());
  EXPECT_EQ(ed().Command5.tag(), QStringLiteral("1"));
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX005,"));
  rig.fader(0).setValue(9);
  rig.scheduler.advanceBy(300ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX005,"));

  rig.scheduler.advanceBy(200ms);  // the delay ends, and with it the run
  EXPECT_FALSE(ed().engine().running());
  EXPECT_TRUE(liveOutputOn());
  EXPECT_EQ(ed().Text5.selLength(), 0);
  EXPECT_EQ(ed().Command5.tag(), QStringLiteral("1"));  // not reset by a normal end
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX009,"));
}

TEST_F(EditorPlayback, TimerFourReHandsTheFrameDuringARun) {
  play(QStringLiteral("DMX005,\r\n!T000020'100mS"));
  rig.driver.Text7.setText(QStringLiteral("DMX123,"));
  rig.scheduler.advanceBy(700ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX123,"));
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX005,"));
}

TEST_F(EditorPlayback, EmptyScriptSwitchesTheTimersAndBack) {
  play(QString());
  EXPECT_FALSE(ed().engine().running());
  EXPECT_TRUE(liveOutputOn());
}

TEST_F(EditorPlayback, ZeroCountDoesNotWaitAndTheLeftoverTickShowsMinusOne) {
  play(QStringLiteral("!T000000\r\nDMX003,"));
  EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX003,"));
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed().Label2.caption(), countdown(-1));
  EXPECT_FALSE(ed().timdelay.enabled());
}

TEST_F(EditorPlayback, StopDuringALongDelayEndsWithinTwoTicks) {
  const QString script = QStringLiteral("DMX001,\r\n!T000050'100mS\r\nDMX002,");
  play(script);
  rig.scheduler.advanceBy(1050ms);
  EXPECT_EQ(ed().Label2.caption(), countdown(40));
  ed().Command7_Click();
  rig.scheduler.advanceBy(50ms);
  EXPECT_EQ(ed().Label2.caption(), countdown(1));
  EXPECT_TRUE(ed().engine().running());
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed().Label2.caption(), countdown(0));
  EXPECT_FALSE(ed().engine().running());
  EXPECT_TRUE(liveOutputOn());
  // The delay instruction stays selected; the frame after it was never played.
  EXPECT_EQ(ed().Text5.selStart(), script.indexOf(u'!'));
  EXPECT_EQ(ed().Text5.selLength(), 1);
  EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX001,"));
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX077,"));
}

TEST_F(EditorPlayback, StopAfterAFrameEndsAtTheNextStep) {
  ed().Text5.setText(QStringLiteral("DMX001,DMX002,DMX003,"));
  ed().Command5_Click();
  rig.scheduler.runOnce();
  // The click lands while the run lets events run after its first frame.
  ASSERT_EQ(ed().Text7.text(), QStringLiteral("DMX001,"));
  ed().Command7_Click();
  rig.scheduler.settle();
  EXPECT_FALSE(ed().engine().running());
  EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX001,"));
}

TEST_F(EditorPlayback, RunPressedTwicePlaysFromTheStartThenTheFirstResumes) {
  const QString script = QStringLiteral("DMX001,\r\n!T000003'100mS\r\nDMX002,\r\n!T000003'100mS");
  const int secondFrame = static_cast<int>(script.indexOf(QStringLiteral("DMX002")));
  const int secondDelay = static_cast<int>(script.lastIndexOf(u'!'));
  play(script);
  rig.scheduler.advanceBy(150ms);
  TextHistory frames(ed().Text7);
  ed().Command5_Click();
  rig.scheduler.runOnce();
  EXPECT_EQ(ed().engine().runDepth(), 2u);
  EXPECT_EQ(ed().Text5.selStart(), 0);  // the new run starts at the first frame
  EXPECT_EQ(ed().Text5.selLength(), 7);
  rig.scheduler.settle();
  EXPECT_EQ(ed().Text5.selStart(), script.indexOf(u'!'));  // and waits out its first delay

  // The second run plays its two frames and ends; the first is still suspended.
  while (ed().engine().runDepth() == 2 && rig.clock.tickCount() < 5000)
    rig.scheduler.advanceBy(10ms);
  ASSERT_EQ(ed().engine().runDepth(), 1u);
  EXPECT_TRUE(liveOutputOn());
  EXPECT_EQ(frames.texts, std::vector<QString>{QStringLiteral("DMX002,")});

  // The first run resumes where it was: on to its second frame and delay, not from the start.
  rig.scheduler.settle();
  EXPECT_EQ(ed().Text5.selStart(), secondDelay);
  EXPECT_GT(secondDelay, secondFrame);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX077,"));  // live output runs meanwhile
  rig.scheduler.advanceBy(300ms);
  EXPECT_FALSE(ed().engine().running());
  EXPECT_EQ(std::count(frames.texts.begin(), frames.texts.end(), QStringLiteral("DMX001,")), 0);
}

TEST_F(EditorPlayback, OneStopEndsTwoStackedRuns) {
  const QString script = QStringLiteral("DMX001,\r\n!T000050'100mS\r\nDMX002,");
  play(script);
  rig.scheduler.advanceBy(150ms);
  ed().Command5_Click();
  rig.scheduler.advanceBy(350ms);
  ASSERT_EQ(ed().engine().runDepth(), 2u);
  ed().Command7_Click();
  rig.scheduler.advanceBy(200ms);
  EXPECT_FALSE(ed().engine().running());
  EXPECT_EQ(ed().Command5.tag(), QStringLiteral("0"));
  EXPECT_TRUE(liveOutputOn());
  EXPECT_EQ(ed().Label2.caption(), countdown(0));
  EXPECT_EQ(ed().Text7.text(), QStringLiteral("DMX001,"));
}

TEST_F(EditorPlayback, LoopInstructionIsPassedOver) {
  TextHistory frames(ed().Text7);
  play(QStringLiteral("DMX001,\r\n!T000002'100mS\r\n!GT000\r\nDMX002,\r\n!T000002'100mS"));
  rig.scheduler.advanceBy(2s);
  EXPECT_FALSE(ed().engine().running());
  EXPECT_EQ(frames.texts,
            (std::vector<QString>{QStringLiteral("DMX001,"), QStringLiteral("DMX002,"),
                                  QStringLiteral("DMX077,")}));
}

TEST(EditorPlaybackLongDelay, CountsAboveThe16BitRangePlayInFull) {
  // Frames once a second keep this long virtual stretch light.
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("1")},
                 {QStringLiteral("发送定时器时间"), QStringLiteral("1000")}});
  Form3& ed = rig.editor();
  ed.Show();
  // Ticking every millisecond, the hour below would take minutes: fail at once instead.
  ASSERT_EQ(ed.Timer3.interval(), 1000);
  ed.Text5.setText(QStringLiteral("DMX001,\r\n!T040000'100mS\r\nDMX002,"));
  ed.Command5_Click();
  rig.scheduler.advanceBy(3276800ms);
  EXPECT_EQ(ed.Label2.caption(), countdown(40000 - 32768));
  EXPECT_EQ(ed.Text7.text(), QStringLiteral("DMX001,"));
  rig.scheduler.advanceBy(723100ms);
  EXPECT_EQ(ed.Text7.text(), QStringLiteral("DMX001,"));
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), QStringLiteral("DMX002,"));
}

TEST_F(EditorPlayback, ClosingTheEditorEndsItsRuns) {
  play(QStringLiteral("DMX001,\r\n!T000030'100mS\r\nDMX002,"));
  ed().Command5_Click();
  rig.scheduler.advanceBy(300ms);
  ASSERT_EQ(ed().engine().runDepth(), 2u);
  ed().Command8_Click();
  EXPECT_FALSE(ed().engine().running());
  EXPECT_FALSE(ed().timdelay.enabled());
  EXPECT_FALSE(ed().Timer4.enabled());
  TextHistory handed(rig.driver.Text7);
  rig.scheduler.advanceBy(5s);
  EXPECT_TRUE(handed.texts.empty());
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX001,"));

  // A fresh window starts idle, with live output on and the countdown at 0.
  ed().Show();
  EXPECT_EQ(ed().Label2.caption(), countdown(0));
  EXPECT_TRUE(liveOutputOn());
  EXPECT_FALSE(ed().timdelay.enabled());
}
