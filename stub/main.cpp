#include <QCoreApplication>
#include <QProcess>
#include <cstdio>

#include "file_handoff_store.h"
#include "launcher.h"
#include "log_file.h"
#include "platform.h"

// A launcher starts the driver, hands over its own name and ends. Every step is tried whatever
// happened before it. Nothing is shown unless the name could not be handed over: then the
// scene would silently never change, so the launcher says so (stderr and the user's log) and
// ends with 1. Windows has a launcher of its own, without Qt: main_win.cpp.
int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const bool windows = luvrin::platform::windowsConventions();

  // Started before the name is written: a driver that is already running picks the name up at
  // its next poll, a new one at its first.
  // The launcher's folder is where it was started from: a link to LUVRINpREG elsewhere still
  // starts the driver of the show the link stands in.
  QProcess::startDetached(
      luvrin::driverProgramPath(luvrin::platform::programFolder(argc > 0 ? argv[0] : nullptr),
                                windows),
      QStringList());

  const QString argv0 = argc > 0 ? QString::fromLocal8Bit(argv[0]) : QString();
  const QString name =
      luvrin::launcherName(argv0, QCoreApplication::applicationFilePath(), windows);
  if (luvrin::makeUserHandoffStore()->write(name)) return 0;

  const QString why =
      QStringLiteral(
          "无法把场景 \"%1\" 交给驱动程序, 场景不会切换 (the scene could not be handed "
          "to the driver: the per-user settings could not be written)")
          .arg(name);
  std::fprintf(stderr, "LUVRINpREG: %s\n", why.toLocal8Bit().constData());
  {
    luvrin::LogFile log(luvrin::LogFile::defaultPath(), QStringLiteral("LUVRINpREG"));
    log.write(why);
  }
  luvrin::platform::showErrorBox(QStringLiteral("LUVRINpREG"), why);
  return 1;
}
