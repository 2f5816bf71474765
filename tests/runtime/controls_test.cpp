#include "controls.h"

#include <gtest/gtest.h>

using namespace luvrin;

TEST(TextBoxModel, ChangeRunsOnlyOnARealChange) {
  TextBox box;
  int changes = 0;
  box.Change = [&] { ++changes; };
  box.setText(QStringLiteral("DMX"));
  box.setText(QStringLiteral("DMX"));
  box.setText(QString());
  EXPECT_EQ(changes, 2);
}

TEST(TextBoxModel, HandlerMaySetItsOwnTextAgain) {
  TextBox box;
  int runs = 0;
  box.Change = [&] {
    ++runs;
    if (!box.text().isEmpty()) box.setText(QString());
  };
  box.setText(QStringLiteral("x"));
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(box.text().isEmpty());
}

TEST(TextBoxModel, SelectionStaysInsideTheText) {
  TextBox box(QStringLiteral("ab\r\ncd"));
  box.select(4, 10);
  EXPECT_EQ(box.selStart(), 4);
  EXPECT_EQ(box.selLength(), 2);
  box.setSelStart(99);
  EXPECT_EQ(box.selStart(), 6);
  EXPECT_EQ(box.selLength(), 0);
  box.setText(QStringLiteral("x"));
  EXPECT_EQ(box.selStart(), 0);
}

TEST(ScrollBarModel, OutOfRangeValueFailsAndKeepsTheOldOne) {
  ScrollBar bar;
  bar.setRange(0, 255);
  int changes = 0;
  bar.Change = [&] { ++changes; };
  EXPECT_TRUE(bar.setValue(200));
  EXPECT_FALSE(bar.setValue(300));
  EXPECT_FALSE(bar.setValue(-1));
  EXPECT_TRUE(bar.setValue(200));
  EXPECT_EQ(bar.value(), 200);
  EXPECT_EQ(changes, 1);
}

TEST(ControlNotifier, ViewsHearChangesAndMayUnsubscribeWhileNotified) {
  Label label;
  int heard = 0;
  Notifier::Id id = 0;
  id = label.changed().subscribe([&] {
    ++heard;
    label.changed().unsubscribe(id);
  });
  label.setCaption(QStringLiteral("乘余时间:1"));
  label.setCaption(QStringLiteral("乘余时间:0"));
  EXPECT_EQ(heard, 1);
}
