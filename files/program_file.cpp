#include "program_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <utility>

#include "log_categories.h"

namespace luvrin {

std::optional<QString> resolveProgramFile(const QString& folder, const QString& name) {
  // A colon names a drive or a stream, never a file of the folder.
  if (name.contains(u':')) return std::nullopt;
  QString relative = name;
  relative.replace(u'\\', u'/');
  // Like the Windows program, which puts the folder, "\\" and the name together, every name
  // is taken from the program folder: a leading separator does not make it absolute, and ".."
  // climbs from there (the user writes the catalogue; a show may keep scripts one folder up).
  const QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
  if (parts.isEmpty()) return std::nullopt;
  // ".." is resolved on the names, as Windows does, not through links.
  const QString exact = QDir::cleanPath(folder + u'/' + parts.join(u'/'));
  if (QFileInfo::exists(exact)) return exact;
  // Not found as written: walk the parts, matching each without regard to letter case.
  QString current = QDir::cleanPath(folder);
  for (const QString& part : parts) {
    if (part == u".") continue;
    if (part == u"..") {
      current = QDir::cleanPath(current + QStringLiteral("/.."));
      continue;
    }
    const QStringList entries = QDir(current).entryList(QDir::AllEntries | QDir::Hidden |
                                                        QDir::System | QDir::NoDotAndDotDot);
    QString found;
    for (const QString& entry : entries) {
      if (entry.compare(part, Qt::CaseInsensitive) == 0) {
        found = entry;
        break;
      }
    }
    if (found.isEmpty()) return std::nullopt;
    current += u'/' + found;
  }
  return current;
}

QString describeFailure(FileRead::Failure failure) {
  switch (failure) {
    case FileRead::Failure::Missing:
      return QStringLiteral("missing");
    case FileRead::Failure::Unreadable:
      return QStringLiteral("unreadable");
    case FileRead::Failure::TooLarge:
      return QStringLiteral("too large");
    case FileRead::Failure::NotRegular:
      return QStringLiteral("not a regular file");
    case FileRead::Failure::None:
      break;
  }
  return QStringLiteral("read");
}

QString describeFailureForUser(FileRead::Failure failure) {
  switch (failure) {
    case FileRead::Failure::Missing:
      return QStringLiteral("不存在");
    case FileRead::Failure::Unreadable:
      return QStringLiteral("无法读取");
    case FileRead::Failure::TooLarge:
      return QStringLiteral("太大");
    case FileRead::Failure::NotRegular:
      return QStringLiteral("不是普通文件");
    case FileRead::Failure::None:
      break;
  }
  return QStringLiteral("已读取");
}

FileRead readSmallFile(const QString& path, qint64 maxBytes, const QLoggingCategory& log) {
  platform::RegularFileRead read = platform::readRegularFile(path, maxBytes);
  FileRead result;
  result.error = read.error;
  result.stamp = read.stamp;
  switch (read.refusal) {
    case platform::FileRefusal::None:
      result.bytes = std::move(read.bytes);
      return result;
    case platform::FileRefusal::Missing:
      result.failure = FileRead::Failure::Missing;
      return result;
    case platform::FileRefusal::NotRegular:
      result.failure = FileRead::Failure::NotRegular;
      break;
    case platform::FileRefusal::Unreadable:
      result.failure = FileRead::Failure::Unreadable;
      break;
    case platform::FileRefusal::TooLarge:
      result.failure = FileRead::Failure::TooLarge;
      break;
  }
  qCWarning(log).noquote() << platform::refusalMessage(path, read.refusal, maxBytes, read.error);
  return result;
}

}  // namespace luvrin
