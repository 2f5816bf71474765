#include "platform.h"

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

}  // namespace luvrin::platform
