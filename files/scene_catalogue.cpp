#include "scene_catalogue.h"

#include <QHash>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

#include "codepage.h"
#include "ini_text.h"
#include "log_categories.h"
#include "read_ini_key.h"

namespace luvrin {

namespace {

// The [DMX] section of the catalogue last read, decoded and indexed by folded name.
struct DecodedCatalogue {
  QString path;
  platform::FileStamp stamp;
  qint64 readStartedNs = 0;
  QString text;
  bool utf8 = false;
  QHash<QString, std::pair<qsizetype, qsizetype>> entryLines;  // where each entry's line is in text
};

// Names match without regard to ASCII letter case (sameIniName).
QString foldedName(QStringView name) {
  QString folded = name.toString();
  for (QChar& c : folded)
    if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() - u'A' + u'a');
  return folded;
}

qint64 wallClockNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A file written twice within one tick of its clock keeps its times (and, if the size is the
// same, its whole stamp): a stamp is trusted only once the file had been left alone that long
// when it was read. FAT's tick is two seconds.
constexpr qint64 kStampTickNs = 2'000'000'000;

bool stillCurrent(const DecodedCatalogue& catalogue, const QString& path) {
  if (catalogue.path != path) return false;
  const platform::FileStamp& s = catalogue.stamp;
  if (s.modifiedNs + kStampTickNs > catalogue.readStartedNs) return false;
  const auto now = platform::regularFileStamp(path);
  return now && *now == s;
}

std::shared_ptr<DecodedCatalogue> decode(const QString& path, const QByteArray& bytes) {
  auto catalogue = std::make_shared<DecodedCatalogue>();
  catalogue->path = path;
  catalogue->text = decodeFileText(bytes);
  catalogue->utf8 = isUtf8Text(bytes);
  const QString section = QString::fromUtf16(SceneCatalogue::kSection);
  // As ReadIniKey reads it: the first [DMX] section only, the first entry of a name wins.
  bool inSection = false;
  bool sectionSeen = false;
  for (const QStringView raw : textLines(catalogue->text)) {
    const IniLine line(raw);
    if (line.isSection()) {
      if (inSection) break;
      inSection = !sectionSeen && sameIniName(line.sectionName(), section);
      if (inSection) sectionSeen = true;
    } else if (inSection && line.isEntry() && !line.key().isEmpty()) {
      QString key = foldedName(line.key());
      if (!catalogue->entryLines.contains(key))
        catalogue->entryLines.insert(std::move(key),
                                     {raw.data() - catalogue->text.constData(), raw.size()});
    }
  }
  return catalogue;
}

std::mutex cacheMutex;
std::shared_ptr<const DecodedCatalogue> cache;
std::atomic<int> reads{0};

}  // namespace

SceneCatalogue::SceneCatalogue(QString programFolder) : folder_(std::move(programFolder)) {}

QString SceneCatalogue::path() const { return folder_ + u'/' + QString::fromUtf16(kFileName); }

int SceneCatalogue::fileReads() { return reads.load(); }

bool sameSceneName(QStringView a, QStringView b) {
  return foldedName(trimIniName(a)) == foldedName(trimIniName(b));
}

QString SceneCatalogue::lookup(const QString& name, FileRead::Failure* failure) const {
  const QString file = path();
  if (failure != nullptr) *failure = FileRead::Failure::None;
  std::shared_ptr<const DecodedCatalogue> catalogue;
  {
    const std::lock_guard lock(cacheMutex);
    if (!cache || !stillCurrent(*cache, file)) {
      cache.reset();
      const qint64 started = wallClockNs();
      ++reads;
      FileRead read = readSmallFile(file, kMaxFileBytes, lcScene());
      if (!read) {
        qCDebug(lcScene) << "scene" << name << "not looked up: the catalogue is"
                         << describeFailure(read.failure);
        if (failure != nullptr) *failure = read.failure;
        return QString();
      }
      auto decoded = decode(file, read.bytes);
      decoded->stamp = read.stamp;
      decoded->readStartedNs = started;
      cache = std::move(decoded);
    }
    catalogue = cache;
  }
  QString entry;
  if (const auto it = catalogue->entryLines.constFind(foldedName(trimIniName(name)));
      it != catalogue->entryLines.constEnd()) {
    const QStringView line = QStringView(catalogue->text).mid(it->first, it->second);
    entry = cutIniValue(IniLine(line).value(), catalogue->utf8);
  }
  qCDebug(lcScene) << "scene" << name
                   << "looked up:" << (entry.isEmpty() ? QStringLiteral("no entry") : entry);
  return entry;
}

CatalogueEntries SceneCatalogue::entries() const {
  CatalogueEntries result;
  const FileRead file = readSmallFile(path(), kMaxFileBytes, lcScene());
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

QStringList sceneNames(const CatalogueEntries& entries) {
  const QString descriptionSuffix = QStringLiteral("说明");
  QStringList names;
  QString previousKey;
  for (const CatalogueLine& line : entries.lines) {
    if (!line.hasName) continue;
    // A description entry directly after its scene gets no launcher.
    if (line.name != previousKey + descriptionSuffix) names.append(line.name);
    previousKey = line.name;
  }
  return names;
}

}  // namespace luvrin
