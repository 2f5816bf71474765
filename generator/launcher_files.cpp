#include "launcher_files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include "platform.h"

namespace luvrin {

namespace {

bool isReservedDeviceName(const QString& name) {
  // CON, NUL, COM1 ... open the device whatever extension follows them.
  const QString stem = name.section(u'.', 0, 0).trimmed().toUpper();
  static const QStringList fixed = {QStringLiteral("CON"),    QStringLiteral("PRN"),
                                    QStringLiteral("AUX"),    QStringLiteral("NUL"),
                                    QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
  if (fixed.contains(stem)) return true;
  if (stem.size() == 4 && (stem.startsWith(u"COM") || stem.startsWith(u"LPT")))
    return stem[3] >= u'1' && stem[3] <= u'9';
  return false;
}

}  // namespace

QString launcherSuffix() { return platform::executableSuffix(platform::windowsConventions()); }

bool isLauncherName(const QString& name) {
  return isLauncherName(name, platform::windowsConventions());
}

bool isLauncherName(const QString& name, bool windows) {
  if (name.isEmpty() || name == u"." || name == u"..") return false;
  for (const QChar c : name) {
    if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  }
  const QString file = name + platform::executableSuffix(windows);
  if (!windows) return QFile::encodeName(file).size() <= 255;
  for (const QChar c : name) {
    if (QStringView(u"<>:\"|?*").contains(c)) return false;
  }
  // Windows drops trailing dots and blanks of a file name, so "a." would land on "a"; behind
  // the name comes ".exe", though, and "C .exe" is the file a scene "C " asks for.
  if (file.endsWith(u'.') || file.endsWith(u' ')) return false;
  if (isReservedDeviceName(name)) return false;
  return file.size() <= 255;
}

QString stubName() { return QStringLiteral("LUVRINpREG"); }

platform::RegularFileRead readLauncherTemplate(const QString& path) {
  return platform::readRegularFile(path, kMaxLauncherBytes, platform::Links::Refuse);
}

bool isScriptFileName(const QString& fileName) {
  return fileName.endsWith(QStringLiteral(".ini"), Qt::CaseInsensitive);
}

bool looksLikeProgram(QByteArrayView head) {
  return head.startsWith("MZ") || head.startsWith(
                                      "\x7f"
                                      "ELF");
}

LauncherTarget launcherTarget(const QString& path) {
  QFile file;
  const platform::OpenedFile opened =
      platform::openRegularFile(path, file, platform::Links::Refuse);
  if (opened.refusal == platform::FileRefusal::Missing) return LauncherTarget::Absent;
  if (opened.refusal != platform::FileRefusal::None) return LauncherTarget::Other;
  return looksLikeProgram(file.read(4)) ? LauncherTarget::Launcher : LauncherTarget::Other;
}

bool writeLauncher(const QString& target, const QByteArray& bytes,
                   QFileDevice::Permissions permissions) {
  const QFileInfo targetInfo(target);
  // QSaveFile writes through a link to wherever it points; a folder or a device is no launcher.
  if (targetInfo.isSymLink() || (targetInfo.exists() && !targetInfo.isFile())) return false;
  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly)) return false;
  // QSaveFile would give a new file default permissions and an old one its own; a launcher
  // must stay executable like the template it is copied from.
  out.setPermissions(permissions);
  if (out.write(bytes) != bytes.size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

}  // namespace luvrin
