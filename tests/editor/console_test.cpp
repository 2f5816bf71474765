#include <gtest/gtest.h>

#include <chrono>

#include "editor_rig.h"
#include "editor_window.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

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

  rig.driver.Text5.setText(QStringLiteral("2"));
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,"));
  rig.driver.Text5.setText(QStringLiteral("0"));
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX"));
  rig.driver.Text5.setText(QStringLiteral("-4"));
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX"));
  // A fractional count writes the groups "For i = 0 To N - 1" runs through, as many as the
  // driver's intake parses: 2 for 2.5 and for 2.9, 3 from 3 on.
  rig.driver.Text5.setText(QStringLiteral("2.5"));
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,"));
  rig.driver.Text5.setText(QStringLiteral("2.9"));
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,"));
  rig.driver.Text5.setText(QStringLiteral("3"));
  EXPECT_EQ(ed.BuildChannelDataText(), QStringLiteral("DMX255,007,009,"));

  rig.fader(511).setValue(128);
  rig.driver.Text5.setText(QStringLiteral("600"));
  const QString t = ed.BuildChannelDataText();
  ASSERT_EQ(t.size(), 3 + 4 * 600);
  EXPECT_EQ(t.mid(3 + 4 * 511, 4), QStringLiteral("128,"));
  for (int i = 512; i < 600; ++i) EXPECT_EQ(t.mid(3 + 4 * i, 4), QStringLiteral("000,")) << i;
  // A mistyped huge length is capped rather than building a text of millions of groups.
  rig.driver.Text5.setText(QStringLiteral("1e12"));
  EXPECT_LE(ed.BuildChannelDataText().size(), 3 + 4 * 65535);
}

TEST(EditorLiveOutput, ChannelsBeyondTheCountAndPageChangesHandNothing) {
  EditorRig rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}});
  Form3& ed = rig.editor();
  rig.editor().Show();
  rig.scheduler.advanceBy(100ms);
  TextHistory handed(rig.driver.Text7);
  TextHistory box(ed.Text7);
  rig.fader(4).setValue(99);
  ed.Option1_Click(5);
  rig.scheduler.advanceBy(1s);
  EXPECT_TRUE(handed.texts.empty());
  EXPECT_TRUE(box.texts.empty());
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
