#include <QCoreApplication>
#include <QProcess>

#include "file_handoff_store.h"
#include "launcher.h"
#include "platform.h"

// A launcher starts the driver, hands over its own name and ends. Every step is tried whatever
// happened before it, and nothing is ever shown.
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
  luvrin::makeUserHandoffStore()->write(
      luvrin::launcherName(argv0, QCoreApplication::applicationFilePath(), windows));
  return 0;
}
