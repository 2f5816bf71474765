// The system's serial port on pseudo-terminals plugged into a device folder of the test's own.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "qt_serial_port.h"

namespace luvrin {
namespace {

struct Terminal {
  Terminal() { ok = openpty(&master, &slave, nullptr, nullptr, nullptr) == 0; }
  ~Terminal() {
    if (!ok) return;
    close(master);
    close(slave);
  }
  QString path() const { return QString::fromLocal8Bit(ttyname(slave)); }
  bool ok = false;
  int master = -1;
  int slave = -1;
};

// A port given by number is checked once a second for what its number names: while that stays
// the same device, the port stays open, never closed and opened again.
TEST(SerialPortNaming, ANumberedPortStaysOpenUntilItsNumberNamesAnotherDevice) {
  int argc = 0;
  std::unique_ptr<QCoreApplication> app;  // QSerialPort's notifiers want an event loop's thread
  if (QCoreApplication::instance() == nullptr)
    app = std::make_unique<QCoreApplication>(argc, nullptr);
  QTemporaryDir dev;
  Terminal usb, onBoard;
  ASSERT_TRUE(dev.isValid() && usb.ok && onBoard.ok);
  ASSERT_TRUE(QFile::link(usb.path(), dev.filePath(QStringLiteral("ttyUSB0"))));
  QtSerialPort port;
  port.setDeviceFolder(dev.path());
  ASSERT_TRUE(port.setPortNumber(1));
  int opened = 0;
  port.onOpenChanged = [&] { ++opened; };
  ASSERT_TRUE(port.open());
  for (int second = 0; second < 5; ++second) port.retry();
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(port.isOpen());

  // The USB interface pulled, the on-board port of that number there: the port moves to it.
  ASSERT_TRUE(QFile::remove(dev.filePath(QStringLiteral("ttyUSB0"))));
  ASSERT_TRUE(QFile::link(onBoard.path(), dev.filePath(QStringLiteral("ttyS0"))));
  port.retry();
  port.retry();
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(port.systemName(), dev.filePath(QStringLiteral("ttyS0")));
  EXPECT_TRUE(port.isOpen());
}

}  // namespace
}  // namespace luvrin
