#include <gtest/gtest.h>

#include <chrono>

#include "editor_rig.h"
#include "editor_window.h"

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

}  // namespace

TEST(EditorConsole, LoadLaysEveryPageOutInAscendingChannelOrder) {
  EditorRig rig;
  Form3& ed = rig.editor();
  ed.Load();
  for (int i = 0; i < Form3::kFaderCount; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const int left = 120 + 360 * (i % 40);
    EXPECT_EQ(ed.VScroll1[k].left(), left) << i;
    EXPECT_EQ(ed.Text2[k].left(), left) << i;
    EXPECT_EQ(ed.Text3[k].left(), left) << i;
    EXPECT_EQ(ed.Text3[k].text(), QString::number(i + 1)) << i;
    EXPECT_EQ(ed.Text2[k].text(), QStringLiteral("0")) << i;
    EXPECT_EQ(ed.VScroll1[k].value(), 0) << i;
  }
  EXPECT_EQ(ed.VScroll1[0].top(), 840);
  EXPECT_EQ(ed.VScroll1[0].height(), 3135);
  EXPECT_EQ(ed.Text3[39].top(), 240);
  EXPECT_EQ(ed.Text2[479].top(), 600);
}

TEST(EditorConsole, PageAndButtonCaptions) {
  EditorRig rig;
  Form3& ed = rig.editor();
  ed.Load();
  QStringList options, pages;
  for (int f = 0; f < Form3::kPageCount; ++f) {
    options << ed.Option1[static_cast<std::size_t>(f)].caption();
    pages << ed.Frame1[static_cast<std::size_t>(f)].caption();
  }
  EXPECT_EQ(options.join(u' '), QStringLiteral("1 41 81 121 161 201 241 281 321 361 401 441 481"));
  EXPECT_EQ(pages.join(u' '), QStringLiteral("1 2 3 4 5 6 7 8 9 10 11 12 13"));
  // The buttons stand in one row, left to right.
  for (int f = 1; f < Form3::kPageCount; ++f) {
    EXPECT_EQ(ed.Option1[static_cast<std::size_t>(f)].top(), 600);
    EXPECT_GE(ed.Option1[static_cast<std::size_t>(f)].left(),
              ed.Option1[static_cast<std::size_t>(f - 1)].left() + 735);
  }
}

TEST(EditorConsole, OnlyOnePageIsVisibleAndAlwaysAtPageZerosPlace) {
  EditorRig rig;
  Form3& ed = rig.editor();
  ed.Load();
  EXPECT_EQ(visiblePages(ed), std::vector<int>{0});
  EXPECT_TRUE(ed.Option1[0].value());

  for (int f : {12, 3, 0, 7}) {
    ed.Option1_Click(f);
    EXPECT_EQ(visiblePages(ed), std::vector<int>{f});
    EXPECT_EQ(ed.currentPage(), f);
    for (int k = 0; k < Form3::kPageCount; ++k) {
      const auto& page = ed.Frame1[static_cast<std::size_t>(k)];
      EXPECT_EQ(page.left(), 120);
      EXPECT_EQ(page.top(), 960);
      EXPECT_EQ(ed.Option1[static_cast<std::size_t>(k)].value(), k == f);
    }
  }
}

TEST(EditorConsole, LastPageHoldsThirtyTwoFaders) {
  EXPECT_EQ(Form3::pageFaders(0), (std::pair{0, 40}));
  EXPECT_EQ(Form3::pageFaders(11), (std::pair{440, 40}));
  EXPECT_EQ(Form3::pageFaders(12), (std::pair{480, 32}));
  EXPECT_EQ(Form3::pageOf(511), 12);
  EXPECT_EQ(Form3::pageOf(40), 1);
}

TEST(EditorConsole, FaderStepsAndValueBox) {
  EditorRig rig;
  Form3& ed = rig.editor();
  ed.Load();
  ScrollBar& f = ed.VScroll1[7];
  EXPECT_EQ(f.min(), 0);
  EXPECT_EQ(f.max(), 255);
  // One of the steps is 1, the other 10.
  EXPECT_EQ(f.smallChange(), 1);
  EXPECT_EQ(f.largeChange(), 10);

  // A drag refreshes the value box continuously, to the top and the bottom.
  f.scrollTo(100);
  EXPECT_EQ(ed.Text2[7].text(), QStringLiteral("100"));
  f.scrollTo(255);
  EXPECT_EQ(ed.Text2[7].text(), QStringLiteral("255"));
  f.scrollTo(0);
  EXPECT_EQ(ed.Text2[7].text(), QStringLiteral("0"));

  // A value set by code shows too; one outside the range is refused.
  EXPECT_TRUE(f.setValue(17));
  EXPECT_EQ(ed.Text2[7].text(), QStringLiteral("17"));
  EXPECT_FALSE(f.setValue(256));
  EXPECT_EQ(f.value(), 17);
  EXPECT_EQ(ed.Text2[7].text(), QStringLiteral("17"));
}

TEST(EditorConsole, TypingIntoAValueBoxChangesNothingUntilTheFaderMoves) {
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("8")}});
  Form3& ed = rig.editor();
  ed.Show();
  rig.fader(7).setValue(5);
  rig.scheduler.advanceBy(100ms);
  const QString out = rig.driver.Text7.text();
  ed.Text2[7].setText(QStringLiteral("99"));
  rig.scheduler.advanceBy(300ms);
  EXPECT_EQ(rig.fader(7).value(), 5);
  EXPECT_EQ(rig.driver.Text7.text(), out);
  rig.fader(7).setValue(6);
  EXPECT_EQ(ed.Text2[7].text(), QStringLiteral("6"));
}

TEST(EditorChannelData, GroupsFollowTheChannelCount) {
  EditorRig rig;
  Form3& ed = rig.editor();
  ed.Load();
  rig.fader(0).setValue(255);
  rig.fader(1).setValue(7);
  rig.fader(2).setValue(9);

  ed.OUTBUFCNT = 2;
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,"));
  ed.OUTBUFCNT = 0;
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX"));
  ed.OUTBUFCNT = -4;
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX"));
  // A fractional count writes the groups "For i = 0 To N - 1" runs through, as many as the
  // driver's intake parses: 2 for 2.5 and for 2.9, 3 from 3 on.
  ed.OUTBUFCNT = 2.5;
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,"));
  ed.OUTBUFCNT = 2.9;
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,"));
  ed.OUTBUFCNT = 3;
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,009,"));

  rig.fader(511).setValue(128);
  ed.OUTBUFCNT = 600;
  const QString t = ed.BuildChannelDataText();
  ASSERT_EQ(t.size(), 3 + 4 * 600);
  EXPECT_EQ(t.mid(3 + 4 * 511, 4), QStringLiteral("128,"));
  for (int i = 512; i < 600; ++i) EXPECT_EQ(t.mid(3 + 4 * i, 4), QStringLiteral("000,")) << i;
  // A mistyped huge length is capped rather than building a text of millions of groups.
  ed.OUTBUFCNT = 1e12;
  EXPECT_LE(ed.BuildChannelDataText().size(), 3 + 4 * 65535);
}

class EditorChannelCount : public ::testing::TestWithParam<std::pair<const char*, double>> {};

TEST_P(EditorChannelCount, IsTheNumericValueOfTheDriversLengthWithoutLoadingTheEditor) {
  const auto [text, expected] = GetParam();
  EditorRig rig({{QStringLiteral("发送数据长度"), QString::fromUtf8(text)}});
  EXPECT_EQ(rig.editor().OUTBUFCNT, expected);
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
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  Form3& ed = rig.editor();
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), groups({0, 0, 0, 0}));

  rig.driver.Text5.setText(QStringLiteral("6"));
  EXPECT_EQ(ed.OUTBUFCNT, 6.0);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(ed.Text7.text(), groups({0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rig.driver.Text7.text(), groups({0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(ed.loaded());

  // It keeps its value while the window is closed, and follows the driver then too.
  ed.Command8_Click();
  EXPECT_EQ(ed.OUTBUFCNT, 6.0);
  rig.driver.Text5.setText(QStringLiteral("abc"));
  EXPECT_EQ(ed.OUTBUFCNT, 0.0);
  EXPECT_FALSE(ed.loaded());
}

TEST(EditorChannelCountFollowsTheDriver, FractionalLengthGivesTheSameGroupsEverywhere) {
  // 3.5: intake parses groups 0 to 2 ("For k = 0 To N - 1"), the frame has indices 0 to 4
  // (3.5 rounds to 4); the editor's faders, its texts and both engines take 3 groups as well.
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3.5")}});
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
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
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

TEST(EditorLiveOutput, ChannelsBeyondTheCountAndPageChangesHandNothing) {
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  Form3& ed = rig.editor();
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(100ms);
  TextHistory handed(rig.driver.Text7);
  TextHistory box(ed.Text7);
  rig.fader(4).setValue(99);
  ed.Option1_Click(5);
  rig.scheduler.advanceBy(1s);
  EXPECT_TRUE(handed.texts.empty());
  EXPECT_TRUE(box.texts.empty());
}

TEST(EditorLiveOutput, RestingFadersLeaveAScenesTextAlone) {
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("2")}});
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

TEST(EditorLiveOutput, IntervalComesFromTheSettingsFile) {
  struct Case {
    const char* value;
    int interval;
  };
  // Numbers as Windows converts a whole string (halves to even); no number, or text after it,
  // keeps 100 ms.
  for (const Case c :
       {Case{"20", 20}, Case{"", 100}, Case{"abc", 100}, Case{"70000", 100}, Case{"-1", 100},
        Case{"0", 0}, Case{"2.5", 2}, Case{"3.5", 4}, Case{" 50", 50}, Case{"50.0", 50},
        Case{"5e1", 50}, Case{"50abc", 100}, Case{"65535.5", 100}}) {
    EditorRig rig({{QStringLiteral("发送定时器时间"), QString::fromUtf8(c.value)}});
    rig.editor().Load();
    EXPECT_EQ(rig.editor().Timer3.interval(), c.interval) << c.value;
    EXPECT_TRUE(rig.editor().Timer3.enabled()) << c.value;
  }
  EditorRig noFile;
  noFile.editor().Load();
  EXPECT_EQ(noFile.editor().Timer3.interval(), 100);
}

TEST(EditorLiveOutput, FirstTickAfterOpeningKeepsTheLevelsTheDriverHad) {
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3")}});
  rig.driver.Text7.setText(QStringLiteral("DMX001,002,003,"));
  rig.scheduler.advanceBy(200ms);
  TextHistory handed(rig.driver.Text7);
  rig.driver.Command3_Click();
  rig.scheduler.advanceBy(500ms);
  EXPECT_TRUE(handed.texts.empty());
  EXPECT_EQ(rig.port.lastFrameLevels(), (Levels{1, 2, 3, 0}));
}

TEST(EditorClose, ReopeningStartsFromTheDriversLevelsWithAnEmptyScriptBox) {
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("3")}});
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
