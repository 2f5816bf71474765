#include "regular_file.h"

#include <QFile>
#include <algorithm>

namespace luvrin::platform {

namespace {

constexpr qint64 kChunk = 1024 * 1024;

QString sizeText(qint64 bytes) {
  constexpr qint64 kKiB = 1024;
  constexpr qint64 kMiB = 1024 * kKiB;
  if (bytes >= kMiB && bytes % kMiB == 0) return QStringLiteral("%1 MiB").arg(bytes / kMiB);
  if (bytes >= kKiB && bytes % kKiB == 0) return QStringLiteral("%1 KiB").arg(bytes / kKiB);
  return QStringLiteral("%1 bytes").arg(bytes);
}

}  // namespace

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, Links links) {
  RegularFileRead result;
  QFile file;
  const OpenedFile opened = openRegularFile(path, file, links);
  result.refusal = opened.refusal;
  result.error = opened.error;
  result.stamp = opened.stamp;
  result.permissions = opened.permissions;
  if (opened.refusal != FileRefusal::None) return result;
  if (opened.stamp.size > maxBytes) {
    result.refusal = FileRefusal::TooLarge;
    return result;
  }
  // One byte more than the size: a file that grows while it is read still stops at the limit.
  QByteArray bytes;
  qint64 capacity = std::min(opened.stamp.size, maxBytes) + 1;
  bytes.resize(capacity);
  qint64 got = 0;
  for (;;) {
    const qint64 n = file.read(bytes.data() + got, std::min(kChunk, capacity - got));
    if (n < 0) {
      result.refusal = FileRefusal::Unreadable;
      result.error = file.errorString();
      return result;
    }
    if (n == 0) break;
    got += n;
    if (got == capacity) {
      if (capacity > maxBytes) break;
      capacity = std::min(capacity * 2, maxBytes + 1);
      bytes.resize(capacity);
    }
  }
  if (got > maxBytes) {
    result.refusal = FileRefusal::TooLarge;
    return result;
  }
  bytes.truncate(got);
  result.bytes = std::move(bytes);
  return result;
}

QString refusalMessage(const QString& path, FileRefusal refusal, qint64 maxBytes,
                       const QString& error) {
  switch (refusal) {
    case FileRefusal::NotRegular:
      return QStringLiteral(
                 "文件 %1 不是普通文件, 未读取 (not a regular file: a folder, FIFO, "
                 "device or, where not allowed, a link; only regular files are read)")
          .arg(path);
    case FileRefusal::TooLarge:
      return QStringLiteral("文件 %1 超过 %2, 未读取 (larger than %2: not read)")
          .arg(path, sizeText(maxBytes));
    case FileRefusal::Unreadable:
      return QStringLiteral("文件 %1 无法读取 (cannot be read): %2").arg(path, error);
    case FileRefusal::None:
    case FileRefusal::Missing:
      break;
  }
  return QString();
}

}  // namespace luvrin::platform
