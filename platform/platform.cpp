#include "platform.h"

#include <QStandardPaths>

namespace luvrin::platform {

QString userSettingsFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/TALVEN");
}

QString executableSuffix(bool windows) { return windows ? QStringLiteral(".exe") : QString(); }

}  // namespace luvrin::platform
