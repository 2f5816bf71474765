#include "scene_catalogue.h"

#include <QFileInfo>
#include <utility>

#include "codepage.h"
#include "ini_text.h"
#include "log_categories.h"
#include "read_ini_key.h"

namespace luvrin {

SceneCatalogue::SceneCatalogue(QString programFolder) : folder_(std::move(programFolder)) {}

QString SceneCatalogue::path() const { return folder_ + u'/' + QString::fromUtf16(kFileName); }

QString SceneCatalogue::lookup(const QString& name) const {
  const FileRead file = readSmallFile(path(), kAnyFileSize);
  if (!file) {
    qCDebug(lcScene) << "scene" << name << "not looked up: the catalogue is"
                     << describeFailure(file.failure);
    return QString();
  }
  QString entry = readIniKeyFromBytes(file.bytes, QString::fromUtf16(kSection), name);
  qCDebug(lcScene) << "scene" << name
                   << "looked up:" << (entry.isEmpty() ? QStringLiteral("no entry") : entry);
  return entry;
}

CatalogueEntries SceneCatalogue::entries() const {
  CatalogueEntries result;
  // Only a plain file is a catalogue: opening a pipe would wait for a writer.
  if (const QFileInfo info(path()); info.exists() && !info.isFile()) {
    result.failure = FileRead::Failure::Unreadable;
    return result;
  }
  const FileRead file = readSmallFile(path(), kEntriesLimit);
  if (!file) {
    result.failure = file.failure;
    return result;
  }
  const QString text = decodeFileText(file.bytes);
  for (const QStringView raw : textLines(text)) {
    const IniLine line(raw);
    CatalogueLine entry;
    entry.text = raw.toString();
    entry.hasName = raw.contains(u'=');
    entry.name = line.keyAsWritten().toString();
    result.lines.push_back(std::move(entry));
  }
  return result;
}

}  // namespace luvrin
