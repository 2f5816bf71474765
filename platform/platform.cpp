#include "platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace luvrin::platform {

QString userSettingsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/TALVEN");
}

QString executableSuffix(bool windows) { return windows ? QStringLiteral(".exe") : QString(); }

// packaging/luvrin.nsi builds the same name.
QString endRequestEventName(quint32 processId) {
  return QStringLiteral("Local\\LUVRIN-end-%1").arg(processId);
}

QString raiseRequestEventName(quint32 processId) {
  return QStringLiteral("Local\\LUVRIN-raise-%1").arg(processId);
}

bool sameFolder(const QString& a, const QString& b) {
  const auto canonical = [](const QString& path) {
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : resolved;
  };
  return canonical(a).compare(canonical(b),
                              windowsConventions() ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
}

}  // namespace luvrin::platform
