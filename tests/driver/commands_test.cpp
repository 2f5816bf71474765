#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

#include "driver_fixture.h"
#include "driver_window.h"
#include "launcher_builder.h"
#include "launcher_files.h"
#include "support/text_history.h"
#include "support/virtual_time.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

std::vector<int> faderValues(Form3& editor, int count) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(editor.VScroll1[static_cast<std::size_t>(i)].value());
  return v;
}

QString channelText(int groups, const std::function<int(int)>& level) {
  QString s = QStringLiteral("DMX");
  for (int i = 0; i < groups; ++i) s += QString::number(level(i)).rightJustified(3, u'0') + u',';
  return s;
}

}  // namespace

TEST(DriverDebugState, EmptyChannelTextSetsTheFadersToZeroAndShowsTheEditor) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  rig.driver.Command3_Click();
  rig.fader(2).setValue(90);
  rig.fader(6).setValue(60);
  rig.driver.Text7.setText(QString());
  rig.driver.Command3_Click();
  EXPECT_EQ(faderValues(rig.editor(), 4), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(rig.fader(6).value(), 60);  // beyond the send data length: untouched
  EXPECT_EQ(rig.editor().Text2[2].text(), QStringLiteral("0"));
  EXPECT_TRUE(rig.editor().loaded());
  EXPECT_TRUE(rig.editor().visible());
  EXPECT_TRUE(rig.driver.visible());
}

TEST(DriverDebugState, FaderValuesComeFromTheChannelText) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("5")}});
  rig.driver.Text7.setText(QStringLiteral("DMX001,255,000,128,017,099,"));
  rig.driver.Command3_Click();
  EXPECT_EQ(faderValues(rig.editor(), 6), (std::vector<int>{1, 255, 0, 128, 17, 0}));
  EXPECT_EQ(rig.editor().Text2[1].text(), QStringLiteral("255"));
  EXPECT_EQ(rig.editor().Text2[4].text(), QStringLiteral("17"));
}

TEST(DriverDebugState, ValueOutsideTheFaderRangeKeepsThatFader) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3")}});
  rig.driver.Command3_Click();
  rig.fader(1).setValue(55);
  rig.driver.Text7.setText(QStringLiteral("DMX010,300,020,"));
  rig.driver.Command3_Click();
  EXPECT_EQ(faderValues(rig.editor(), 3), (std::vector<int>{10, 55, 20}));
  EXPECT_EQ(rig.editor().Text2[1].text(), QStringLiteral("55"));
}

TEST(DriverDebugState, LengthBeyondTheFadersSetsAllFaders) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("600")}});
  rig.driver.Text7.setText(channelText(600, [](int i) { return i % 256; }));
  rig.driver.Command3_Click();
  ASSERT_EQ(rig.editor().VScroll1.size(), 512u);
  for (int i = 0; i < 512; ++i) EXPECT_EQ(rig.fader(i).value(), i % 256) << i;
  EXPECT_TRUE(rig.editor().visible());
}

TEST(DriverDebugState, ParameterLabelActsAsTheDebugStateButton) {
  const QString text = QStringLiteral("DMX009,300,abc,004,");
  DriverEditorRig byButton({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  DriverEditorRig byLabel({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  for (DriverEditorRig* rig : {&byButton, &byLabel}) {
    rig->driver.Command3_Click();
    rig->fader(1).setValue(42);
    rig->fader(2).setValue(43);
    rig->driver.Text7.setText(text);
  }
  byButton.driver.Command3.click();
  ASSERT_TRUE(byLabel.driver.Label2.Click);
  byLabel.driver.Label2.Click();
  EXPECT_EQ(faderValues(byButton.editor(), 5), faderValues(byLabel.editor(), 5));
  EXPECT_EQ(faderValues(byLabel.editor(), 4), (std::vector<int>{9, 42, 0, 4}));
  EXPECT_EQ(byButton.editor().visible(), byLabel.editor().visible());
}

TEST(DriverDebugState, ZeroLengthStillShowsTheEditor) {
  DriverEditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("0")}});
  rig.driver.Command3_Click();
  EXPECT_TRUE(rig.editor().visible());
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX"));
}

TEST(DriverExit, EndsTheProgramThroughItsQuitHook) {
  DriverEditorRig rig;
  int quits = 0;
  rig.driver.onQuit = [&] { ++quits; };
  rig.driver.Command3_Click();
  rig.driver.Command1.click();
  EXPECT_EQ(quits, 1);
}

TEST(DriverVersionNotes, ShowsTheSameNotesWindowEachTime) {
  DriverEditorRig rig;
  Form4& notes = rig.driver.notes();
  EXPECT_FALSE(notes.visible());
  ASSERT_TRUE(rig.driver.Label6.Click);
  rig.driver.Label6.Click();
  EXPECT_TRUE(notes.visible());
  EXPECT_EQ(notes.caption(), QStringLiteral("版记录"));
  EXPECT_EQ(notes.Text1.text(),
            QStringLiteral("091105 增加跳循环功能,利用!GT000指令可以生产循环运行的效果\r\n"
                           "091106 保存的数据长度可以用“发送数据长度”来设置\r\n"
                           "091201 优化发送速度\r\n"));
  notes.Text1.setText(QStringLiteral("scribbled"));
  notes.Hide();
  rig.driver.Label6.Click();
  EXPECT_TRUE(notes.visible());
  EXPECT_EQ(&rig.driver.notes(), &notes);
  EXPECT_EQ(notes.Text1.text(), QStringLiteral("scribbled"));
}

// "根据配置文件生成EXE": the builder copies the launcher that last started the driver (Text1) to
// one launcher per scene, in the folder above the driver's, and stays hidden.
TEST(DriverBuildLaunchers, TheButtonBuildsFromTheLastLaunchersName) {
  QTemporaryDir root;
  const QString launchers = root.path() + QStringLiteral("/show");
  const QString driverFolder = launchers + QStringLiteral("/驱动");
  ASSERT_TRUE(QDir().mkpath(driverFolder));
  const QString suffix = launcherSuffix();
  const QByteArray program = QByteArray("MZ\r\n") + QByteArray(1, '\0') + "program bytes";
  QFile intro(launchers + QStringLiteral("/Intro") + suffix);
  ASSERT_TRUE(intro.open(QIODevice::WriteOnly));
  intro.write(program);
  intro.close();
  QFile catalogue(driverFolder + QStringLiteral("/场景.ini"));
  ASSERT_TRUE(catalogue.open(QIODevice::WriteOnly));
  catalogue.write("[DMX]\r\nIntro=DMX010,\r\nFinale=DMX020,\r\n");
  catalogue.close();

  ManualClock clock;
  VirtualScheduler scheduler(clock);
  RecordingPort port;
  MemoryHandoff handoff;
  SerialBoxOutput output(port);
  Form1 driver(scheduler, driverFolder, output, handoff);
  driver.Text1.setText(QStringLiteral("Intro"));
  EXPECT_EQ(driver.builder(), nullptr);
  driver.Command2.click();
  ASSERT_NE(driver.builder(), nullptr);
  EXPECT_EQ(driver.builder()->List1.items(), (QStringList{"Intro", "Finale"}));
  QFile finale(launchers + QStringLiteral("/Finale") + suffix);
  ASSERT_TRUE(finale.open(QIODevice::ReadOnly));
  EXPECT_EQ(finale.readAll(), program);
  EXPECT_FALSE(driver.builder()->visible());
  // What was written shows in the driver window, then the output's status comes back.
  EXPECT_EQ(driver.StatusLine.caption(), driver.builder()->Label1.caption());
  EXPECT_TRUE(driver.StatusLine.caption().startsWith(QStringLiteral("已写入 1 个启动器")))
      << driver.StatusLine.caption().toStdString();
  scheduler.advanceBy(std::chrono::milliseconds(Form1::kBuilderMessageMs + 100));
  EXPECT_EQ(driver.StatusLine.caption(), output.status());
}
