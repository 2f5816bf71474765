#include "source_uid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include "log_categories.h"
#include "platform.h"
#include "program_file.h"

namespace luvrin::rdm {

namespace {

constexpr qint64 kMaxUidFileBytes = 4 * 1024;

Uid freshUid() {
  // Neither 0 nor the all-devices number.
  const std::uint32_t device = QRandomGenerator::global()->bounded(1u, 0xFFFFFFFFu);
  return {kOwnManufacturer, device};
}

}  // namespace

Uid stableSourceUid(const QString& file) {
  const FileRead kept = readSmallFile(file, kMaxUidFileBytes, lcRdm());
  if (kept) {
    const auto uid = Uid::parse(QString::fromLatin1(kept.bytes.trimmed()));
    if (uid && uid->manufacturer == kOwnManufacturer && uid->device != 0 && !uid->isBroadcast())
      return *uid;
  }
  // Not a file of ours (a FIFO, a device, a folder, a dangling link): someone else's to remove.
  if (kept.failure == FileRead::Failure::NotRegular) return freshUid();
  if (const QFileInfo info(file); info.isSymLink() && !info.isFile()) return freshUid();
  if (kept || kept.failure == FileRead::Failure::TooLarge) QFile::remove(file);
  const Uid made = freshUid();
  QDir().mkpath(QFileInfo(file).absolutePath());
  QSaveFile out(file);
  if (out.open(QIODevice::WriteOnly)) {
    out.write(made.toString().toLatin1() + '\n');
    if (!out.commit()) qCWarning(lcRdm) << "RDM 控制器编号未能保存 (UID not kept):" << file;
  }
  return made;
}

QString defaultSourceUidFile() {
  return platform::userSettingsFolder() + QStringLiteral("/LUVRIN-RDM-UID.txt");
}

}  // namespace luvrin::rdm
