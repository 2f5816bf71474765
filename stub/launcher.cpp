#include "launcher.h"

#include <QFileInfo>

namespace luvrin {

QString launcherName(const QString& argv0, const QString& programFile, bool windows) {
  if (windows) {
    QString name = QFileInfo(programFile).fileName();
    if (name.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) name.chop(4);
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
