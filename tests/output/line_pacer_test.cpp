#include "line_pacer.h"

#include <gtest/gtest.h>

using namespace luvrin;

TEST(LinePacer, ByteTimeFollowsTheSettings) {
  LinePacer pacer;
  pacer.setLine(SerialSettings{});  // 115200,N,8,1: ten bits a byte
  EXPECT_EQ(pacer.byteNs(), 86805);
  pacer.setLine(SerialSettings{250000, QSerialPort::EvenParity, QSerialPort::Data8,
                               QSerialPort::TwoStop});  // 12 bits
  EXPECT_EQ(pacer.byteNs(), 48000);
  pacer.setLine(SerialSettings{9600, QSerialPort::NoParity, QSerialPort::Data7,
                               QSerialPort::OneAndHalfStop});  // 9.5 bits
  EXPECT_EQ(pacer.byteNs(), 989583);
}

TEST(LinePacer, NextFrameWaitsUntilThePreviousIsDownToItsLastByte) {
  LinePacer pacer;
  pacer.setLine(SerialSettings{100000, QSerialPort::NoParity, QSerialPort::Data8,
                               QSerialPort::OneStop});  // 100 us a byte
  const qint64 frame = 100;                             // bytes: 10 ms on the line
  EXPECT_TRUE(pacer.ready(0));
  pacer.sent(0, frame);
  EXPECT_FALSE(pacer.ready(0));
  EXPECT_FALSE(pacer.ready(9'899'999));
  EXPECT_TRUE(pacer.ready(9'900'000));
  pacer.sent(9'900'000, frame);  // queued behind the last byte: it starts when that has left
  EXPECT_FALSE(pacer.ready(19'899'999));
  EXPECT_TRUE(pacer.ready(19'900'000));
  pacer.sent(20'400'000, frame);  // written half a millisecond late: the line idled meanwhile
  EXPECT_FALSE(pacer.ready(30'000'000));
  EXPECT_TRUE(pacer.ready(30'300'000));
}

TEST(LinePacer, IdleLineDoesNotBankTime) {
  LinePacer pacer;
  pacer.setLine(
      SerialSettings{100000, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop});
  pacer.sent(0, 100);
  // Long after the line went quiet, it still takes one frame at a time.
  EXPECT_TRUE(pacer.ready(1'000'000'000));
  pacer.sent(1'000'000'000, 100);
  EXPECT_FALSE(pacer.ready(1'000'000'000));
}

TEST(LinePacer, TellsHowLongUntilItIsReady) {
  LinePacer pacer;
  pacer.setLine(
      SerialSettings{100000, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop});
  EXPECT_EQ(pacer.nsUntilReady(0), 0);
  pacer.sent(1'000'000, 13);  // 1.3 ms on the line, ready after 1.2
  EXPECT_EQ(pacer.nsUntilReady(1'000'000), 1'200'000);
  EXPECT_EQ(pacer.nsUntilReady(2'000'000), 200'000);
  EXPECT_EQ(pacer.nsUntilReady(2'200'000), 0);
  EXPECT_EQ(pacer.nsUntilReady(9'000'000), 0);
}

TEST(LinePacer, WakeSlackLetsAFrameGoThatMuchEarlyYetKeepsTheLineRate) {
  struct Case {
    qint64 slackNs;
    qint64 firstReadyNs;
  };
  // 100 us a byte, 100-byte frames: 10 ms each on the line.
  for (const Case c : {Case{0, 9'900'000}, Case{50'000, 9'900'000}, Case{1'000'000, 9'000'000}}) {
    LinePacer pacer;
    pacer.setLine(
        SerialSettings{100000, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop});
    pacer.setWakeSlack(c.slackNs);
    pacer.sent(0, 100);
    EXPECT_FALSE(pacer.ready(c.firstReadyNs - 1)) << c.slackNs;
    EXPECT_TRUE(pacer.ready(c.firstReadyNs)) << c.slackNs;
    // Frames written as soon as allowed queue behind each other: the line never idles, and no
    // more than the slack (or one byte) is ever waiting when the next is written.
    const qint64 early = 10'000'000 - c.firstReadyNs;
    qint64 now = c.firstReadyNs;
    for (int i = 1; i <= 100; ++i) {
      pacer.sent(now, 100);
      now += pacer.nsUntilReady(now);
      ASSERT_EQ(now, 10'000'000 * (i + 1) - early) << c.slackNs << " frame " << i;
    }
  }
}
