#include <sys/ioctl.h>
#include <termios.h>

#include <QFileInfo>

#include "platform.h"

namespace luvrin::platform {

qint64 pendingOutputBytes(qintptr handle) {
  if (handle < 0) return 0;
  int queued = 0;
  if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

bool windowsConventions() { return false; }

bool displayAvailable() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QString programFolder(const char* argv0) {
  // The same answer QCoreApplication::applicationDirPath() gives later on Linux.
  const QFileInfo self(QStringLiteral("/proc/self/exe"));
  if (self.exists()) return QFileInfo(self.symLinkTarget()).absolutePath();
  return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

}  // namespace luvrin::platform
