#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <QFileInfo>
#include <iterator>

#include "platform.h"

namespace luvrin::platform {

qint64 pendingOutputBytes(qintptr handle) {
  const HANDLE port = reinterpret_cast<HANDLE>(handle);
  if (port == nullptr || port == INVALID_HANDLE_VALUE) return 0;
  // Clearing the line's error flags on the way loses nothing: input is only ever displayed.
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port, &errors, &status)) return 0;
  return status.cbOutQue;
}

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
