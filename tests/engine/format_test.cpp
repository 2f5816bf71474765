#include <gtest/gtest.h>

#include <vector>

#include "channel_data.h"
#include "script.h"

using namespace luvrin;

TEST(ChannelData, ComposesThreeDigitGroupsWithCommas) {
  const std::vector<std::uint8_t> levels{255, 7, 0, 128};
  EXPECT_EQ(composeChannelData(levels), QStringLiteral("DMX255,007,000,128,"));
  EXPECT_EQ(composeChannelData({}), QStringLiteral("DMX"));
  std::vector<std::uint8_t> many(128, 1);
  const QString text = composeChannelData(many);
  EXPECT_EQ(text.size(), 515);
  EXPECT_EQ(text.mid(511, 4), QStringLiteral("001,"));  // channel 128 at 512..514
}

TEST(ChannelData, ReadsLevelsByPositionAlone) {
  const QString text = QStringLiteral("XYZ255;000|128,");
  EXPECT_EQ(readLevel(text, 0), 255);
  EXPECT_EQ(readLevel(text, 1), 0);
  EXPECT_EQ(readLevel(text, 2), 128);
  EXPECT_EQ(readLevel(text, 3), 0);  // wholly past the end
}

TEST(ChannelData, FieldEdgeCases) {
  EXPECT_FALSE(readLevel(u"DMX256,", 0).has_value());
  EXPECT_FALSE(readLevel(u"DMX-01,", 0).has_value());
  EXPECT_EQ(readLevel(u"DMX 12,", 0), 12);
  EXPECT_EQ(readLevel(u"DMX7,0,", 0), 7);
  EXPECT_EQ(readLevel(u"DMXabc,", 0), 0);
  EXPECT_EQ(readLevel(u"DMX2 5,", 0), 25);
  EXPECT_EQ(readLevel(u"DMX12", 0), 12);  // a partly present field
  EXPECT_FALSE(readLevel(u"DMX999,", 0).has_value());
  EXPECT_EQ(readLevel(u"DMX1.5,", 0), 2);
  EXPECT_EQ(readLevel(u"DMX2.5,", 0), 2);
  EXPECT_EQ(readLevelValue(u"DMX300,", 0), 300);
  EXPECT_EQ(readLevelValue(u"DMX", 5), 0);
}

TEST(ScriptInstructions, RecognisedExactlyAndInOrder) {
  const QString s = QStringLiteral("DMX!T000010!GT000dmx!t!GT001");
  EXPECT_EQ(instructionAt(s, 0), Instruction::Frame);
  EXPECT_EQ(instructionAt(s, 3), Instruction::Delay);
  EXPECT_EQ(instructionAt(s, 11), Instruction::Loop);
  EXPECT_EQ(instructionAt(s, 17), Instruction::None);  // dmx
  EXPECT_EQ(instructionAt(s, 20), Instruction::None);  // !t
  EXPECT_EQ(instructionAt(s, 22), Instruction::None);  // !GT001
  EXPECT_EQ(instructionAt(s, 99), Instruction::None);
}

TEST(ScriptInstructions, CountFieldIsTheSixCharactersAfterBang) {
  EXPECT_EQ(delayCount(u"!T000010'100mS", 0), 10);
  EXPECT_EQ(delayCount(u"!T5\r\nDMX", 0), 5);
  EXPECT_EQ(delayCount(u"!T1000000'100mS", 0), 100000);  // seventh digit passed over
  EXPECT_EQ(delayCount(u"!Tabcdef", 0), 0);
  EXPECT_EQ(delayCount(u"!T", 0), 0);
  EXPECT_FALSE(delayCount(u"!T9e9999", 0).has_value());
}

TEST(ScriptRecording, DelayDigitsAreAtLeastSixAndPlayFromTheFirstSix) {
  EXPECT_EQ(delayDigits(1), QStringLiteral("000001"));
  EXPECT_EQ(delayDigits(25), QStringLiteral("000025"));
  EXPECT_EQ(delayDigits(2.5), QStringLiteral("000002"));
  EXPECT_EQ(delayDigits(-3), QStringLiteral("000000"));
  EXPECT_EQ(delayDigits(1234567), QStringLiteral("1234567"));
  EXPECT_EQ(delayDigits(INFINITY), QStringLiteral("9007199254740992"));
  // Whatever is recorded reads back from its first six digits.
  for (double v : {0.0, 7.0, 123456.0, 1234567.0, 5e6}) {
    const QString line = QStringLiteral("!T") + delayDigits(v) + QStringLiteral("'100mS");
    EXPECT_EQ(delayCount(line, 0), delayDigits(v).left(6).toInt());
  }
}

TEST(ScriptRecording, ActionLayout) {
  EXPECT_EQ(composeAction(QStringLiteral("DMX255,000,017,"), QStringLiteral("000005")),
            QStringLiteral("\r\nDMX255,000,017,\r\n!T000005'100mS"));
}
