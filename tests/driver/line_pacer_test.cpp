#include <gtest/gtest.h>

#include "driver/qt_serial_port.h"

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

TEST(LinePacer, NextFrameWaitsUntilThePreviousHasLeft) {
  LinePacer pacer;
  pacer.setLine(SerialSettings{100000, QSerialPort::NoParity, QSerialPort::Data8,
                               QSerialPort::OneStop});  // 100 us a byte
  const qint64 frame = 100;                             // bytes: 10 ms on the line
  EXPECT_TRUE(pacer.ready(0));
  pacer.sent(0, frame);
  EXPECT_FALSE(pacer.ready(0));
  EXPECT_FALSE(pacer.ready(9'999'999));
  EXPECT_TRUE(pacer.ready(10'000'000));
  pacer.sent(10'500'000, frame);  // written half a millisecond late: the line idled meanwhile
  EXPECT_FALSE(pacer.ready(20'000'000));
  EXPECT_TRUE(pacer.ready(20'500'000));
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

TEST(LinePacer, TellsHowLongUntilTheLineIsFree) {
  LinePacer pacer;
  pacer.setLine(
      SerialSettings{100000, QSerialPort::NoParity, QSerialPort::Data8, QSerialPort::OneStop});
  EXPECT_EQ(pacer.nsUntilFree(0), 0);
  pacer.sent(1'000'000, 13);  // 1.3 ms on the line
  EXPECT_EQ(pacer.nsUntilFree(1'000'000), 1'300'000);
  EXPECT_EQ(pacer.nsUntilFree(2'000'000), 300'000);
  EXPECT_EQ(pacer.nsUntilFree(2'300'000), 0);
  EXPECT_EQ(pacer.nsUntilFree(9'000'000), 0);
}
