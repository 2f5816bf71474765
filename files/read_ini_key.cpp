#include "read_ini_key.h"

#include "codepage.h"
#include "ini_text.h"
#include "program_file.h"

namespace luvrin {

QString readIniKeyFromBytes(const QByteArray& bytes, const QString& section, const QString& key) {
  const QString text = decodeFileText(bytes);
  const QStringView wantedSection = trimIniName(section);
  const QStringView wantedKey = trimIniName(key);
  // An empty name would match a line such as "=DMX123,": no launcher is called that.
  if (wantedSection.isEmpty() || wantedKey.isEmpty()) return QString();
  bool inSection = false;
  bool sectionSeen = false;
  for (const QStringView raw : textLines(text)) {
    const IniLine line(raw);
    if (line.isSection()) {
      // The first section of that name is the one that counts.
      if (inSection) return QString();
      inSection = !sectionSeen && sameIniName(line.sectionName(), wantedSection);
      if (inSection) sectionSeen = true;
    } else if (inSection && line.isEntry() && sameIniName(line.key(), wantedKey)) {
      return cutIniValue(line.value(), isUtf8Text(bytes));
    }
  }
  return QString();
}

QString ReadIniKey(const QString& path, const QString& section, const QString& key) {
  const FileRead file = readSmallFile(path, kMaxIniFileBytes);
  if (!file) return QString();
  return readIniKeyFromBytes(file.bytes, section, key);
}

}  // namespace luvrin
