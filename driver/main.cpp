#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

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

// A process that is not a driver: whatever it says goes to stderr and the log.
void tell(const QString& text, bool boxed) {
  luvrin::logLine(text);
  if (boxed) {
    QMessageBox::information(nullptr, QStringLiteral("LUVRIN"), text);
  } else {
    std::fprintf(stderr, "LUVRIN: %s\n", text.toLocal8Bit().constData());
  }
}

bool waitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QThread::msleep(50);
  }
  return true;
}

// Another driver holds the lock: says what the user must know, and asks where the user must
// choose. The exit code when this driver is to end, nothing when it is to run (the lock is then
// this driver's).
std::optional<int> meetRunningDriver(QLockFile& lock, const QString& folder,
                                     const std::function<bool()>& display) {
  using luvrin::MeetingPlan;
  // A driver that is starting names its show within moments; one that is ending frees the lock.
  luvrin::RunningDriver running;
  bool free = false;
  waitFor(
      [&] {
        free = luvrin::takeDriverLock(lock);
        if (!free) running = luvrin::readRunningDriver(lock);
        return free || !running.show.isEmpty();
      },
      1000);
  if (free) return std::nullopt;
  // A launcher starts the driver and then hands its scene over: give it a moment to.
  const auto handoff = luvrin::makeUserHandoffStore();
  bool launched = false;
  const bool asksForLauncher =
      running.show.isEmpty() || luvrin::platform::sameFolder(running.show, folder);
  if (asksForLauncher)
    launched = waitFor(
        [&] {
          return luvrin::launcherJustHandedOver(handoff->readHandoff(), handoff->writtenAt(),
                                                QDateTime::currentDateTimeUtc(), folder);
        },
        1000);
  const MeetingPlan plan =
      luvrin::meetRunningDriver(running, folder, launched, display, [](const QString& question) {
        return QMessageBox::question(nullptr, QStringLiteral("LUVRIN"), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
      });
  if (!plan.message.isEmpty()) {
    tell(plan.message, plan.boxed);
  } else if (!plan.log.isEmpty()) {
    luvrin::logLine(plan.log);
  }
  if (plan.raise) luvrin::platform::requestRaise(running.processId);
  if (plan.then == MeetingPlan::Then::End) return 0;
  if (plan.then == MeetingPlan::Then::Run) return std::nullopt;
  // Asked as the installer asks, then made to end as the installer does when it will not.
  luvrin::platform::requestEnd(running.processId);
  const auto lockTaken = [&] { return luvrin::takeDriverLock(lock); };
  if (waitFor(lockTaken, 10000)) return std::nullopt;
  luvrin::platform::forceEnd(running.processId);
  if (waitFor(lockTaken, 5000)) return std::nullopt;
  tell(QStringLiteral("正在运行的演出 %1 没有结束, 演出 %2 没有开始")
           .arg(QDir::toNativeSeparators(running.show), QDir::toNativeSeparators(folder)),
       plan.boxed);
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  // What would reach only stderr goes to the user's log too: a Windows program has no console.
  auto log =
      std::make_unique<luvrin::LogFile>(luvrin::LogFile::defaultPath(), QStringLiteral("LUVRIN"));
  luvrin::installMessageLog(*log);
  const QString folder = luvrin::platform::programFolder(argv[0]);
  const bool offscreenChosen = qgetenv("QT_QPA_PLATFORM").startsWith("offscreen");

  std::unique_ptr<QApplication> app;
  const auto openApplication = [&](const QByteArray& platforms) {
    if (!platforms.isEmpty()) qputenv("QT_QPA_PLATFORM", platforms);
    // Qt reports each display it could not open; one line of our own says what that means.
    previousHandler = qInstallMessageHandler(quietPlatformProbe);
    app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(previousHandler);
    luvrin::installQtTranslation(luvrin::qtTranslationFolders(folder));
  };

  // One driver per user, and so one show at a time.
  QLockFile lock(luvrin::driverLockPath());
  if (!luvrin::takeDriverLock(lock)) {
    const std::optional<int> ended = meetRunningDriver(lock, folder, [&] {
      if (!app) openApplication(luvrin::platform::windowPlatforms());
      return QGuiApplication::platformName() != QStringLiteral("offscreen");
    });
    if (ended) return *ended;
  }

  // Run status shows nothing, so it needs no display. Otherwise the display is tried and, when it
  // cannot be opened, the driver goes on unseen: the show's frames matter more than the window.
  // A driver that asked the user which show to run keeps the display it asked on.
  const luvrin::SerialConfiguration settings = luvrin::readSerialConfiguration(folder);
  const QString& status = settings.status;
  luvrin::logKeptLine(QStringLiteral("start"),
                      QStringLiteral("驱动程序启动 (driver started): %1, 端口 \"%2\", 状态 \"%3\"")
                          .arg(QDir::toNativeSeparators(folder), settings.port, status));
  const bool hidden = status == QStringLiteral("运行");
  if (!app) openApplication(hidden ? QByteArray("offscreen") : luvrin::platform::windowPlatforms());
  const bool noDisplay = QGuiApplication::platformName() == QStringLiteral("offscreen");
  if (!hidden && !offscreenChosen && noDisplay) {
    const char* why =
        "LUVRIN: 无法打开显示, 窗口不能显示; 仍在发送数据 (cannot open the display: the "
        "window is not shown, frames are still sent)";
    std::fprintf(stderr, "%s\n", why);
    luvrin::logLine(QString::fromUtf8(why));
  }

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
  // A second driver of this show, started by hand, asks this one to come forward.
  const auto raising = luvrin::platform::onRaiseRequest([] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (!window->isVisible()) continue;
      if (window->isMinimized()) window->showNormal();
      window->raise();
      window->activateWindow();
    }
  });
  // Heard from here on: a driver that starts now can tell which show runs, and ask.
  const QString note = luvrin::runningDriverNotePath(lock.fileName());
  if (lock.isLocked()) {
    const QString hiddenBecause = hidden      ? QStringLiteral("状态 \"运行\"")
                                  : noDisplay ? QStringLiteral("无法打开显示")
                                              : QString();
    luvrin::writeRunningDriverNote(lock.fileName(),
                                   {QCoreApplication::applicationPid(), folder, hiddenBecause});
  }

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
  (void)raising;
  // Ending means ending now: a script run, the views and the timers are dropped where they
  // stand instead of being unwound, and the port and the lock are given back first.
  output.reset();
  if (lock.isLocked()) QFile::remove(note);
  lock.unlock();
  luvrin::removeMessageLog();
  log.reset();  // what is queued is written
  std::fflush(nullptr);
  std::_Exit(code);
}
