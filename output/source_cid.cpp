#include "source_cid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>
#include <algorithm>

#include "platform.h"

namespace luvrin {

namespace {

e131::Cid bytesOf(const QUuid& id) {
  const QByteArray raw = id.toRfc4122();
  e131::Cid cid{};
  std::copy_n(raw.begin(), cid.size(), cid.begin());
  return cid;
}

}  // namespace

e131::Cid stableCid(const QString& file) {
  QFile in(file);
  if (in.open(QIODevice::ReadOnly)) {
    const QUuid kept = QUuid::fromString(QString::fromLatin1(in.read(64).trimmed()));
    if (!kept.isNull()) return bytesOf(kept);
    // Out of the way first: replacing a file by renaming onto it fails on some Windows file
    // systems, and the new identifier must be the one kept.
    in.close();
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
