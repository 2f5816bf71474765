#include <gtest/gtest.h>

#include <QFile>
#include <chrono>
#include <optional>
#include <vector>

#include "driver_fixture.h"
#include "editor_window.h"
#include "support/text_history.h"

// The editor inside a whole driver: the length it takes from the driver, the levels it opens
// with, what its live output and runs put on the wire, and how they meet the driver's scenes.

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

QString groups(std::initializer_list<int> levels) {
  QString s = QStringLiteral("DMX");
  for (int v : levels) s += QString::number(v).rightJustified(3, u'0') + u',';
  return s;
}

std::vector<int> visiblePages(Form3& editor) {
  std::vector<int> shown;
  for (int f = 0; f < Form3::kPageCount; ++f)
    if (editor.Frame1[static_cast<std::size_t>(f)].visible()) shown.push_back(f);
  return shown;
}

QString countdown(int n) { return QStringLiteral("乘余时间:%1").arg(n); }

// The editor opened from the driver with one channel, fader 1 parked at 77.
class DriverSceneWhileTheEditorPlays : public ::testing::Test {
 protected:
  DriverSceneWhileTheEditorPlays() : rig({{QStringLiteral("发送数据长度"), QStringLiteral("1")}}) {
    rig.driver.Command3_Click();
    rig.fader(0).setValue(77);
    rig.scheduler.advanceBy(100ms);
  }
  Form3& ed() { return rig.editor(); }
  void play(const QString& script) {
    ed().Text5.setText(script);
    ed().Command5_Click();
    rig.scheduler.settle();
  }

  DriverEditorRig rig;
};

}  // namespace

class EditorChannelCount : public ::testing::TestWithParam<std::pair<const char*, double>> {};

TEST_P(EditorChannelCount, IsTheNumericValueOfTheDriversLengthWithoutLoadingTheEditor) {
  const auto [text, expected] = GetParam();
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QString::fromUtf8(text)}});
  EXPECT_EQ(rig.editor().OUTBUFCNT(), expected);
  EXPECT_FALSE(rig.editor().loaded());
  EXPECT_FALSE(rig.editor().Timer3.enabled());
  // An unloaded editor hands nothing to the driver.
  rig.driver.Text7.setText(QStringLiteral("DMX001,"));
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX001,"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, EditorChannelCount,
                         ::testing::Values(std::pair{"128", 128.0}, std::pair{"abc", 0.0},
                                           std::pair{"300", 300.0}, std::pair{"600", 600.0},
                                           std::pair{"2.5", 2.5}));

TEST(EditorChannelCountFollowsTheDriver, ChangeOfTheDriversLengthWhileOpen) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  Form3& ed = rig.editor();
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), groups({0, 0, 0, 0}));

  rig.driver.Text5.setText(QStringLiteral("6"));
  EXPECT_EQ(ed.OUTBUFCNT(), 6.0);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), groups({0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rig.driver.Text7.text(), groups({0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(ed.loaded());

  // It keeps its value while the window is closed, and follows the driver then too.
  ed.Command8_Click();
  EXPECT_EQ(ed.OUTBUFCNT(), 6.0);
  rig.driver.Text5.setText(QStringLiteral("abc"));
  EXPECT_EQ(ed.OUTBUFCNT(), 0.0);
  EXPECT_FALSE(ed.loaded());
}

TEST(EditorChannelCountFollowsTheDriver, FractionalLengthGivesTheSameGroupsEverywhere) {
  // 3.5: intake parses groups 0 to 2 ("For k = 0 To N - 1"), the frame has indices 0 to 4
  // (3.5 rounds to 4); the editor's faders, its texts and both engines take 3 groups as well.
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3.5")}});
  Form3& ed = rig.editor();
  rig.driver.Text7.setText(groups({10, 20, 30, 40}));
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.outputFrame(), (std::vector<std::uint8_t>{10, 20, 30, 0, 0}));

  rig.driver.Command3_Click();
  EXPECT_EQ(rig.fader(2).value(), 30);
  EXPECT_EQ(rig.fader(3).value(), 0);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), groups({10, 20, 30}));
  EXPECT_EQ(rig.driver.Text7.text(), groups({10, 20, 30}));

  rig.fader(0).setValue(11);
  ed.Text6.setText(QStringLiteral("3"));
  ed.Command4_Click();
  const QString script = ed.Text5.text();
  EXPECT_EQ(script,
            QStringLiteral("\r\n") + groups({11, 20, 30}) + QStringLiteral("\r\n!T000003'100mS"));

  // The editor's engine hands on the recorded line whole and nothing after it.
  TextHistory editorFrames(ed.Text7);
  ed.Command5_Click();
  rig.scheduler.advanceBy(500ms);
  ASSERT_FALSE(editorFrames.texts.empty());
  EXPECT_EQ(editorFrames.texts.front(), groups({11, 20, 30}));

  // So does the driver's, and the intake puts it on the wire.
  ed.Command8_Click();
  rig.driver.Text7.setText(QString());
  TextHistory driverFrames(rig.driver.Text7);
  rig.driver.Text4.setText(script);
  rig.scheduler.advanceBy(200ms);
  ASSERT_FALSE(driverFrames.texts.empty());
  EXPECT_EQ(driverFrames.texts.front(), groups({11, 20, 30}));
  EXPECT_EQ(rig.port.lastFrameLevels(), (Levels{11, 20, 30, 0, 0}));
}

TEST(EditorLiveOutput, FaderReachesTheDriverInOneTick) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  Form3& ed = rig.editor();
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(100ms);
  rig.fader(1).setValue(200);
  EXPECT_EQ(rig.driver.Text7.text(), groups({0, 0, 0, 0}));  // not before the tick
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), QStringLiteral("DMX000,200,000,000,"));
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX000,200,000,000,"));
  // And from there onto the wire.
  rig.scheduler.advanceBy(200ms);
  EXPECT_EQ(rig.port.lastFrameLevels(), (Levels{0, 200, 0, 0, 0}));
}

TEST(EditorLiveOutput, RestingFadersLeaveAScenesTextAlone) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("2")}});
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(100ms);
  rig.driver.Text7.setText(QStringLiteral("DMX050,060,"));
  rig.scheduler.advanceBy(2s);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX050,060,"));
  EXPECT_EQ(rig.port.lastFrameLevels(), (Levels{50, 60, 0}));
  // Until a fader of the output moves: then the whole fader text takes over.
  rig.fader(0).setValue(1);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX001,000,"));
}

TEST(EditorLiveOutput, FirstTickAfterOpeningKeepsTheLevelsTheDriverHad) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3")}});
  rig.driver.Text7.setText(QStringLiteral("DMX001,002,003,"));
  rig.scheduler.advanceBy(200ms);
  TextHistory handed(rig.driver.Text7);
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(500ms);
  EXPECT_TRUE(handed.texts.empty());
  EXPECT_EQ(rig.port.lastFrameLevels(), (Levels{1, 2, 3, 0}));
}

TEST(EditorClose, ReopeningStartsFromTheDriversLevelsWithAnEmptyScriptBox) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3")}});
  Form3& ed = rig.editor();
  rig.driver.Text7.setText(QStringLiteral("DMX010,020,030,"));
  rig.driver.Command3_Click();
  rig.fader(0).setValue(111);
  rig.fader(200).setValue(33);
  ed.Text5.setText(QStringLiteral("unsaved"));
  ed.Text6.setText(QStringLiteral("7"));
  ed.Option1_Click(4);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX111,020,030,"));

  ed.Command8_Click();
  EXPECT_FALSE(ed.loaded());
  EXPECT_FALSE(ed.visible());
  EXPECT_FALSE(ed.Timer3.enabled());
  // The driver keeps sending what it last received.
  rig.scheduler.advanceBy(1s);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX111,020,030,"));
  EXPECT_EQ(rig.port.lastFrameLevels(), (Levels{111, 20, 30, 0}));

  rig.driver.Text7.setText(QStringLiteral("DMX005,006,007,"));
  rig.driver.Command3_Click();
  EXPECT_TRUE(ed.visible());
  EXPECT_EQ(rig.fader(0).value(), 5);
  EXPECT_EQ(rig.fader(1).value(), 6);
  EXPECT_EQ(rig.fader(2).value(), 7);
  EXPECT_EQ(rig.fader(200).value(), 0);
  EXPECT_EQ(ed.Text2[200].text(), QStringLiteral("0"));
  EXPECT_EQ(ed.Text5.text(), QString());
  EXPECT_EQ(ed.Text6.text(), QStringLiteral("1"));
  EXPECT_EQ(ed.Text7.text(), QString());
  EXPECT_EQ(visiblePages(ed), std::vector<int>{0});
  EXPECT_EQ(ed.Label2.caption(), QStringLiteral("乘余时间:0"));
}

TEST_F(DriverSceneWhileTheEditorPlays, DriverSceneDuringAnEditorDelayLeavesRunAndStopWorking) {
  play(QStringLiteral("DMX001,\r\n!T000030'100mS\r\nDMX002,"));
  rig.scheduler.advanceBy(500ms);
  rig.driver.Text4.setText(QStringLiteral("DMX009,\r\n!T000002'100mS\r\n!GT000"));
  rig.scheduler.advanceBy(500ms);
  EXPECT_TRUE(rig.driver.engine().running());
  EXPECT_EQ(ed().Label2.caption(), countdown(20));
  ed().Command7_Click();
  rig.scheduler.advanceBy(200ms);
  EXPECT_FALSE(ed().engine().running());
  EXPECT_TRUE(rig.driver.engine().running());  // the scene plays on
}

TEST_F(DriverSceneWhileTheEditorPlays, DriverSceneDuringAnEditorDelayLetsTheRunFinish) {
  play(QStringLiteral("DMX001,\r\n!T000030'100mS\r\nDMX002,"));
  rig.scheduler.advanceBy(500ms);
  rig.driver.Text4.setText(QStringLiteral("DMX009,\r\n!T000002'100mS\r\n!GT000"));
  TextHistory frames(ed().Text7);
  rig.scheduler.advanceBy(2500ms);
  EXPECT_FALSE(ed().engine().running());
  ASSERT_FALSE(frames.texts.empty());
  EXPECT_EQ(frames.texts.front(), QStringLiteral("DMX002,"));
}

TEST(EditorScriptFiles, ASavedScriptLoadsAsAScene) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("2")}});
  const QString saved = rig.show.path(QStringLiteral("scene.ini"));
  rig.editor().dialogs.saveFileName = [&] { return std::optional<QString>(saved); };
  rig.driver.Command3_Click();
  rig.fader(0).setValue(12);
  rig.fader(1).setValue(34);
  rig.editor().Command4_Click();
  rig.editor().Command3_Click();
  rig.editor().Command8_Click();
  ASSERT_TRUE(QFile::exists(saved));

  rig.show.writeCatalog({QStringLiteral("演示=scene.ini")});
  rig.handoff.value = QStringLiteral("演示");
  rig.scheduler.advanceBy(500ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX012,034,"));
}
