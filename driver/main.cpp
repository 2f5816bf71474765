#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "driver/driver_lock.h"
#include "driver/file_handoff_store.h"
#include "driver/form1.h"
#include "driver/platform.h"
#include "driver/qt_serial_port.h"
#include "driver/read_ini_key.h"
#include "driver/views.h"
#include "runtime/clock.h"
#include "runtime/scheduler.h"
#include "runtime/scheduler_pump.h"

namespace {

QString lockFilePath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty() || !QDir().mkpath(folder)) folder = QDir::tempPath();
  return folder + QStringLiteral("/LUVRIN.lock");
}

}  // namespace

int main(int argc, char* argv[]) {
  // One driver per user.
  QLockFile lock(lockFilePath());
  if (!luvrin::takeDriverLock(lock)) return 0;

  // Run status shows nothing, so it needs no display; without a display nothing can be shown.
  const QString status =
      luvrin::ReadIniKey(luvrin::platform::programFolder(argv[0]) + QStringLiteral("/串口配置.ini"),
                         QStringLiteral("串口配置"), QStringLiteral("状态"));
  if (status == QStringLiteral("运行") || !luvrin::platform::displayAvailable())
    qputenv("QT_QPA_PLATFORM", "offscreen");

  QApplication app(argc, argv);
  // Qt's own texts (a text box's menu, the file dialogs) in Chinese like the rest: from the
  // program's folder where it ships them (Windows), else from Qt's.
  QTranslator qtTexts;
  const QString qtTextsName = QStringLiteral("qtbase_zh_CN");
  if (qtTexts.load(qtTextsName,
                   QCoreApplication::applicationDirPath() + QStringLiteral("/translations")) ||
      qtTexts.load(qtTextsName, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qtTexts);
  QIcon icon;
  icon.addFile(QStringLiteral(":/luvrin/icon32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/luvrin/icon16.png"), QSize(16, 16));
  QApplication::setWindowIcon(icon);
  // Closing the driver window ends the program even with other windows open.
  QApplication::setQuitOnLastWindowClosed(false);

  luvrin::SteadyClock clock;
  luvrin::Scheduler scheduler(clock);
  luvrin::SchedulerPump pump(scheduler);
  luvrin::QtSerialPort port;
  const auto handoff = luvrin::makeUserHandoffStore();
  luvrin::Form1 driver(scheduler, QCoreApplication::applicationDirPath(), port, *handoff);
  driver.onQuit = [] { QCoreApplication::exit(0); };

  driver.Form_Load();
  if (driver.visible()) luvrin::installViews(driver);

  const int code = QApplication::exec();
  // Ending means ending now: a script run, the views and the timers are dropped where they
  // stand instead of being unwound, and the port and the lock are given back first.
  port.close();
  lock.unlock();
  std::fflush(nullptr);
  std::_Exit(code);
}
