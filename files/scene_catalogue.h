#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "program_file.h"

namespace luvrin {

// One line of the catalogue as the launcher builder reads it: sections and comments mean
// nothing to it, every line with "=" names something.
struct CatalogueLine {
  QString text;  // as written, without its line end
  bool hasName = false;
  QString name;  // the text before the first "=", exactly as written: no trimming, no unquoting
};

struct CatalogueEntries {
  FileRead::Failure failure = FileRead::Failure::None;
  QList<CatalogueLine> lines;
};

// Whether two names find the same entry in a lookup: trimmed, letters A-Z in either case.
bool sameSceneName(QStringView a, QStringView b);

// The scene catalogue "场景.ini" of the program folder.
class SceneCatalogue {
 public:
  static constexpr const char16_t* kFileName = u"场景.ini";
  static constexpr const char16_t* kSection = u"DMX";
  // A catalogue is written by hand; anything larger is not one, and would make a launcher for
  // every line of it. Both the lookup and the builder refuse it.
  static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

  explicit SceneCatalogue(QString programFolder);

  QString path() const;
  // The entry of a launcher name, read as the driver reads it: key of section "DMX", names
  // without regard to letter case, the value trimmed, unquoted and cut like any INI value. ""
  // for no such entry and for a missing or refused catalogue. The decoded catalogue is kept
  // (the last one looked up, whatever object asked) and read again only when the file changed,
  // so a scene change does not read and decode megabytes on the window's thread.
  // failure, when given, tells why a catalogue was not read (None when it was).
  QString lookup(const QString& name, FileRead::Failure* failure = nullptr) const;
  // How many times lookups have read a catalogue from the disk.
  static int fileReads();
  // Every line of the catalogue in file order, for the launcher builder.
  CatalogueEntries entries() const;

 private:
  QString folder_;
};

// The scenes of the catalogue that get a launcher, in file order: every named line but a
// description entry ("<scene>说明") right after its scene.
QStringList sceneNames(const CatalogueEntries& entries);

}  // namespace luvrin
