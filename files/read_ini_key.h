#pragma once

#include <QByteArray>
#include <QString>

namespace luvrin {

// Reads one key of an INI file: section and key matched without regard to ASCII letter case,
// the first match wins, only blanks (U+0020) trimmed from the value, then one pair of matching
// double or single quotes around it removed, and the result cut to 2047 bytes of the file's
// encoding without splitting a character. A missing file, section or key gives "", and so does
// an empty section or key name, and so does a file that is no regular file of at most
// kMaxIniFileBytes.
inline constexpr qint64 kMaxIniFileBytes = 16 * 1024 * 1024;
QString ReadIniKey(const QString& path, const QString& section, const QString& key);
// The same on bytes already read (GBK, or UTF-8 with a mark or valid non-ASCII).
QString readIniKeyFromBytes(const QByteArray& bytes, const QString& section, const QString& key);

}  // namespace luvrin
