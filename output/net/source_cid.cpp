#include "source_cid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QUuid>
#include <algorithm>

#include "log_categories.h"
#include "platform.h"
#include "program_file.h"

namespace luvrin {

namespace {

// The file holds one identifier of 36 characters.
constexpr qint64 kMaxCidFileBytes = 4 * 1024;

e131::Cid bytesOf(const QUuid& id) {
  const QByteArray raw = id.toRfc4122();
  e131::Cid cid{};
  std::copy_n(raw.begin(), cid.size(), cid.begin());
  return cid;
}

}  // namespace

e131::Cid stableCid(const QString& file) {
  const FileRead kept = readSmallFile(file, kMaxCidFileBytes, lcNet());
  if (kept) {
    const QUuid id = QUuid::fromString(QString::fromLatin1(kept.bytes.trimmed()));
    if (!id.isNull()) return bytesOf(id);
  }
  // Something that is not a file (a FIFO, a device, a folder) was put there by someone: it is
  // theirs to remove, and this run makes do with a fresh identifier.
  if (kept.failure == FileRead::Failure::NotRegular) return bytesOf(QUuid::createUuid());
  // QSaveFile writes where a link points, even where it points at nothing yet.
  if (const QFileInfo info(file); info.isSymLink() && !info.isFile())
    return bytesOf(QUuid::createUuid());
  if (kept || kept.failure == FileRead::Failure::TooLarge) {
    // Out of the way first: replacing a file by renaming onto it fails on some Windows file
    // systems, and the new identifier must be the one kept.
    QFile::remove(file);
  }
  const QUuid made = QUuid::createUuid();
  QDir().mkpath(QFileInfo(file).absolutePath());
  QSaveFile out(file);
  if (out.open(QIODevice::WriteOnly)) {
    out.write(made.toByteArray(QUuid::WithoutBraces) + '\n');
    out.commit();
  }
  return bytesOf(made);
}

QString defaultCidFile() {
  return platform::userSettingsFolder() + QStringLiteral("/LUVRIN-sACN-CID.txt");
}

}  // namespace luvrin
