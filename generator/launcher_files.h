#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include "regular_file.h"

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

// The launcher stub's own name, without suffix: the template of last resort, and the one file
// of the launcher folder that no scene replaces.
QString stubName();

// A launcher stub is a small program; anything larger is not one.
inline constexpr qint64 kMaxLauncherBytes = 64 * 1024 * 1024;

// Reads the template launcher whole: only the regular file itself, never a file a link points
// to (which could be any file the user can read), never a FIFO or a device.
platform::RegularFileRead readLauncherTemplate(const QString& path);

// Whether a file name ends like a script file (".ini", in any letter case): the builder never
// writes one, whatever the scene is called.
bool isScriptFileName(const QString& fileName);

// Whether bytes begin like a program of either system (a Windows or a Linux executable): what a
// launcher is, and what no script or text the user saved ever is.
bool looksLikeProgram(QByteArrayView head);

// What the file at path is to the builder: nothing yet, a launcher it may replace (a regular
// file holding a program), or anything else (a link, a folder, a device, the user's text),
// which it never writes.
enum class LauncherTarget { Absent, Launcher, Other };
LauncherTarget launcherTarget(const QString& path);

// Writes bytes as the launcher at target through a temporary file in its folder, with the given
// permissions, then renames it over target; leaves target as it was on any failure. Only a
// regular file is replaced: a target that is a folder, a link or a device is not touched.
bool writeLauncher(const QString& target, const QByteArray& bytes,
                   QFileDevice::Permissions permissions);

}  // namespace luvrin
