#pragma once

#include <QString>

namespace luvrin {

// The name a launcher writes to the hand-off value: its file name without folder. On Windows the
// program file's name without ".exe"; elsewhere the base name of argv[0], so that a symbolic
// link to a launcher writes the link's own name. Falls back to the program file's name.
QString launcherName(const QString& argv0, const QString& programFile, bool windows);

// The driver program a launcher in folder starts: 驱动/LUVRIN (LUVRIN.EXE on Windows).
QString driverProgramPath(const QString& folder, bool windows);

}  // namespace luvrin
