#include "launcher.h"

#include <QFileInfo>

#include "platform.h"

namespace luvrin {

QString launcherName(const QString& argv0, const QString& programFile, bool windows) {
  if (windows) {
    QString name = QFileInfo(programFile).fileName();
    const QString suffix = platform::executableSuffix(true);
    if (name.endsWith(suffix, Qt::CaseInsensitive)) name.chop(suffix.size());
    return name;
  }
  // argv[0] keeps the name a link was started under; the program file would be the link's target.
  const QString name = QFileInfo(argv0).fileName();
  if (!name.isEmpty()) return name;
  return QFileInfo(programFile).fileName();
}

QString driverProgramPath(const QString& folder, bool windows) {
  return folder + (windows ? QStringLiteral("/驱动/LUVRIN.EXE") : QStringLiteral("/驱动/LUVRIN"));
}

}  // namespace luvrin
