#include <sys/ioctl.h>
#include <termios.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform.h"

namespace luvrin::platform {

qint64 pendingOutputBytes(qintptr handle) {
  if (handle < 0) return 0;
  int queued = 0;
  if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

bool windowsConventions() { return false; }

QByteArray windowPlatforms() {
  const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
  if (!chosen.isEmpty()) return chosen.contains("offscreen") ? chosen : chosen + ";offscreen";
  const bool x = !qEnvironmentVariableIsEmpty("DISPLAY");
  const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
  // Qt itself prefers Wayland only in a Wayland session; keep that order.
  const bool waylandSession = qgetenv("XDG_SESSION_TYPE") == "wayland";
  QByteArray list;
  if (wayland && (waylandSession || !x)) list += "wayland;";
  if (x) list += "xcb;";
  if (wayland && x && !waylandSession) list += "wayland;";
  return list + "offscreen";
}

QString programFolder(const char* argv0) {
  const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
  QString started = argv0 != nullptr ? QString::fromLocal8Bit(argv0) : QString();
  if (!started.isEmpty()) {
    // A bare name was found through PATH, as the shell found it.
    started = started.contains(u'/') ? QDir::current().absoluteFilePath(started)
                                     : QStandardPaths::findExecutable(started);
  }
  // argv0 is whatever the starter chose to pass: trust it only when it names this program.
  if (!started.isEmpty() && QFileInfo(started).isFile() &&
      (exe.isEmpty() ||
       QFileInfo(started).canonicalFilePath() == QFileInfo(exe).canonicalFilePath()))
    return QFileInfo(started).absolutePath();
  if (!exe.isEmpty()) return QFileInfo(exe).absolutePath();
  return QFileInfo(started).absolutePath();
}

std::unique_ptr<QObject> watchUserRegistryKey(const QString&, std::function<void()>) {
  return nullptr;
}

}  // namespace luvrin::platform
