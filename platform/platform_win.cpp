#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <QFileInfo>
#include <iterator>

#include "platform.h"

namespace luvrin::platform {

// The serial driver's queue is not visible through the handle without overlapped status calls;
// QSerialPort::bytesToWrite() already holds frames back, and the driver's own queue is small.
qint64 pendingOutputBytes(qintptr) { return 0; }

bool windowsConventions() { return true; }

QByteArray windowPlatforms() { return {}; }

QString programFolder(const char* argv0) {
  wchar_t path[32768];
  const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
  if (n > 0 && n < std::size(path))
    return QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath();
  return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

}  // namespace luvrin::platform
