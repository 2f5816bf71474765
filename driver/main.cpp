#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

#include "clock.h"
#include "driver_lock.h"
#include "driver_remote_host.h"
#include "driver_window.h"
#include "file_handoff_store.h"
#include "log_file.h"
#include "output_factory.h"
#include "output_thread.h"
#include "platform.h"
#include "remote_server.h"
#include "scheduler.h"
#include "scheduler_pump.h"
#include "serial_settings.h"
#include "source_cid.h"
#include "views.h"

namespace {

QtMessageHandler previousHandler = nullptr;

void quietPlatformProbe(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg && context.category != nullptr &&
      QByteArray(context.category).startsWith("qt.qpa."))
    return;
  if (previousHandler != nullptr) {
    previousHandler(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // What would reach only stderr goes to the user's log too: a Windows program has no console.
  auto log =
      std::make_unique<luvrin::LogFile>(luvrin::LogFile::defaultPath(), QStringLiteral("LUVRIN"));
  luvrin::installMessageLog(*log);

  // One driver per user.
  QLockFile lock(luvrin::driverLockPath());
  if (!luvrin::takeDriverLock(lock)) return 0;

  // Run status shows nothing, so it needs no display. Otherwise the display is tried and, when it
  // cannot be opened, the driver goes on unseen: the show's frames matter more than the window.
  const QString folder = luvrin::platform::programFolder(argv[0]);
  const luvrin::SerialConfiguration settings = luvrin::readSerialConfiguration(folder);
  const QString& status = settings.status;
  luvrin::logKeptLine(QStringLiteral("start"),
                      QStringLiteral("驱动程序启动 (driver started): %1, 端口 \"%2\", 状态 \"%3\"")
                          .arg(QDir::toNativeSeparators(folder), settings.port, status));
  const bool hidden = status == QStringLiteral("运行");
  const bool offscreenChosen = qgetenv("QT_QPA_PLATFORM").startsWith("offscreen");
  const QByteArray platforms =
      hidden ? QByteArray("offscreen") : luvrin::platform::windowPlatforms();
  if (!platforms.isEmpty()) qputenv("QT_QPA_PLATFORM", platforms);

  // Qt reports each display it could not open; one line of our own says what that means.
  previousHandler = qInstallMessageHandler(quietPlatformProbe);
  QApplication app(argc, argv);
  qInstallMessageHandler(previousHandler);
  if (!hidden && !offscreenChosen &&
      QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    const char* why =
        "LUVRIN: 无法打开显示, 窗口不能显示; 仍在发送数据 (cannot open the display: the "
        "window is not shown, frames are still sent)";
    std::fprintf(stderr, "%s\n", why);
    luvrin::logLine(QString::fromUtf8(why));
  }
  luvrin::installQtTranslation(luvrin::qtTranslationFolders(folder));

  // A service manager or a terminal (a signal) or the installer (an event, on Windows) ends a
  // hidden driver: end as the window's 退出 does, so the port (and its lock) is given back. The
  // log tells why the show stopped. Listened for before the port is opened: a request that comes
  // while the driver is starting must not end it with the port's lock left behind.
  bool endRequested = false;
  const auto termination = luvrin::platform::onTerminationRequest([&endRequested] {
    luvrin::logLine(
        QStringLiteral("收到结束请求, 驱动程序结束 (asked to end: the port is closed)"));
    endRequested = true;
    QCoreApplication::exit(0);
  });

  QIcon icon;
  icon.addFile(QStringLiteral(":/luvrin/icon32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/luvrin/icon16.png"), QSize(16, 16));
  QApplication::setWindowIcon(icon);
  // Closing the driver window ends the program even with other windows open.
  QApplication::setQuitOnLastWindowClosed(false);

  luvrin::SteadyClock clock;
  luvrin::Scheduler scheduler(clock);
  luvrin::SchedulerPump pump(scheduler);
  // The output is built, opened and driven on a thread of its own, so nothing the windows do can
  // hold a frame back.
  auto output = std::make_unique<luvrin::OutputThread>(
      [settings, cidFile = luvrin::defaultCidFile()](luvrin::Scheduler& outputScheduler) {
        return luvrin::makeOutput(settings, outputScheduler, {.cidFile = cidFile}).output;
      });
  const auto handoff = luvrin::makeUserHandoffStore();
  luvrin::Form1 driver(scheduler, folder, *output, *handoff);
  driver.onQuit = [] { QCoreApplication::exit(0); };

  driver.Form_Load(settings);

  // The remote listens only when the settings ask for it; a port that is taken costs the remote,
  // never the show.
  std::unique_ptr<luvrin::DriverRemoteHost> remoteHost;
  std::unique_ptr<luvrin::RemoteServer> remote;
  if (!settings.remotePortRefusal.isEmpty()) {
    const QString why =
        QStringLiteral("远程: ") + settings.remotePortRefusal + QStringLiteral(", 远程未启动");
    driver.RemoteLine.setCaption(why);
    luvrin::logLine(why);
  }
  if (settings.remotePort) {
    remoteHost = std::make_unique<luvrin::DriverRemoteHost>(driver, *handoff);
    luvrin::RemoteAccess access;
    access.hostNames = settings.remoteHostNames;
    remote =
        std::make_unique<luvrin::RemoteServer>(*remoteHost, settings.remoteKey, scheduler, access);
    remote->start(*settings.remotePort);
    driver.RemoteLine.setCaption(remote->statusText());
    luvrin::logKeptLine(QStringLiteral("remote"), remote->statusText());
  }
  if (driver.visible()) luvrin::installViews(driver);

  // A request heard before the event loop ran (exit() does nothing then) ends it at once.
  const int code = endRequested ? 0 : QApplication::exec();
  // Ending means ending now: a script run, the views and the timers are dropped where they
  // stand instead of being unwound, and the port and the lock are given back first.
  output.reset();
  lock.unlock();
  luvrin::removeMessageLog();
  log.reset();  // what is queued is written
  std::fflush(nullptr);
  std::_Exit(code);
}
