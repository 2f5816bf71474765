#include "script_cursor.h"

#include <gtest/gtest.h>

using luvrin::ScriptCursor;

TEST(ScriptCursor, FrameCoversTheWholeGroupsOfTheChannelCount) {
  const QString s = QStringLiteral("DMX001,002,003,004,");
  // 3.5 channels parse as 3 groups, 0 and negative as none.
  ScriptCursor c(s.size(), 3.5);
  EXPECT_EQ(c.frameLength(), 15);
  EXPECT_EQ(c.frameSpan(), 12);
  EXPECT_EQ(c.frame(s), QStringLiteral("DMX001,002,003,"));
  ScriptCursor none(s.size(), 0);
  EXPECT_EQ(none.frame(s), QStringLiteral("DMX"));
  EXPECT_EQ(none.frameSpan(), 0);
  // Near the end the frame is what remains.
  ScriptCursor wide(s.size(), 8);
  wide.advance(7);
  EXPECT_EQ(wide.frame(s), QStringLiteral("002,003,004,"));
}

TEST(ScriptCursor, RecognisesOnlyWhatStartsExactlyAtItsPosition) {
  const QString s = QStringLiteral("xDMX!T000012!GT000dmx!t000001");
  ScriptCursor c(s.size(), 1);
  EXPECT_FALSE(c.atFrame(s));
  c.step();
  EXPECT_EQ(c.index(), 1);
  EXPECT_TRUE(c.atFrame(s));
  EXPECT_FALSE(c.atDelay(s));
  c.advance(3);
  EXPECT_TRUE(c.atDelay(s));
  EXPECT_EQ(c.delay(s), 12);
  c.passDelay();
  EXPECT_TRUE(c.atLoop(s));
  EXPECT_FALSE(c.atDelay(s));
  EXPECT_FALSE(c.atFrame(s));
  c.advance(6);
  // Lower case is plain text.
  EXPECT_FALSE(c.atFrame(s));
  c.advance(3);
  EXPECT_FALSE(c.atDelay(s));
}

TEST(ScriptCursor, EndBoundIsTheLengthAtTheStartAndRestartComesBackToTheFirstCharacter) {
  QString s = QStringLiteral("DMX001,");
  ScriptCursor c(s.size(), 1);
  s += QStringLiteral("!T000003");
  c.advance(6);
  EXPECT_EQ(c.position(), 7);
  EXPECT_TRUE(c.inside());
  c.step();
  // The delay added later lies beyond the bound, though the cursor still sees it.
  EXPECT_FALSE(c.inside());
  EXPECT_TRUE(c.atDelay(s));
  c.restart();
  c.step();
  EXPECT_EQ(c.position(), 1);
  EXPECT_TRUE(c.atFrame(s));
}

TEST(ScriptCursor, DelayCountThatDoesNotFitIsNone) {
  const QString s = QStringLiteral("!T9e99  !T2.5   !T-3    ");
  ScriptCursor c(s.size(), 1);
  EXPECT_EQ(c.delay(s), std::nullopt);
  c.passDelay();
  EXPECT_EQ(c.delay(s), 2);  // halves round to even
  c.passDelay();
  EXPECT_EQ(c.delay(s), -3);
}
