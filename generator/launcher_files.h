#pragma once

#include <QString>

namespace luvrin {

// What a launcher file needs from the platform: its suffix, which names make a safe launcher
// file, and replacing one without ever leaving a half-written file behind.

// ".exe" on Windows, nothing elsewhere; the template and the targets both carry it.
QString launcherSuffix();

// Whether name can be a launcher's file name inside the launcher folder: one plain name of
// this platform (no folder part, not "." or "..", nothing the file system refuses). "\" counts
// as a separator everywhere, since catalogues are written on Windows.
bool isLauncherName(const QString& name);
// The same under the rules of Windows (windows) or of the other systems, whatever this one is.
bool isLauncherName(const QString& name, bool windows);

// Copies source onto target through a temporary file in target's folder, with source's
// permissions, then renames it over target. Leaves target as it was on any failure. Only plain
// files are read and replaced: a target that is a folder, a link or a device is not touched, and
// a target that is source itself is left alone (true: it already is a copy).
bool replaceWithCopy(const QString& source, const QString& target);

}  // namespace luvrin
