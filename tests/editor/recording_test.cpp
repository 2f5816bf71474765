#include <gtest/gtest.h>

#include "editor_rig.h"
#include "editor_window.h"

using namespace luvrin;
using namespace luvrin::testing;

namespace {

// An editor loaded with the given channel count and faders, as the debug-state command leaves it.
struct Recorder {
  explicit Recorder(double channels) {
    rig.editor().Show();
    rig.driver.Text5.setText(QString::number(channels));
  }
  Form3& ed() { return rig.editor(); }
  EditorRig rig;
};

}  // namespace

TEST(EditorRecording, FirstActionIntoAnEmptyBox) {
  Recorder r(3);
  r.rig.fader(0).setValue(255);
  r.rig.fader(2).setValue(17);
  r.ed().Text6.setText(QStringLiteral("5"));
  r.ed().Command4_Click();
  const QString expected = QStringLiteral("\r\nDMX255,000,017,\r\n!T000005'100mS");
  EXPECT_EQ(r.ed().Text5.text(), expected);
  EXPECT_EQ(r.ed().Text5.selStart(), expected.size() - 1);
  EXPECT_EQ(r.ed().Text5.selLength(), 0);
  // Nothing else moves: the delay box keeps its text, the output is untouched.
  EXPECT_EQ(r.ed().Text6.text(), QStringLiteral("5"));
  EXPECT_EQ(r.ed().Text7.text(), QString());
  EXPECT_EQ(r.rig.fader(0).value(), 255);
}

TEST(EditorRecording, SecondActionAppendsAfterTypedText) {
  Recorder r(2);
  r.ed().Command4_Click();
  r.ed().Text5.setText(r.ed().Text5.text() + QStringLiteral("'typed note"));
  r.rig.fader(1).setValue(9);
  r.ed().Text6.setText(QStringLiteral("25"));
  r.ed().Command4_Click();
  const QString expected = QStringLiteral(
      "\r\nDMX000,000,\r\n!T000001'100mS'typed note"
      "\r\nDMX000,009,\r\n!T000025'100mS");
  EXPECT_EQ(r.ed().Text5.text(), expected);
  EXPECT_EQ(r.ed().Text5.selStart(), expected.size() - 1);
}

TEST(EditorRecording, ChannelCountsZeroAndBeyondTheFaders) {
  Recorder none(0);
  none.ed().Command4_Click();
  EXPECT_EQ(none.ed().Text5.text(), QStringLiteral("\r\nDMX\r\n!T000001'100mS"));

  Recorder many(600);
  many.rig.fader(511).setValue(1);
  many.ed().Command4_Click();
  const QStringList lines = many.ed().Text5.text().split(QStringLiteral("\r\n"));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QString());
  EXPECT_EQ(lines[1].size(), 3 + 4 * 600);
  EXPECT_EQ(lines[1].mid(3 + 4 * 511, 4), QStringLiteral("001,"));
  EXPECT_EQ(lines[1].right(4 * 88), QStringLiteral("000,").repeated(88));
  EXPECT_EQ(lines[2], QStringLiteral("!T000001'100mS"));
}

TEST(EditorRecording, DelayDigitsAreTheRoundedValueInAtLeastSixDigits) {
  struct Case {
    const char* box;
    const char* digits;
  };
  // Halves go to the even neighbour; the pattern pads to six digits and cuts nothing.
  for (const Case c : {Case{"1", "000001"}, Case{"25", "000025"}, Case{" 12abc", "000012"},
                       Case{"2.5", "000002"}, Case{"3.5", "000004"}, Case{"999999", "999999"},
                       Case{"1000000", "1000000"}, Case{"1e9", "1000000000"}, Case{"-5", "000000"},
                       Case{"abc", "000000"}, Case{"", "000000"}}) {
    Recorder r(1);
    r.ed().Text6.setText(QString::fromUtf8(c.box));
    r.ed().Command4_Click();
    EXPECT_EQ(r.ed().Text5.text(), QStringLiteral("\r\nDMX000,\r\n!T%1'100mS").arg(c.digits))
        << c.box;
  }
}

TEST(EditorRecording, ASevenDigitDelayIsRecordedWholeAndPlaysFromItsFirstSix) {
  Recorder r(1);
  r.ed().Text6.setText(QStringLiteral("1234567"));
  r.ed().Command4_Click();
  EXPECT_TRUE(r.ed().Text5.text().endsWith(QStringLiteral("!T1234567'100mS")));
  r.ed().Command5_Click();
  r.rig.scheduler.settle();
  EXPECT_EQ(r.ed().countdown(), 123456);
}
