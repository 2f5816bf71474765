#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>

#include "e2e_support.h"
#include "qt_serial_port.h"

using namespace luvrin;
using namespace luvrin::e2e;

namespace {

bool spinUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds deadline = kDeadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

const std::vector<std::uint8_t> kLevels = {0x3A, 0x2E, 0, 255, 17};

bool writeOne(QtSerialPort& port) { return port.writeFrame("::::DMX", kLevels, "."); }

}  // namespace

TEST(SerialPortOnPty, AFrameLeavesWholeAndInOrder) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.open());
  EXPECT_TRUE(port.readyForFrame());

  ASSERT_TRUE(writeOne(port));
  ASSERT_TRUE(writeOne(port));
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return s.size() >= 26;
  }));
  EXPECT_EQ(pty.received(),
            QByteArray("::::DMX\x3A\x2E\x00\xFF\x11.::::DMX\x3A\x2E\x00\xFF\x11.", 26));
  EXPECT_TRUE(spinUntil([&] { return port.readyForFrame(); }));
}

TEST(SerialPortOnPty, AFullLineHoldsFramesBackInsteadOfQueueingThem) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.open());

  // Nobody reads the line: write whenever the port says so, until it has said no for a while.
  const std::size_t frameBytes = 7 + kLevels.size() + 1;
  std::size_t written = 0;
  qint64 mostQueued = 0;
  int refusalsInARow = 0;
  ASSERT_TRUE(spinUntil([&] {
    mostQueued = std::max(mostQueued, port.queuedBytes());
    if (port.readyForFrame()) {
      refusalsInARow = 0;
      if (writeOne(port)) ++written;
    } else {
      ++refusalsInARow;
    }
    return refusalsInARow > 300;
  }));
  EXPECT_GT(written, 0u);
  // Never more than the one frame that could not leave is held in memory.
  EXPECT_LE(mostQueued, static_cast<qint64>(frameBytes));

  // Every frame that was accepted arrives whole once the line drains, and sending goes on.
  ASSERT_TRUE(pty.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return s.size() >= static_cast<qsizetype>(written * frameBytes);
  }));
  const FrameScan scan = scanFrames(pty.received(), kLevels.size());
  EXPECT_TRUE(scan.wellFormed);
  EXPECT_EQ(scan.frames.size(), written);
  EXPECT_TRUE(spinUntil([&] { return port.readyForFrame(); }));
}

TEST(SerialPortOnPty, InputIsHeldInABoundedBuffer) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(pty.path()));
  ASSERT_TRUE(port.open());

  QByteArray sent;
  for (int i = 0; i < 3000; ++i) sent += QByteArray::number(i % 10);
  pty.send(sent);

  QByteArray got;
  ASSERT_TRUE(spinUntil([&] {
    const QByteArray chunk = port.readAll();
    EXPECT_LE(chunk.size(), QtSerialPort::kReadBufferBytes);
    got += chunk;
    return got.size() >= sent.size();
  }));
  // Held back, not dropped.
  EXPECT_EQ(got, sent);
}

TEST(SerialPortOnPty, AMissingDeviceIsOpenedOnceItAppears) {
  QTemporaryDir dir;
  const QString link = dir.path() + QStringLiteral("/port");
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(link));
  EXPECT_FALSE(port.open());
  EXPECT_FALSE(port.isOpen());
  EXPECT_FALSE(port.readyForFrame());
  EXPECT_FALSE(writeOne(port));
  EXPECT_TRUE(port.readAll().isEmpty());

  Pty pty;
  ASSERT_TRUE(pty.ok());
  ASSERT_TRUE(QFile::link(pty.path(), link));
  ASSERT_TRUE(spinUntil([&] { return port.isOpen(); }));
  ASSERT_TRUE(writeOne(port));
  EXPECT_TRUE(pty.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return countFrames(s, kLevels) == 1;
  }));
}

TEST(SerialPortOnPty, AGoneDeviceIsClosedAndTakenUpAgain) {
  QTemporaryDir dir;
  const QString link = dir.path() + QStringLiteral("/port");
  auto first = std::make_unique<Pty>();
  ASSERT_TRUE(first->ok());
  ASSERT_TRUE(QFile::link(first->path(), link));
  QtSerialPort port;
  ASSERT_TRUE(port.setPortDevice(link));
  ASSERT_TRUE(port.open());

  QFile::remove(link);
  first.reset();
  // Frames keep being offered, as the frame timer would; the failure closes the port.
  ASSERT_TRUE(spinUntil([&] {
    if (port.readyForFrame()) writeOne(port);
    return !port.isOpen();
  }));
  EXPECT_FALSE(writeOne(port));

  Pty second;
  ASSERT_TRUE(second.ok());
  ASSERT_TRUE(QFile::link(second.path(), link));
  ASSERT_TRUE(spinUntil([&] { return port.isOpen(); }));
  ASSERT_TRUE(writeOne(port));
  EXPECT_TRUE(second.waitFor([&](const QByteArray& s) {
    QCoreApplication::processEvents();
    return countFrames(s, kLevels) == 1;
  }));
}
