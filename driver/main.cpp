#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

#include "driver/file_handoff_store.h"
#include "driver/form1.h"
#include "driver/platform.h"
#include "driver/qt_serial_port.h"
#include "driver/read_ini_key.h"
#include "driver/views.h"
#include "runtime/clock.h"
#include "runtime/scheduler.h"
#include "runtime/scheduler_pump.h"
#include "serial/outputs.h"
#include "serial/source_cid.h"

namespace {

QString lockFilePath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder)) folder = QDir::tempPath();
  return folder + QStringLiteral("/LUVRIN.lock");
}

}  // namespace

int main(int argc, char* argv[]) {
  // One driver per user. Stale time 0: a lock is taken over only when its owner is gone, never
  // because it is old, since a show runs for days.
  QLockFile lock(lockFilePath());
  lock.setStaleLockTime(0);
  if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) return 0;

  // Run status shows nothing, so it needs no display; without a display nothing can be shown.
  const QString status =
      luvrin::ReadIniKey(luvrin::platform::programFolder(argv[0]) + QStringLiteral("/串口配置.ini"),
                         QStringLiteral("串口配置"), QStringLiteral("状态"));
  if (status == QStringLiteral("运行") || !luvrin::platform::displayAvailable())
    qputenv("QT_QPA_PLATFORM", "offscreen");

  QApplication app(argc, argv);
  QIcon icon;
  icon.addFile(QStringLiteral(":/luvrin/icon32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/luvrin/icon16.png"), QSize(16, 16));
  QApplication::setWindowIcon(icon);
  // Closing the driver window ends the program even with other windows open.
  QApplication::setQuitOnLastWindowClosed(false);

  luvrin::SteadyClock clock;
  luvrin::Scheduler scheduler(clock);
  luvrin::SchedulerPump pump(scheduler);
  luvrin::QtSerialPort serialPort;
  // 端口 may name olad or a network protocol instead of a serial port.
  const luvrin::OutputChoice output = luvrin::makeOutput(
      luvrin::ReadIniKey(QCoreApplication::applicationDirPath() + QStringLiteral("/串口配置.ini"),
                         QStringLiteral("串口配置"), QStringLiteral("端口")),
      scheduler, luvrin::defaultCidFile());
  luvrin::SerialPort& port = output.port ? *output.port : serialPort;
  const auto handoff = luvrin::makeUserHandoffStore();
  luvrin::Form1 driver(scheduler, QCoreApplication::applicationDirPath(), port, *handoff);
  driver.onQuit = [] { QCoreApplication::exit(0); };

  driver.Form_Load();
  if (driver.visible()) luvrin::installViews(driver);

  const int code = QApplication::exec();
  // Ending means ending now: a script run, the views and the timers are dropped where they
  // stand instead of being unwound, and the port and the lock are given back first.
  serialPort.close();
  lock.unlock();
  std::fflush(nullptr);
  std::_Exit(code);
}
